#pragma once
// What the keychain's search (keychain.cpp) and its writer (keychain_writer.cpp) share.

#include <CoreFoundation/CoreFoundation.h>

#include "platform/apple/objc.hpp"
#include "platform/keychain.hpp"

namespace tidingsbell::apple {

// The query as a SecItem dictionary; anything but errSecSuccess: not to be run.
platform::OSStatus makeKeychainDictionary(const platform::KeychainQuery& query,
                                          OwnedCF<CFMutableDictionaryRef>& made);

}  // namespace tidingsbell::apple
