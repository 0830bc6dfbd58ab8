#include "platform/apple/apple_platform.hpp"
#include "platform/apple/foundation.hpp"

namespace tidingsbell::apple {

namespace {

id standardUserDefaults() {
  return send("NSUserDefaults"_cls, "standardUserDefaults"_sel);
}

}  // namespace

std::optional<platform::PropertyListValue> UserDefaults::objectForKey(std::string_view key) {
  const Owned name = makeString(key);
  id object = send<id, id>(standardUserDefaults(), "objectForKey:"_sel, name.get());
  if (object == nullptr) return std::nullopt;
  if (isKindOf(object, "NSDate"_cls)) return dateFrom(object);
  if (isKindOf(object, "NSString"_cls)) {
    if (auto text = toString(object)) return *text;
  }
  if (isKindOf(object, "NSNumber"_cls))
    return std::int64_t{send<long long>(object, "longLongValue"_sel)};
  return platform::OtherPropertyListObject{};
}

void UserDefaults::setObject(platform::Date value, std::string_view key) {
  const Owned name = makeString(key);
  id object = makeDate(value);
  if (object == nullptr) return;
  send<void, id, id>(standardUserDefaults(), "setObject:forKey:"_sel, object, name.get());
}

}  // namespace tidingsbell::apple
