#pragma once
// The simple stand-ins: clock, URL parser, output sinks, main-thread check, dispatch queue.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/clock.hpp"
#include "platform/output.hpp"
#include "platform/threads.hpp"
#include "platform/url.hpp"

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

// Parses with libcurl's URL parser; absolute URLs only, as the platform's parser needs a scheme
// to give an absolute address.
class CurlUrlParser final : public platform::UrlParser {
 public:
  std::optional<platform::Url> urlWithString(std::string_view text) override;
};

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

// The thread that made it is the main thread.
class CreatorThreadIsMain final : public platform::MainThread {
 public:
  [[nodiscard]] bool isMainThread() const override { return std::this_thread::get_id() == main_; }

 private:
  std::thread::id main_ = std::this_thread::get_id();
};

// A global concurrent queue: each work item on a thread of its own. `waitIdle` waits for all
// work handed to it so far.
class ThreadDispatchQueue final : public platform::DispatchQueue {
 public:
  ThreadDispatchQueue() = default;
  ThreadDispatchQueue(const ThreadDispatchQueue&) = delete;
  ThreadDispatchQueue& operator=(const ThreadDispatchQueue&) = delete;
  ~ThreadDispatchQueue() override;
  void async(Callback<void()> work) override;
  void waitIdle();

 private:
  std::mutex mutex_;
  std::condition_variable idle_;
  int running_ = 0;
};

// A line to standard output or error without interleaving with other writers.
void writeLocked(std::FILE* stream, std::string_view text);

}  // namespace tidingsbell::standin
