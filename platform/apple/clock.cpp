#include "platform/apple/apple_platform.hpp"
#include "platform/apple/foundation.hpp"

namespace tidingsbell::apple {

namespace {

constexpr NSUInteger kNSCalendarUnitMinute = 1UL << 6;
constexpr NSUInteger kNoCalendarOptions = 0;  // in particular no NSCalendarWrapComponents

}  // namespace

platform::Date Clock::now() {
  return dateFrom(send("NSDate"_cls, "date"_sel));
}

std::optional<platform::Date> Clock::oneMinuteBefore(platform::Date date) {
  id calendar = send("NSCalendar"_cls, "currentCalendar"_sel);
  id earlier = send<id, NSUInteger, NSInteger, id, NSUInteger>(
      calendar, "dateByAddingUnit:value:toDate:options:"_sel, kNSCalendarUnitMinute, -1,
      makeDate(date), kNoCalendarOptions);
  if (earlier == nullptr) return std::nullopt;
  return dateFrom(earlier);
}

}  // namespace tidingsbell::apple
