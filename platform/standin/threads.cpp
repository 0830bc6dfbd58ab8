#include "platform/standin/threads.hpp"

namespace tidingsbell::standin {

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
