#pragma once
// CoreFoundation as far as the macOS layer reaches it outside the keychain: the type check that
// tells a boolean number from the others, and constant strings.

#include <objc/runtime.h>

using CFTypeRef = const void*;
using CFTypeID = unsigned long;
using CFStringRef = const struct __CFString*;

extern "C" CFTypeID CFGetTypeID(CFTypeRef object);
extern "C" CFTypeID CFBooleanGetTypeID(void);
extern "C" CFStringRef tidingsbell_constantString(const char* text);
#define CFSTR(text) tidingsbell_constantString("" text "")
// Declared for the owning reference of objc.hpp; nothing run here releases a CoreFoundation object.
extern "C" void CFRelease(CFTypeRef object);
