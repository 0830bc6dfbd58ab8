#pragma once
// Typed message sends and ownership helpers over the Objective-C runtime's C interface. Every
// send casts objc_msgSend to the method's exact function type; it is never called variadically.
// Ownership follows the Cocoa rules: what alloc/new/copy return is owned and released here;
// anything else is retained only when it is kept.

#include <Block.h>
#include <CoreFoundation/CoreFoundation.h>
#include <objc/message.h>
#include <objc/runtime.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

// Exported by libobjc as part of clang's documented ARC runtime ABI, declared in no public header.
extern "C" id objc_loadWeakRetained(id* location);
extern "C" void objc_destroyWeak(id* location);
extern "C" void* objc_autoreleasePoolPush(void);
extern "C" void objc_autoreleasePoolPop(void* pool);
extern "C" id objc_autorelease(id object);

namespace tidingsbell::apple {

using NSUInteger = unsigned long;
using NSInteger = long;
inline constexpr NSUInteger kNSUTF8StringEncoding = 4;

inline SEL sel(const char* name) {
  return sel_registerName(name);
}
inline Class cls(const char* name) {
  return objc_getClass(name);
}

template <typename R = id, typename... Args>
inline R send(id receiver, const char* selector, Args... args) {
  using Method = R (*)(id, SEL, Args...);
  return reinterpret_cast<Method>(&objc_msgSend)(receiver, sel(selector), args...);
}

template <typename R = id, typename... Args>
inline R send(Class receiver, const char* selector, Args... args) {
  return send<R, Args...>(reinterpret_cast<id>(receiver), selector, args...);
}

// A message to the implementation in `superclass`, the registered class's own superclass.
template <typename R = id, typename... Args>
inline R sendSuper(id receiver, Class superclass, const char* selector, Args... args) {
  objc_super super{receiver, superclass};
  using Method = R (*)(objc_super*, SEL, Args...);
  return reinterpret_cast<Method>(&objc_msgSendSuper)(&super, sel(selector), args...);
}

inline id asId(CFTypeRef object) {
  return reinterpret_cast<id>(const_cast<void*>(object));
}
inline CFTypeRef asCF(id object) {
  return reinterpret_cast<CFTypeRef>(object);
}

inline bool isKindOf(id object, const char* className) {
  return object != nullptr && send<BOOL>(object, "isKindOfClass:", cls(className)) != NO;
}

// An owned object reference, released when it goes.
class Owned {
 public:
  Owned() = default;
  explicit Owned(id object) : object_(object) {}  // takes over one reference
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Owned& operator=(Owned&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~Owned() {
    if (object_ != nullptr) send<void>(object_, "release");
  }
  [[nodiscard]] id get() const { return object_; }

 private:
  id object_ = nullptr;
};

// A new NSString holding exactly these UTF-8 bytes (nil when they are not UTF-8).
inline Owned makeString(std::string_view text) {
  id allocated = send(cls("NSString"), "alloc");
  return Owned(send<id, const void*, NSUInteger, NSUInteger>(
      allocated, "initWithBytes:length:encoding:", text.data(), text.size(),
      kNSUTF8StringEncoding));
}

// An NSString's UTF-8 bytes, embedded NULs included; none for nil or for text that has no
// UTF-8 form.
inline std::optional<std::string> toString(id string) {
  if (string == nullptr) return std::nullopt;
  id data = send<id, NSUInteger>(string, "dataUsingEncoding:", kNSUTF8StringEncoding);
  if (data == nullptr) return std::nullopt;
  const auto* bytes = send<const void*>(data, "bytes");
  const auto length = send<NSUInteger>(data, "length");
  return std::string(static_cast<const char*>(bytes), length);
}

// Drains what the calls inside it autoreleased, on threads that have no pool of their own.
class AutoreleasePool {
 public:
  AutoreleasePool() : pool_(objc_autoreleasePoolPush()) {}
  AutoreleasePool(const AutoreleasePool&) = delete;
  AutoreleasePool& operator=(const AutoreleasePool&) = delete;
  ~AutoreleasePool() { objc_autoreleasePoolPop(pool_); }

 private:
  void* pool_;
};

// A block received from the platform, copied on entry and released when this goes: the C++
// form of holding a copied block.
template <typename Block>
class HeldBlock {
 public:
  // Copying or releasing a null block does nothing, as the runtime defines it.
  explicit HeldBlock(Block block) : block_(Block_copy(block)) {}
  HeldBlock(const HeldBlock&) = delete;
  HeldBlock& operator=(const HeldBlock&) = delete;
  HeldBlock(HeldBlock&& other) noexcept : block_(other.block_) { other.block_ = Block(); }
  HeldBlock& operator=(HeldBlock&&) = delete;
  ~HeldBlock() { Block_release(block_); }
  [[nodiscard]] Block get() const { return block_; }
  [[nodiscard]] explicit operator bool() const { return static_cast<bool>(block_); }

 private:
  Block block_;
};

}  // namespace tidingsbell::apple
