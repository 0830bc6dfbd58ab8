#pragma once
// The stand-in text sinks: standard output, and the system log on standard error.

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/output.hpp"

namespace tidingsbell::standin {

// Writes through one lock so lines from several threads never interleave.
class StandardOutputSink final : public platform::StandardOutput {
 public:
  void write(std::string_view text) override;
};

// The system log on a terminal: standard error, after the platform's line prefix.
class StandardErrorLog final : public platform::SystemLog {
 public:
  explicit StandardErrorLog(std::string processName) : processName_(std::move(processName)) {}
  void log(std::string_view message) override;

 private:
  std::string processName_;
};

// A line to standard output or error without interleaving with other writers.
void writeLocked(std::FILE* stream, std::string_view text);

}  // namespace tidingsbell::standin
