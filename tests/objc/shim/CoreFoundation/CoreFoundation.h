#pragma once
// CoreFoundation as far as the macOS layer reaches it, declared as MacOSX.sdk declares it: the
// type check that tells a boolean number or a data object from the others, constant strings, and
// the dictionaries, strings and data of the keychain's queries. Each is bridged toll-free to the
// harness's Foundation stand-ins, so CFRelease is a counted release.

#include <objc/runtime.h>

using CFTypeRef = const void*;
using CFTypeID = unsigned long;
using CFIndex = long;
using UInt8 = unsigned char;
using Boolean = unsigned char;
using CFStringEncoding = unsigned int;
using CFAllocatorRef = const struct __CFAllocator*;
using CFStringRef = const struct __CFString*;
using CFDataRef = const struct __CFData*;
using CFBooleanRef = const struct __CFBoolean*;
using CFDictionaryRef = const struct __CFDictionary*;
using CFMutableDictionaryRef = struct __CFDictionary*;
// Only their addresses are taken: the kCFType callbacks, which retain keys and values.
struct CFDictionaryKeyCallBacks {
  CFIndex version;
};
struct CFDictionaryValueCallBacks {
  CFIndex version;
};
enum : CFStringEncoding { kCFStringEncodingUTF8 = 0x08000100 };

extern "C" {
extern const CFAllocatorRef kCFAllocatorDefault;
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

CFTypeID CFGetTypeID(CFTypeRef cf);
CFTypeID CFBooleanGetTypeID(void);
CFTypeID CFDataGetTypeID(void);
void CFRelease(CFTypeRef cf);
CFStringRef tidingsbell_constantString(const char* text);
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8* bytes, CFIndex length);
CFIndex CFDataGetLength(CFDataRef theData);
const UInt8* CFDataGetBytePtr(CFDataRef theData);
CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks);
void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void* key, const void* value);
}

#define CFSTR(text) tidingsbell_constantString("" text "")
