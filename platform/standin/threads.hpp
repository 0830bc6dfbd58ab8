#pragma once
// The stand-in main thread and global dispatch queue.

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/threads.hpp"

namespace tidingsbell::standin {

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

}  // namespace tidingsbell::standin
