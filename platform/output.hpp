#pragma once
// The two text sinks the system writes to: standard output and the system log.

#include <string_view>

namespace tidingsbell::platform {

class StandardOutput {
 public:
  virtual ~StandardOutput() = default;
  // Writes the text exactly as given; callers add their own line feed.
  virtual void write(std::string_view text) = 0;
};

class SystemLog {
 public:
  virtual ~SystemLog() = default;
  // One log message, written verbatim: never read as a format.
  virtual void log(std::string_view message) = 0;
};

}  // namespace tidingsbell::platform
