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

void UserDefaults::setObject(const platform::PropertyListValue& value, std::string_view key) {
  const Owned name = makeString(key);
  id object = nullptr;
  Owned text;
  if (const auto* date = std::get_if<platform::Date>(&value)) {
    object = makeDate(*date);
  } else if (const auto* string = std::get_if<std::string>(&value)) {
    text = makeString(*string);
    object = text.get();
  } else if (const auto* number = std::get_if<std::int64_t>(&value)) {
    object = send<id, long long>("NSNumber"_cls, "numberWithLongLong:"_sel, *number);
  }
  if (object == nullptr) return;
  send<void, id, id>(standardUserDefaults(), "setObject:forKey:"_sel, object, name.get());
}

}  // namespace tidingsbell::apple
