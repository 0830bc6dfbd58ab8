#pragma once
// Linux's pthread.h, and the one Darwin extension the macOS layer calls.
#include_next <pthread.h>

extern "C" int pthread_main_np(void);
