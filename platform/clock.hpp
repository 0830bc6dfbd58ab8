#pragma once
// The current time and the user's calendar, which may refuse to give a date.

#include <optional>

#include "platform/date.hpp"

namespace tidingsbell::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Date now() = 0;
  // The date one calendar minute before `date`, without wrapping of components.
  virtual std::optional<Date> oneMinuteBefore(Date date) = 0;
};

}  // namespace tidingsbell::platform
