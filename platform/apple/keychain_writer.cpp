// The calls that change the keychain, apart from the search so that the extension, which links
// keychain.cpp alone, holds none of them.
#include <Security/Security.h>

#include "platform/apple/apple_platform.hpp"
#include "platform/apple/keychain_dictionary.hpp"

namespace tidingsbell::apple {

using Dictionary = OwnedCF<CFMutableDictionaryRef>;

platform::OSStatus Keychain::copyMatching(const platform::KeychainQuery& query,
                                          platform::KeychainResult& result) {
  return apple::KeychainReader().copyMatching(query, result);
}

platform::OSStatus Keychain::add(const platform::KeychainQuery& attributes) {
  Dictionary dictionary;
  if (const OSStatus made = makeKeychainDictionary(attributes, dictionary); made != errSecSuccess) {
    return made;
  }
  return SecItemAdd(dictionary.get(), nullptr);
}

// An update changes the stored item's value and the item keeps its access group, so at every
// moment the old value or the new one is stored. The query is the item's class, service and
// account (an update refuses return and match-limit keys); the attributes to update hold real
// attributes only, so they name no keychain.
platform::OSStatus Keychain::update(const platform::KeychainQuery& query,
                                    const platform::KeychainQuery& attributesToUpdate) {
  Dictionary match, changes;
  if (const OSStatus made = makeKeychainDictionary(query, match); made != errSecSuccess) {
    return made;
  }
  if (const OSStatus made = makeKeychainDictionary(attributesToUpdate, changes, Target::None);
      made != errSecSuccess) {
    return made;
  }
  return SecItemUpdate(match.get(), changes.get());
}

}  // namespace tidingsbell::apple
