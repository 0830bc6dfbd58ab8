#include "platform/standin/clock.hpp"

#include <chrono>

namespace tidingsbell::standin {

platform::Date OffsetClock::now() {
  return platform::Date(std::chrono::duration_cast<platform::Seconds>(
                            std::chrono::system_clock::now().time_since_epoch()) +
                        platform::Seconds(offsetSeconds_.load()));
}

std::optional<platform::Date> OffsetClock::oneMinuteBefore(platform::Date date) {
  return date - platform::Seconds(60.0);
}

void OffsetClock::advance(platform::Seconds seconds) {
  double current = offsetSeconds_.load();
  while (!offsetSeconds_.compare_exchange_weak(current, current + seconds.count())) {
  }
}

}  // namespace tidingsbell::standin
