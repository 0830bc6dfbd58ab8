// The C interfaces the macOS layer calls that have no Linux form, as this harness provides them:
// CoreFoundation bridged toll-free to the Foundation stand-ins, and keychain services keeping the
// settings items in memory.

#include <Block.h>
#include <CoreFoundation/CoreFoundation.h>
#include <Security/Security.h>
#include <dispatch/dispatch.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdarg>
#include <map>
#include <set>

#include "platform/apple/apple_platform.hpp"
#include "shared/SettingsStore.hpp"
#include "tests/objc/standins.hpp"

using tidingsbell::apple::asCF;
using tidingsbell::apple::asId;
using tidingsbell::apple::send;
using tidingsbell::objc_test::itemsOf;
using tidingsbell::objc_test::make;
using tidingsbell::objc_test::permanent;
using tidingsbell::objc_test::platform;
using tidingsbell::objc_test::textOf;

// Apple's super send: finds the superclass's implementation, then jumps to it with the receiver
// in place of the objc_super and every other argument register as the caller left it.
#if !defined(__x86_64__)
#error "objc_msgSendSuper is shimmed for x86-64 only"
#endif
asm(R"(
  .text
  .globl objc_msgSendSuper
  .type objc_msgSendSuper, @function
objc_msgSendSuper:
  push %rbp
  mov %rsp, %rbp
  sub $0xc0, %rsp
  mov %rdi, 0x00(%rsp)
  mov %rsi, 0x08(%rsp)
  mov %rdx, 0x10(%rsp)
  mov %rcx, 0x18(%rsp)
  mov %r8, 0x20(%rsp)
  mov %r9, 0x28(%rsp)
  mov %rax, 0x30(%rsp)
  movdqa %xmm0, 0x40(%rsp)
  movdqa %xmm1, 0x50(%rsp)
  movdqa %xmm2, 0x60(%rsp)
  movdqa %xmm3, 0x70(%rsp)
  movdqa %xmm4, 0x80(%rsp)
  movdqa %xmm5, 0x90(%rsp)
  movdqa %xmm6, 0xa0(%rsp)
  movdqa %xmm7, 0xb0(%rsp)
  call objc_msg_lookup_super@PLT
  mov %rax, %r11
  mov 0x00(%rsp), %rdi
  mov (%rdi), %rdi
  mov 0x08(%rsp), %rsi
  mov 0x10(%rsp), %rdx
  mov 0x18(%rsp), %rcx
  mov 0x20(%rsp), %r8
  mov 0x28(%rsp), %r9
  mov 0x30(%rsp), %rax
  movdqa 0x40(%rsp), %xmm0
  movdqa 0x50(%rsp), %xmm1
  movdqa 0x60(%rsp), %xmm2
  movdqa 0x70(%rsp), %xmm3
  movdqa 0x80(%rsp), %xmm4
  movdqa 0x90(%rsp), %xmm5
  movdqa 0xa0(%rsp), %xmm6
  movdqa 0xb0(%rsp), %xmm7
  leave
  jmp *%r11
  .size objc_msgSendSuper, .-objc_msgSendSuper
)");

extern "C" {

// CoreFoundation's type identifiers are assigned at run time; these only need to differ.
CFTypeID CFGetTypeID(CFTypeRef cf) {
  if (tidingsbell::objc_test::isBoolean(asId(cf))) return CFBooleanGetTypeID();
  return tidingsbell::apple::isKindOf(asId(cf), objc_getClass("NSData")) ? CFDataGetTypeID() : 1;
}
CFTypeID CFBooleanGetTypeID(void) {
  return 21;
}
CFTypeID CFDataGetTypeID(void) {
  return 20;
}
CFStringRef tidingsbell_constantString(const char* text) {
  return reinterpret_cast<CFStringRef>(tidingsbell::objc_test::permanentString(text));
}
// On a Mac, releasing NULL crashes.
void CFRelease(CFTypeRef cf) {
  if (cf == nullptr) {
    ADD_FAILURE() << "CFRelease(NULL)";
    return;
  }
  send<void>(asId(cf), "release");
}

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFBooleanRef kCFBooleanTrue = reinterpret_cast<CFBooleanRef>(permanent("__NSCFBoolean", "1"));
const CFBooleanRef kCFBooleanFalse =
    reinterpret_cast<CFBooleanRef>(permanent("__NSCFBoolean", "0"));
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{};

// Strings and data made here are the Foundation stand-ins' objects; the harness's other texts
// are UTF-8, so no other encoding is made.
CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean) {
  if (encoding != kCFStringEncodingUTF8) ADD_FAILURE() << "CFString encoding " << encoding;
  const std::string text(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(numBytes));
  return reinterpret_cast<CFStringRef>(make("NSString", text));
}
CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length) {
  const std::string text(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
  return reinterpret_cast<CFDataRef>(make("NSData", text));
}
CFIndex CFDataGetLength(CFDataRef theData) {
  return static_cast<CFIndex>(send<tidingsbell::apple::NSUInteger>(asId(theData), "length"));
}
const UInt8* CFDataGetBytePtr(CFDataRef theData) {
  return static_cast<const UInt8*>(send<const void*>(asId(theData), "bytes"));
}
// Only the kCFType callbacks, which retain keys and values as the Foundation stand-in does.
CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks) {
  if (keyCallBacks != &kCFTypeDictionaryKeyCallBacks ||
      valueCallBacks != &kCFTypeDictionaryValueCallBacks) {
    ADD_FAILURE() << "a dictionary that does not retain its keys and values";
  }
  return reinterpret_cast<CFMutableDictionaryRef>(make("NSMutableDictionary"));
}
void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void* key, const void* value) {
  send<void, id, id>(asId(theDict), "setObject:forKey:", asId(value), asId(key));
}

