// The C interfaces the macOS layer calls that have no Linux form, as this harness provides them;
// and the settings keychain, kept in memory (keychain.cpp stays out: see README).

#include <Block.h>
#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdarg>

#include "platform/apple/apple_platform.hpp"
#include "tests/objc/standins.hpp"

using tidingsbell::objc_test::platform;

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

CFTypeID CFGetTypeID(CFTypeRef object) {
  return tidingsbell::objc_test::isBoolean(tidingsbell::apple::asId(object)) ? 21 : 22;
}
CFTypeID CFBooleanGetTypeID(void) {
  return 21;
}
CFStringRef tidingsbell_constantString(const char* text) {
  return reinterpret_cast<CFStringRef>(tidingsbell::objc_test::permanentString(text));
}

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

// Only the fixed format the layer uses: "%@" and one object.
void NSLog(id format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string line = tidingsbell::objc_test::textOf(format);
  if (line == "%@") line = tidingsbell::objc_test::textOf(va_arg(arguments, id));
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

namespace tidingsbell::apple {

// The settings items by account, with the status codes the settings store expects.
platform::OSStatus KeychainReader::copyMatching(const platform::KeychainQuery& query,
                                                platform::KeychainResult& result) {
  return Keychain().copyMatching(query, result);
}

platform::OSStatus Keychain::copyMatching(const platform::KeychainQuery& query,
                                          platform::KeychainResult& result) {
  result = std::monostate{};
  const auto found = objc_test::platform().keychain.find(query.account.value_or(""));
  if (found == objc_test::platform().keychain.end()) return platform::errSecItemNotFound;
  if (query.returnData.value_or(false)) result = found->second;
  return platform::errSecSuccess;
}

platform::OSStatus Keychain::deleteItem(const platform::KeychainQuery& query) {
  return objc_test::platform().keychain.erase(query.account.value_or("")) > 0
             ? platform::errSecSuccess
             : platform::errSecItemNotFound;
}

platform::OSStatus Keychain::add(const platform::KeychainQuery& attributes) {
  const bool added = objc_test::platform()
                         .keychain
                         .emplace(attributes.account.value_or(""),
                                  attributes.valueData.value_or(platform::Bytes{}))
                         .second;
  return added ? platform::errSecSuccess : platform::errSecDuplicateItem;
}

}  // namespace tidingsbell::apple
