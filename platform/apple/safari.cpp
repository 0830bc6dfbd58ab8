#include "platform/apple/apple_platform.hpp"
#include "platform/apple/foundation.hpp"

namespace tidingsbell::apple {
namespace {

std::optional<std::string> absoluteString(id url) {
  if (url == nullptr) return std::nullopt;
  return toString(send(url, "absoluteString"_sel));
}

platform::UserInfoValue describe(id value) {
  if (isKindOf(value, "NSString"_cls)) return toString(value).value_or(std::string());
  if (isKindOf(value, "NSNull"_cls)) return platform::UserInfoNull{};
  if (isKindOf(value, "NSNumber"_cls)) {
    if (CFGetTypeID(asCF(value)) == CFBooleanGetTypeID())
      return send<BOOL>(value, "boolValue"_sel) != NO;
    return platform::UserInfoNumber{
        toString(send(value, "stringValue"_sel)).value_or(std::string())};
  }
  // Serializing a collection JSON cannot express raises an exception, which would end the
  // extension; such a collection is described like any other value instead.
  if ((isKindOf(value, "NSArray"_cls) || isKindOf(value, "NSDictionary"_cls)) &&
      send<BOOL, id>("NSJSONSerialization"_cls, "isValidJSONObject:"_sel, value) != NO) {
    id error = nullptr;
    id json = send<id, id, NSUInteger, id*>(
        "NSJSONSerialization"_cls, "dataWithJSONObject:options:error:"_sel, value, 0, &error);
    if (json != nullptr) {
      const auto* bytes = static_cast<const char*>(send<const void*>(json, "bytes"_sel));
      return platform::UserInfoCompound{std::string(bytes, send<NSUInteger>(json, "length"_sel))};
    }
  }
  return toString(send(value, "description"_sel)).value_or(std::string());
}

}  // namespace

std::optional<platform::UserInfo> userInfoFrom(id dictionary) {
  if (dictionary == nullptr) return std::nullopt;
  platform::UserInfo entries;
  id keys = send(dictionary, "allKeys"_sel);
  const auto count = send<NSUInteger>(keys, "count"_sel);
  for (NSUInteger i = 0; i < count; ++i) {
    id key = send<id, NSUInteger>(keys, "objectAtIndex:"_sel, i);
    id value = send<id, id>(dictionary, "objectForKey:"_sel, key);
    entries.emplace_back(toString(send(key, "description"_sel)).value_or(std::string()),
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
  send<void, id, BOOL, void (^)(id)>(window_,
                                     "openTabWithURL:makeActiveIfPossible:completionHandler:"_sel,
                                     makeUrl(url), makeActiveIfPossible ? YES : NO, handler);
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
      if (auto url = absoluteString(send(properties, "url"_sel))) {
        delivered->url = platform::Url{std::move(*url)};
      }
    }
    (*held)(std::move(delivered));
  };
  send<void, void (^)(id)>(page_, "getPagePropertiesWithCompletionHandler:"_sel, handler);
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
          platform::PlatformError{toString(send(error, "description"_sel)).value_or(std::string())};
    }
    (*held)(std::move(failure));
  };
  const Owned name = makeString(identifier);
  send<void, id, void (^)(id)>("SFSafariApplication"_cls,
                               "showPreferencesForExtensionWithIdentifier:completionHandler:"_sel,
                               name.get(), handler);
}

}  // namespace tidingsbell::apple
