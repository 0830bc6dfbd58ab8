#include <Security/Security.h>

#include "platform/apple/apple_platform.hpp"

namespace tidingsbell::apple {
namespace {

// A dictionary holding exactly the query's present entries, in the order the query lists them,
// aimed at the data-protection keychain. Without that key macOS uses the file-based keychain,
// which ignores access groups: an item would trust only the executable that saved it, and the
// other would be refused or prompt for it.
CFMutableDictionaryRef makeDictionary(const platform::KeychainQuery& query) {
  CFMutableDictionaryRef dictionary = CFDictionaryCreateMutable(
      kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  auto addText = [dictionary](CFStringRef key, const std::string& text) {
    CFStringRef value =
        CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                                static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false);
    if (value != nullptr) {
      CFDictionarySetValue(dictionary, key, value);
      CFRelease(value);
    }
  };
  if (query.secClass) CFDictionarySetValue(dictionary, kSecClass, kSecClassGenericPassword);
  if (query.service) addText(kSecAttrService, *query.service);
  if (query.account) addText(kSecAttrAccount, *query.account);
  if (query.returnData) {
    CFDictionarySetValue(dictionary, kSecReturnData,
                         *query.returnData ? kCFBooleanTrue : kCFBooleanFalse);
  }
  if (query.matchLimit) CFDictionarySetValue(dictionary, kSecMatchLimit, kSecMatchLimitOne);
  if (query.valueData) {
    CFDataRef data = CFDataCreate(kCFAllocatorDefault, query.valueData->data(),
                                  static_cast<CFIndex>(query.valueData->size()));
    CFDictionarySetValue(dictionary, kSecValueData, data);
    CFRelease(data);
  }
  CFDictionarySetValue(dictionary, kSecUseDataProtectionKeychain, kCFBooleanTrue);
  return dictionary;
}

}  // namespace

platform::OSStatus Keychain::copyMatching(const platform::KeychainQuery& query,
                                          platform::KeychainResult& result) {
  CFMutableDictionaryRef dictionary = makeDictionary(query);
  CFTypeRef found = nullptr;
  const OSStatus status = SecItemCopyMatching(dictionary, &found);
  CFRelease(dictionary);
  result = std::monostate{};
  if (found != nullptr) {
    if (CFGetTypeID(found) == CFDataGetTypeID()) {
      const auto data = static_cast<CFDataRef>(found);
      const UInt8* bytes = CFDataGetBytePtr(data);
      result = platform::Bytes(bytes, bytes + CFDataGetLength(data));
    } else {
      result = platform::NotData{};
    }
    CFRelease(found);
  }
  return status;
}

platform::OSStatus Keychain::deleteItem(const platform::KeychainQuery& query) {
  CFMutableDictionaryRef dictionary = makeDictionary(query);
  const OSStatus status = SecItemDelete(dictionary);
  CFRelease(dictionary);
  return status;
}

platform::OSStatus Keychain::add(const platform::KeychainQuery& attributes) {
  CFMutableDictionaryRef dictionary = makeDictionary(attributes);
  const OSStatus status = SecItemAdd(dictionary, nullptr);
  CFRelease(dictionary);
  return status;
}

}  // namespace tidingsbell::apple
