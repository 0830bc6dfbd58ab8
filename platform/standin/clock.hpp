#pragma once
// The stand-in clock.

#include <atomic>

#include "platform/clock.hpp"

namespace tidingsbell::standin {

// The real clock plus an offset that a stand-in host may move, as if the user set the clock.
class OffsetClock final : public platform::Clock {
 public:
  platform::Date now() override;
  std::optional<platform::Date> oneMinuteBefore(platform::Date date) override;
  void advance(platform::Seconds seconds);

 private:
  std::atomic<double> offsetSeconds_{0.0};
};

}  // namespace tidingsbell::standin
