#include "platform/apple/apple_platform.hpp"
#include "platform/apple/foundation.hpp"

namespace tidingsbell::apple {

bool Workspace::openURLs(const std::vector<platform::Url>& urls, std::string_view bundleIdentifier,
                         std::uint64_t options) {
  id list = send(cls("NSMutableArray"), "array");
  for (const auto& url : urls) {
    if (id real = makeUrl(url)) send<void, id>(list, "addObject:", real);
  }
  const Owned application = makeString(bundleIdentifier);
  id workspace = send(cls("NSWorkspace"), "sharedWorkspace");
  return send<BOOL, id, id, NSUInteger, id, id*>(
             workspace,
             "openURLs:withAppBundleIdentifier:options:additionalEventParamDescriptor:"
             "launchIdentifiers:",
             list, application.get(), static_cast<NSUInteger>(options), nullptr, nullptr) != NO;
}

}  // namespace tidingsbell::apple
