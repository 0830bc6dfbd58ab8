#include "platform/standin/output.hpp"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <mutex>

namespace tidingsbell::standin {

namespace {

std::mutex& streamMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

void writeLocked(std::FILE* stream, std::string_view text) {
  const std::lock_guard lock(streamMutex());
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

void StandardOutputSink::write(std::string_view text) {
  writeLocked(stdout, text);
}

void StandardErrorLog::log(std::string_view message) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char prefix[128];
  std::snprintf(prefix, sizeof prefix, "%04d-%02d-%02d %02d:%02d:%02d.%03lld %s[%d:%ld] ",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<long long>(millis), processName_.c_str(),
                static_cast<int>(getpid()), static_cast<long>(syscall(SYS_gettid)));
  std::string line = prefix;
  line.append(message);
  line += '\n';
  writeLocked(stderr, line);
}

}  // namespace tidingsbell::standin
