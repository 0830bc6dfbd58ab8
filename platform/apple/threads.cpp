#include <dispatch/dispatch.h>
#include <pthread.h>

#include "platform/apple/apple_platform.hpp"

namespace tidingsbell::apple {

bool MainThread::isMainThread() const {
  return pthread_main_np() != 0;
}

void UserInitiatedQueue::async(Callback<void()> work) {
  auto held = std::make_shared<Callback<void()>>(std::move(work));
  dispatch_async(dispatch_get_global_queue(QOS_CLASS_USER_INITIATED, 0), ^{
    const AutoreleasePool pool;
    (*held)();
  });
}

}  // namespace tidingsbell::apple
