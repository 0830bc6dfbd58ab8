#include <Security/Security.h>

#include "platform/apple/apple_platform.hpp"
#include "platform/apple/keychain_dictionary.hpp"

namespace tidingsbell::apple {

using Dictionary = OwnedCF<CFMutableDictionaryRef>;

// A dictionary holding exactly the query's present entries, in the order the query lists them,
// aimed at the data-protection keychain. Without that key macOS uses the file-based keychain,
// which ignores access groups: an item would trust only the executable that saved it, and the
// other would be refused or prompt for it.
// A query that cannot be built in full is not run at all (an update without its account would
// match every item of the service): SecBase.h's errSecParam when a text is not UTF-8,
// errSecAllocate when CoreFoundation cannot allocate.
OSStatus makeKeychainDictionary(const platform::KeychainQuery& query, Dictionary& made,
                                Target target) {
  auto dictionary = Dictionary::adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  if (!dictionary) return errSecAllocate;
  auto set = [&dictionary](CFStringRef key, CFTypeRef value) {
    CFDictionarySetValue(dictionary.get(), key, value);
  };
  auto setText = [&set](CFStringRef key, const std::string& text) {
    const auto value = OwnedCF<CFStringRef>::adopt(
        CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                                static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
    if (value) set(key, value.get());
    return static_cast<bool>(value);
  };
  if (query.secClass) set(kSecClass, kSecClassGenericPassword);
  if (query.service && !setText(kSecAttrService, *query.service)) return errSecParam;
  if (query.account && !setText(kSecAttrAccount, *query.account)) return errSecParam;
  if (query.returnData) set(kSecReturnData, *query.returnData ? kCFBooleanTrue : kCFBooleanFalse);
  if (query.matchLimit) set(kSecMatchLimit, kSecMatchLimitOne);
  if (query.valueData) {
    const auto data =
        OwnedCF<CFDataRef>::adopt(CFDataCreate(kCFAllocatorDefault, query.valueData->data(),
                                               static_cast<CFIndex>(query.valueData->size())));
    if (!data) return errSecAllocate;
    set(kSecValueData, data.get());
  }
  if (target == Target::DataProtectionKeychain) set(kSecUseDataProtectionKeychain, kCFBooleanTrue);
  made = std::move(dictionary);
  return errSecSuccess;
}

platform::OSStatus KeychainReader::copyMatching(const platform::KeychainQuery& query,
                                                platform::KeychainResult& result) {
  result = std::monostate{};
  Dictionary dictionary;
  if (const OSStatus made = makeKeychainDictionary(query, dictionary); made != errSecSuccess)
    return made;
  CFTypeRef copied = nullptr;
  const OSStatus status = SecItemCopyMatching(dictionary.get(), &copied);
  if (const auto found = OwnedCF<CFTypeRef>::adopt(copied)) {
    if (CFGetTypeID(found.get()) == CFDataGetTypeID()) {
      const auto data = static_cast<CFDataRef>(found.get());
      const UInt8* bytes = CFDataGetBytePtr(data);
      result = platform::Bytes(bytes, bytes + CFDataGetLength(data));
    } else {
      result = platform::NotData{};
    }
  }
  return status;
}

}  // namespace tidingsbell::apple
