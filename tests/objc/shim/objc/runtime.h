#pragma once
// GNUstep's runtime.h. Its objc_getClass returns id where Apple's returns Class; its
// objc_lookUpClass finds the same classes and returns Class.
#include_next <objc/runtime.h>

inline Class tidingsbell_getClass(const char* name) {
  return objc_lookUpClass(name);
}
#define objc_getClass(name) tidingsbell_getClass(name)

// Declared by Apple's runtime.h; GNUstep declares it in objc-arc.h.
extern "C" id objc_storeWeak(id* location, id object);
