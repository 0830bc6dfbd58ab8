#include "platform/standin/basics.hpp"

#include <curl/curl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>

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

std::optional<platform::Url> CurlUrlParser::urlWithString(std::string_view text) {
  CURLU* url = curl_url();
  if (url == nullptr) return std::nullopt;
  std::optional<platform::Url> parsed;
  const std::string owned(text);
  if (curl_url_set(url, CURLUPART_URL, owned.c_str(), 0) == CURLUE_OK) {
    char* full = nullptr;
    if (curl_url_get(url, CURLUPART_URL, &full, 0) == CURLUE_OK) {
      parsed = platform::Url{full};
      curl_free(full);
    }
  }
  curl_url_cleanup(url);
  return parsed;
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

ThreadDispatchQueue::~ThreadDispatchQueue() {
  waitIdle();
}

void ThreadDispatchQueue::async(Callback<void()> work) {
  {
    const std::lock_guard lock(mutex_);
    ++running_;
  }
  std::thread([this, work = std::move(work)]() mutable {
    work();
    work = {};
    const std::lock_guard lock(mutex_);
    --running_;
    idle_.notify_all();  // under the lock: the queue cannot be destroyed before this returns
  }).detach();
}

void ThreadDispatchQueue::waitIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return running_ == 0; });
}

}  // namespace tidingsbell::standin
