#pragma once
// Keychain services as far as the settings keychain reaches them, declared as MacOSX.sdk's
// SecItem.h and SecBase.h declare them; shims.cpp keeps the items in memory.

#include <CoreFoundation/CoreFoundation.h>

using OSStatus = int;
enum : OSStatus {
  errSecSuccess = 0,
  errSecParam = -50,
  errSecAllocate = -108,
  errSecDuplicateItem = -25299,
  errSecItemNotFound = -25300
};

extern "C" {
extern const CFStringRef kSecClass;
extern const CFStringRef kSecClassGenericPassword;
extern const CFStringRef kSecAttrService;
extern const CFStringRef kSecAttrAccount;
extern const CFStringRef kSecReturnData;
extern const CFStringRef kSecMatchLimit;
extern const CFStringRef kSecMatchLimitOne;
extern const CFStringRef kSecValueData;
extern const CFStringRef kSecUseDataProtectionKeychain;

OSStatus SecItemCopyMatching(CFDictionaryRef query, CFTypeRef* result);
OSStatus SecItemAdd(CFDictionaryRef attributes, CFTypeRef* result);
OSStatus SecItemUpdate(CFDictionaryRef query, CFDictionaryRef attributesToUpdate);
}
