#pragma once
// The threads that serve the sessions' callback queues. As on the platform, where a serial queue
// runs on whichever pool thread is free, one thread serves a session's queue from its start to
// its end, and then waits for the next session instead of ending: a thread per session would set
// up libcurl's and OpenSSL's per-thread state afresh for every poll.

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace tidingsbell::standin {

class CallbackThreads {
 public:
  // Starts a thread running its argument; throws std::system_error when it cannot (a process
  // limit, as std::thread does).
  using StartThread = std::function<std::thread(std::function<void()>)>;
  static std::thread startThread(std::function<void()> body);

  explicit CallbackThreads(StartThread start = startThread) : start_(std::move(start)) {}
  CallbackThreads(const CallbackThreads&) = delete;
  CallbackThreads& operator=(const CallbackThreads&) = delete;
  ~CallbackThreads();

  // Runs `work` on an idle thread, or on a new one when none is idle. When no new thread can
  // start, the work waits for a running one to be free; with none running, false: the work is
  // not run, and the caller settles what it stood for.
  bool run(std::function<void()> work);
  // Lets every thread finish its work and joins them all. Threads are joined, never detached: one
  // still running its thread-local destructors (OpenSSL's among them) while the process exits
  // would race OpenSSL's own clean-up at exit.
  void stop();

 private:
  void serve();
  void reap();  // joins the threads that left; call without holding the mutex

  StartThread start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> pending_;
  std::map<std::thread::id, std::thread> threads_;
  std::vector<std::thread::id> left_;
  std::size_t waiting_ = 0;  // threads idle, waiting for work
  bool stopping_ = false;
};

}  // namespace tidingsbell::standin
