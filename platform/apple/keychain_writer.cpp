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

platform::OSStatus Keychain::deleteItem(const platform::KeychainQuery& query) {
  Dictionary dictionary;
  if (const OSStatus made = makeKeychainDictionary(query, dictionary); made != errSecSuccess)
    return made;
  return SecItemDelete(dictionary.get());
}

platform::OSStatus Keychain::add(const platform::KeychainQuery& attributes) {
  Dictionary dictionary;
  if (const OSStatus made = makeKeychainDictionary(attributes, dictionary); made != errSecSuccess) {
    return made;
  }
  return SecItemAdd(dictionary.get(), nullptr);
}

}  // namespace tidingsbell::apple