// Security's constants; their texts are Apple's, which the layer must not rely on.
const CFStringRef kSecClass = CFSTR("class");
const CFStringRef kSecClassGenericPassword = CFSTR("genp");
const CFStringRef kSecAttrService = CFSTR("svce");
const CFStringRef kSecAttrAccount = CFSTR("acct");
const CFStringRef kSecReturnData = CFSTR("r_Data");
const CFStringRef kSecMatchLimit = CFSTR("m_Limit");
const CFStringRef kSecMatchLimitOne = CFSTR("m_LimitOne");
const CFStringRef kSecValueData = CFSTR("v_Data");
const CFStringRef kSecUseDataProtectionKeychain = CFSTR("nleg");

// UserNotifications' constant; its text is Apple's, which the layer must not rely on.
extern id const UNNotificationDefaultActionIdentifier;
id const UNNotificationDefaultActionIdentifier =
    tidingsbell::objc_test::permanentString("com.apple.UNNotificationDefaultActionIdentifier");

int pthread_main_np(void) {
  return gettid() == getpid() ? 1 : 0;
}

// One global queue per quality-of-service class; none for flags, which are reserved.
static char globalQueues[64];

dispatch_queue_t dispatch_get_global_queue(intptr_t identifier, uintptr_t flags) {
  if (identifier < 0 || identifier >= 64 || flags != 0) return nullptr;
  return reinterpret_cast<dispatch_queue_t>(&globalQueues[identifier]);
}

void dispatch_async(dispatch_queue_t queue, dispatch_block_t block) {
  if (queue == nullptr) FAIL() << "dispatch_async to no queue";
  dispatch_block_t copied = Block_copy(block);
  const std::lock_guard lock(platform().mutex);
  platform().calls.push_back("dispatch_async to QoS class " +
                             std::to_string(reinterpret_cast<char*>(queue) - globalQueues));
  platform().dispatched.emplace_back([copied] {
    copied();
    Block_release(copied);
  });
}

// Only the fixed format the layer uses, "%@" and one object. Any other format fails the test: a
// text passed as the format would have its % sequences read as arguments that were never passed.
void NSLog(id format, ...) {
  if (textOf(format) != "%@") {
    ADD_FAILURE() << "NSLog with the format \"" << textOf(format) << "\"";
    return;
  }
  va_list arguments;
  va_start(arguments, format);
  std::string line = textOf(va_arg(arguments, id));
  va_end(arguments);
  const std::lock_guard lock(platform().mutex);
  platform().logLines.push_back(line);
}

void* tidingsbell_countedBlockCopy(const void* block) {
  if (block != nullptr) {
    const std::lock_guard lock(platform().mutex);
    ++platform().blockCopies;
  }
  return _Block_copy(block);
}
void tidingsbell_countedBlockRelease(const void* block) {
  if (block != nullptr) {
    const std::lock_guard lock(platform().mutex);
    ++platform().blockReleases;
  }
  _Block_release(block);
}

// AppKit's entry point, reached through the application's own main: here it runs the tests.
int NSApplicationMain(int argc, const char* argv[]) {
  testing::InitGoogleTest(&argc, const_cast<char**>(argv));
  return RUN_ALL_TESTS();
}

}  // extern "C"

