#include <cstdio>
#include <cstdlib>

#include "platform/threads.hpp"

namespace tidingsbell::platform {

void requireMainThread(const MainThread& mainThread, const char* entry) {
  if (mainThread.isMainThread()) return;
  std::fprintf(stderr, "Tidingsbell: %s must be called on the main thread; stopping.\n", entry);
  std::fflush(stderr);
  std::abort();
}

}  // namespace tidingsbell::platform
