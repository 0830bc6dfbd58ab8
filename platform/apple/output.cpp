#include <cstdio>

#include "platform/apple/apple_platform.hpp"

// Foundation's log function, declared in an Objective-C header; NSString arguments are ids.
extern "C" void NSLog(id format, ...);

namespace tidingsbell::apple {

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
