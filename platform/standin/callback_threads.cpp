#include "platform/standin/callback_threads.hpp"

#include <system_error>

namespace tidingsbell::standin {
namespace {

// Polls rarely overlap; threads beyond these end once a burst is over.
constexpr std::size_t kMostIdle = 2;

}  // namespace

CallbackThreads::~CallbackThreads() {
  stop();
}

std::thread CallbackThreads::startThread(std::function<void()> body) {
  return std::thread(std::move(body));
}

bool CallbackThreads::run(std::function<void()> work) {
  reap();
  std::function<void()> unrun;  // released after the lock, with whatever it holds
  {
    const std::lock_guard lock(mutex_);
    pending_.push_back(std::move(work));
    if (pending_.size() <= waiting_) {
      wake_.notify_one();
      return true;
    }
    try {
      // Recorded under the lock the thread must take to leave, so it is always found.
      std::thread thread = start_([this] { serve(); });
      const auto id = thread.get_id();
      threads_.emplace(id, std::move(thread));
      return true;
    } catch (const std::system_error&) {
      // A running thread takes the work once it is free; those that left serve nothing.
      if (threads_.size() > left_.size()) return true;
      unrun = std::move(pending_.back());
      pending_.pop_back();
    }
  }
  return false;
}

void CallbackThreads::serve() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++waiting_;
    wake_.wait(lock, [this] { return !pending_.empty() || stopping_; });
    --waiting_;
    if (pending_.empty()) return;
    std::function<void()> work = std::move(pending_.front());
    pending_.pop_front();
    lock.unlock();
    work();
    work = nullptr;  // what the work holds is released on this thread, before it waits again
    lock.lock();
    if (waiting_ >= kMostIdle && pending_.empty()) {
      left_.push_back(std::this_thread::get_id());
      return;
    }
  }
}

void CallbackThreads::reap() {
  std::vector<std::thread> done;
  {
    const std::lock_guard lock(mutex_);
    for (const auto id : left_) {
      if (auto found = threads_.find(id); found != threads_.end()) {
        done.push_back(std::move(found->second));
        threads_.erase(found);
      }
    }
    left_.clear();
  }
  for (auto& thread : done) thread.join();
}

void CallbackThreads::stop() {
  std::map<std::thread::id, std::thread> threads;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
    threads.swap(threads_);
    left_.clear();
  }
  for (auto& [id, thread] : threads) thread.join();
}

}  // namespace tidingsbell::standin
