#include "platform/apple/apple_platform.hpp"
#include "platform/apple/foundation.hpp"

namespace tidingsbell::apple {
namespace {

std::optional<std::string> absoluteString(id url) {
  if (url == nullptr) return std::nullopt;
  return toString(send(url, "absoluteString"));
}

platform::UserInfoValue describe(id value) {
  if (isKindOf(value, "NSString")) return toString(value).value_or(std::string());
  if (isKindOf(value, "NSNull")) return platform::UserInfoNull{};
  if (isKindOf(value, "NSNumber")) {
    if (CFGetTypeID(asCF(value)) == CFBooleanGetTypeID())
      return send<BOOL>(value, "boolValue") != NO;
    return platform::UserInfoNumber{toString(send(value, "stringValue")).value_or(std::string())};
  }
  // Serializing a collection JSON cannot express raises an exception, which would end the
  // extension; such a collection is described like any other value instead.
  if ((isKindOf(value, "NSArray") || isKindOf(value, "NSDictionary")) &&
      send<BOOL, id>(cls("NSJSONSerialization"), "isValidJSONObject:", value) != NO) {
    id error = nullptr;
    id json = send<id, id, NSUInteger, id*>(cls("NSJSONSerialization"),
                                            "dataWithJSONObject:options:error:", value, 0, &error);
    if (json != nullptr) {
      const auto* bytes = static_cast<const char*>(send<const void*>(json, "bytes"));
      return platform::UserInfoCompound{std::string(bytes, send<NSUInteger>(json, "length"))};
    }
  }
  return toString(send(value, "description")).value_or(std::string());
}

}  // namespace

std::optional<platform::UserInfo> userInfoFrom(id dictionary) {
  if (dictionary == nullptr) return std::nullopt;
  platform::UserInfo entries;
  id keys = send(dictionary, "allKeys");
  const auto count = send<NSUInteger>(keys, "count");
  for (NSUInteger i = 0; i < count; ++i) {
    id key = send<id, NSUInteger>(keys, "objectAtIndex:", i);
    id value = send<id, id>(dictionary, "objectForKey:", key);
    entries.emplace_back(toString(send(key, "description")).value_or(std::string()),
                         describe(value));
  }
  return entries;
}

void SafariWindow::openTab(const platform::Url& url, bool makeActiveIfPossible,
                           Callback<void(std::optional<platform::SafariTab>)> completion) {
  auto held =
      std::make_shared<Callback<void(std::optional<platform::SafariTab>)>>(std::move(completion));
  void (^handler)(id) = ^(id tab) {
    (*held)(tab != nullptr ? std::optional<platform::SafariTab>(platform::SafariTab{})
                           : std::nullopt);
  };
  send<void, id, BOOL, void (^)(id)>(
      window_, "openTabWithURL:makeActiveIfPossible:completionHandler:", makeUrl(url),
      makeActiveIfPossible ? YES : NO, handler);
}

void SafariPage::getPageProperties(
    Callback<void(std::optional<platform::SafariPageProperties>)> completion) {
  auto held = std::make_shared<Callback<void(std::optional<platform::SafariPageProperties>)>>(
      std::move(completion));
  void (^handler)(id) = ^(id properties) {
    const AutoreleasePool pool;
    std::optional<platform::SafariPageProperties> delivered;
    if (properties != nullptr) {
      delivered = platform::SafariPageProperties{};
      if (auto url = absoluteString(send(properties, "url"))) {
        delivered->url = platform::Url{std::move(*url)};
      }
    }
    (*held)(std::move(delivered));
  };
  send<void, void (^)(id)>(page_, "getPagePropertiesWithCompletionHandler:", handler);
}

void SafariApplication::showPreferencesForExtension(
    std::string_view identifier,
    Callback<void(std::optional<platform::PlatformError>)> completion) {
  auto held = std::make_shared<Callback<void(std::optional<platform::PlatformError>)>>(
      std::move(completion));
  void (^handler)(id) = ^(id error) {
    const AutoreleasePool pool;
    std::optional<platform::PlatformError> failure;
    if (error != nullptr) {
      failure =
          platform::PlatformError{toString(send(error, "description")).value_or(std::string())};
    }
    (*held)(std::move(failure));
  };
  const Owned name = makeString(identifier);
  send<void, id, void (^)(id)>(
      cls("SFSafariApplication"),
      "showPreferencesForExtensionWithIdentifier:completionHandler:", name.get(), handler);
}

}  // namespace tidingsbell::apple
