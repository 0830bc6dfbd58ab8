#pragma once
// libdispatch's global queues and dispatch_async, as the harness runs them: one thread per item.

#include <cstdint>

using dispatch_queue_t = struct tidingsbell_dispatch_queue*;
using dispatch_block_t = void (^)(void);
enum qos_class_t : unsigned int { QOS_CLASS_USER_INITIATED = 0x19, QOS_CLASS_DEFAULT = 0x15 };

extern "C" dispatch_queue_t dispatch_get_global_queue(intptr_t identifier, uintptr_t flags);
extern "C" void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);
