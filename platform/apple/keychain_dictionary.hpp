#pragma once
// What the keychain's search (keychain.cpp) and its writer (keychain_writer.cpp) share.

#include <CoreFoundation/CoreFoundation.h>

#include "platform/apple/objc.hpp"
#include "platform/keychain.hpp"

namespace tidingsbell::apple {

// Whether the dictionary names the keychain it is meant for: a query and an add do; the
// attributes an update sets must not, since they may hold real attributes only.
enum class Target { DataProtectionKeychain, None };

// The query as a SecItem dictionary; anything but errSecSuccess: not to be run.
platform::OSStatus makeKeychainDictionary(const platform::KeychainQuery& query,
                                          OwnedCF<CFMutableDictionaryRef>& made,
                                          Target target = Target::DataProtectionKeychain);

}  // namespace tidingsbell::apple
