#pragma once
// The main-thread check and the global user-initiated dispatch queue.

#include "platform/callback.hpp"

namespace tidingsbell::platform {

class MainThread {
 public:
  virtual ~MainThread() = default;
  [[nodiscard]] virtual bool isMainThread() const = 0;
};

// Stops the program with a clear message: an entry bound to the main thread was called off it,
// which is a programming error that must never pass silently.
void requireMainThread(const MainThread& mainThread, const char* entry);

class DispatchQueue {
 public:
  virtual ~DispatchQueue() = default;
  virtual void async(Callback<void()> work) = 0;
};

}  // namespace tidingsbell::platform
