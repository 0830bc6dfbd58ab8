#pragma once
// A point in time as the platform's date object holds it: seconds as a double.

#include <chrono>

namespace tidingsbell::platform {

using Seconds = std::chrono::duration<double>;
using Date = std::chrono::time_point<std::chrono::system_clock, Seconds>;

}  // namespace tidingsbell::platform
