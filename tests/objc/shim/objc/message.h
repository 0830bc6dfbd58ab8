#pragma once
// GNUstep's message.h, and Apple's objc_msgSendSuper, which GNUstep does not export: shims.cpp
// defines it over objc_msg_lookup_super, declared as Apple declares it.
#include_next <objc/message.h>

extern "C" void objc_msgSendSuper(void);
