#include "platform/apple/apple_platform.hpp"
#include "platform/apple/foundation.hpp"

namespace tidingsbell::apple {

bool Workspace::openURLs(const std::vector<platform::Url>& urls, std::string_view bundleIdentifier,
                         std::uint64_t options) {
  id list = send("NSMutableArray"_cls, "array"_sel);
  for (const auto& url : urls) {
    if (id real = makeUrl(url)) send<void, id>(list, "addObject:"_sel, real);
  }
  const Owned application = makeString(bundleIdentifier);
  id workspace = send("NSWorkspace"_cls, "sharedWorkspace"_sel);
  return send<BOOL, id, id, NSUInteger, id, id*>(
             workspace,
             "openURLs:withAppBundleIdentifier:options:additionalEventParamDescriptor:"
             "launchIdentifiers:"_sel,
             list, application.get(), static_cast<NSUInteger>(options), nullptr, nullptr) != NO;
}

}  // namespace tidingsbell::apple
