#include <cstdio>

#include "platform/apple/apple_platform.hpp"

// Foundation's log function, declared in an Objective-C header; NSString arguments are ids.
extern "C" void NSLog(id format, ...);

namespace tidingsbell::apple {
namespace {

constexpr NSUInteger kNSCalendarUnitMinute = 1UL << 6;
constexpr NSUInteger kNoCalendarOptions = 0;  // in particular no NSCalendarWrapComponents

platform::Date dateFrom(id date) {
  return platform::Date(platform::Seconds(send<double>(date, "timeIntervalSince1970")));
}

id makeDate(platform::Date date) {  // autoreleased
  return send<id, double>(cls("NSDate"),
                          "dateWithTimeIntervalSince1970:", date.time_since_epoch().count());
}

id standardUserDefaults() {
  return send(cls("NSUserDefaults"), "standardUserDefaults");
}

}  // namespace

std::optional<platform::PropertyListValue> UserDefaults::objectForKey(std::string_view key) {
  const Owned name = makeString(key);
  id object = send<id, id>(standardUserDefaults(), "objectForKey:", name.get());
  if (object == nullptr) return std::nullopt;
  if (isKindOf(object, "NSDate")) return dateFrom(object);
  if (isKindOf(object, "NSString")) {
    if (auto text = toString(object)) return *text;
  }
  if (isKindOf(object, "NSNumber")) return std::int64_t{send<long long>(object, "longLongValue")};
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
    object = send<id, long long>(cls("NSNumber"), "numberWithLongLong:", *number);
  }
  if (object == nullptr) return;
  send<void, id, id>(standardUserDefaults(), "setObject:forKey:", object, name.get());
}

platform::Date Clock::now() {
  return dateFrom(send(cls("NSDate"), "date"));
}

std::optional<platform::Date> Clock::oneMinuteBefore(platform::Date date) {
  id calendar = send(cls("NSCalendar"), "currentCalendar");
  id earlier = send<id, NSUInteger, NSInteger, id, NSUInteger>(
      calendar, "dateByAddingUnit:value:toDate:options:", kNSCalendarUnitMinute, -1, makeDate(date),
      kNoCalendarOptions);
  if (earlier == nullptr) return std::nullopt;
  return dateFrom(earlier);
}

std::optional<platform::Url> UrlParser::urlWithString(std::string_view text) {
  const Owned string = makeString(text);
  if (string.get() == nullptr) return std::nullopt;
  id url = send<id, id>(cls("NSURL"), "URLWithString:", string.get());
  if (url == nullptr) return std::nullopt;
  auto absolute = toString(send(url, "absoluteString"));
  if (!absolute) return std::nullopt;
  return platform::Url{std::move(*absolute)};
}

platform::JsonSummary JsonReader::summarize(const platform::Bytes& data) {
  const AutoreleasePool pool;
  // The bytes are only read during the call, so no copy is made.
  id bytes = send<id, const void*, NSUInteger, BOOL>(
      cls("NSData"),
      "dataWithBytesNoCopy:length:freeWhenDone:", data.empty() ? nullptr : data.data(), data.size(),
      NO);
  id error = nullptr;
  id object = send<id, id, NSUInteger, id*>(cls("NSJSONSerialization"),
                                            "JSONObjectWithData:options:error:", bytes, 0, &error);
  if (object == nullptr) {
    return platform::JsonParseError{
        toString(send(error, "localizedDescription")).value_or(std::string())};
  }
  if (isKindOf(object, "NSArray")) {
    platform::JsonArraySummary summary;
    summary.elementCount = send<NSUInteger>(object, "count");
    for (NSUInteger i = 0; i < summary.elementCount && summary.everyElementIsObject; ++i) {
      id element = send<id, NSUInteger>(object, "objectAtIndex:", i);
      summary.everyElementIsObject = isKindOf(element, "NSDictionary");
    }
    return summary;
  }
  return platform::JsonObjectSummary{send<NSUInteger>(object, "count")};
}

void StandardOutput::write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void SystemLog::log(std::string_view message) {
  const Owned line = makeString(message);
  // The line is the argument of a fixed format, never the format: a % in it stays a %.
  NSLog(asId(CFSTR("%@")), line.get());
}

}  // namespace tidingsbell::apple