// Keychain services on the settings' items, as Apple's client library runs them. A query must
// hold exactly the entries the settings store's operation lists, aimed at the data-protection
// keychain: anything else fails the test and is refused.

namespace {

using Entries = std::map<std::string, id>;  // by key text

// The query's entries, when they are exactly these keys with the values the store gives.
std::optional<Entries> entriesOf(const char* function, CFDictionaryRef query,
                                 const std::set<CFStringRef>& keys) {
  Entries entries;
  const std::vector<id> items = itemsOf(asId(query));
  for (std::size_t i = 0; i + 1 < items.size(); i += 2) entries[textOf(items[i])] = items[i + 1];
  std::set<std::string> expected = {textOf(asId(kSecUseDataProtectionKeychain))};
  for (CFStringRef key : keys) expected.insert(textOf(asId(key)));
  std::set<std::string> given;
  for (const auto& [key, value] : entries) given.insert(key);
  const auto is = [&entries](CFStringRef key, CFTypeRef constant) {
    const auto found = entries.find(textOf(asId(key)));
    return found == entries.end() || found->second == asId(constant);
  };
  const auto service = entries.find(textOf(asId(kSecAttrService)));
  if (given != expected || !is(kSecClass, kSecClassGenericPassword) ||
      !is(kSecReturnData, kCFBooleanTrue) || !is(kSecMatchLimit, kSecMatchLimitOne) ||
      !is(kSecUseDataProtectionKeychain, kCFBooleanTrue) || service == entries.end() ||
      textOf(service->second) != tidingsbell::kKeychainService) {
    std::string shown;
    for (const auto& [key, value] : entries) {  // the value data is a secret: its size only
      shown += " " + key + "=" +
               (key == textOf(asId(kSecValueData)) ? std::to_string(textOf(value).size()) + " bytes"
                                                   : textOf(value));
    }
    ADD_FAILURE() << function << " with {" << shown << " }";
    return std::nullopt;
  }
  return entries;
}

std::string accountOf(const Entries& entries) {
  return textOf(entries.at(textOf(asId(kSecAttrAccount))));
}

}  // namespace

extern "C" {

// SecItemCopyMatching drops kSecValueData before matching (SecItemCopyTranslatedAttributes with
// pruneData in Apple's SecItem.cpp), so it never narrows the match by the data; here items are
// matched by account alone.
OSStatus SecItemCopyMatching(CFDictionaryRef query, CFTypeRef* result) {
  const auto entries =
      entriesOf("SecItemCopyMatching", query,
                {kSecClass, kSecAttrService, kSecAttrAccount, kSecReturnData, kSecMatchLimit});
  if (!entries) return errSecParam;
  const auto found = platform().keychain.find(accountOf(*entries));
  if (found == platform().keychain.end()) return errSecItemNotFound;
  const std::string data(found->second.begin(), found->second.end());
  if (result != nullptr) *result = asCF(make("NSData", data));
  return errSecSuccess;
}

// The query names the item (securityd refuses return and match-limit keys in an update); the
// attributes to update hold the value data and nothing else, not even the keychain's name.
OSStatus SecItemUpdate(CFDictionaryRef query, CFDictionaryRef attributesToUpdate) {
  const auto entries =
      entriesOf("SecItemUpdate", query, {kSecClass, kSecAttrService, kSecAttrAccount});
  if (!entries) return errSecParam;
  const std::vector<id> changes = itemsOf(asId(attributesToUpdate));
  if (changes.size() != 2 || textOf(changes[0]) != textOf(asId(kSecValueData))) {
    ADD_FAILURE() << "SecItemUpdate with " << changes.size() / 2 << " attributes to update";
    return errSecParam;
  }
  const auto found = platform().keychain.find(accountOf(*entries));
  if (found == platform().keychain.end()) return errSecItemNotFound;
  const std::string data = textOf(changes[1]);
  found->second.assign(data.begin(), data.end());
  return errSecSuccess;
}

OSStatus SecItemAdd(CFDictionaryRef attributes, CFTypeRef*) {
  const auto entries = entriesOf("SecItemAdd", attributes,
                                 {kSecClass, kSecAttrService, kSecAttrAccount, kSecValueData});
  if (!entries) return errSecParam;
  const std::string data = textOf(entries->at(textOf(asId(kSecValueData))));
  const bool added =
      platform()
          .keychain
          .emplace(accountOf(*entries), std::vector<std::uint8_t>(data.begin(), data.end()))
          .second;
  return added ? errSecSuccess : errSecDuplicateItem;
}

}  // extern "C"
