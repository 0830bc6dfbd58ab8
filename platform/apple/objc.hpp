#pragma once
// The Objective-C runtime's C interface, with the rules a call site could otherwise break kept
// here: argument types are spelled, never deduced (an int passed where the method takes an
// NSInteger would compile and be read wrong); objc_msgSend is cast to the method's exact type and
// never asked for a return it cannot deliver; selectors and classes are looked up once; ownership
// is named where it begins; type encodings come from the C++ function type.

#include <Block.h>
#include <CoreFoundation/CoreFoundation.h>
#include <objc/message.h>
#include <objc/runtime.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
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

// --- Selectors and classes, looked up once ------------------------------------------------------

template <std::size_t N>
struct Literal {
  consteval Literal(const char (&text)[N]) { std::copy_n(text, N, chars); }
  char chars[N];
};

// The first non-nil answer, kept. Two threads may both ask the runtime, and get the same answer.
template <typename T, typename LookUp>
T remembered(std::atomic<T>& kept, LookUp lookUp) {
  T value = kept.load(std::memory_order_acquire);
  if (value == nullptr) {
    value = lookUp();
    if (value != nullptr) kept.store(value, std::memory_order_release);
  }
  return value;
}

// "count"_sel is @selector(count).
template <Literal name>
SEL operator""_sel() {
  static std::atomic<SEL> kept{nullptr};
  return remembered(kept, [] { return sel_registerName(name.chars); });
}

// "NSDate"_cls is [NSDate class]. A class that does not exist yet (registered at run time, or by
// a framework loaded later) is asked for again next time, not remembered as nil.
template <Literal name>
Class operator""_cls() {
  static std::atomic<Class> kept{nullptr};
  return remembered(kept, [] { return objc_getClass(name.chars); });
}

// --- Typed sends --------------------------------------------------------------------------------

// objc_msgSend delivers what the C calling convention returns in registers. On x86-64 a long
// double comes back on the x87 stack (objc_msgSend_fpret) and a struct larger than 16 bytes, or
// one that is not trivially copyable, through memory (objc_msgSend_stret); arm64 needs neither
// variant, but the same code builds for both, so both are refused. double and float are fine.
template <typename R>
constexpr bool returnedInRegisters() {
  if constexpr (std::is_class_v<R> || std::is_union_v<R>) {
    return sizeof(R) <= 16 && std::is_trivially_copyable_v<R>;
  } else {
    return !std::is_same_v<std::remove_cv_t<R>, long double>;
  }
}

// The receiver of a send: an object, or a class for its class methods.
struct Receiver {
  Receiver(id object) : object(object) {}
  Receiver(Class type) : object(reinterpret_cast<id>(type)) {}
  id object;
};

template <typename R = id, typename... Args>
R send(Receiver receiver, SEL selector, std::type_identity_t<Args>... args) {
  static_assert(returnedInRegisters<R>(), "this return needs objc_msgSend_stret or _fpret");
  using Method = R (*)(id, SEL, Args...);
  return reinterpret_cast<Method>(&objc_msgSend)(receiver.object, selector, args...);
}

// A message to the implementation in `superclass`, the registered class's own superclass.
template <typename R = id, typename... Args>
R sendSuper(id receiver, Class superclass, SEL selector, std::type_identity_t<Args>... args) {
  static_assert(returnedInRegisters<R>(), "this return needs objc_msgSendSuper_stret or _fpret");
  objc_super super{receiver, superclass};
  using Method = R (*)(objc_super*, SEL, Args...);
  return reinterpret_cast<Method>(&objc_msgSendSuper)(&super, selector, args...);
}

// By names known only at run time, as the runtime harness sends: looked up on every call.
template <typename R = id, typename... Args>
R send(Receiver receiver, const char* selector, std::type_identity_t<Args>... args) {
  return send<R, Args...>(receiver, sel_registerName(selector), args...);
}
inline Class cls(const char* name) {
  return objc_getClass(name);
}

inline id asId(CFTypeRef object) {
  return reinterpret_cast<id>(const_cast<void*>(object));
}
inline CFTypeRef asCF(id object) {
  return reinterpret_cast<CFTypeRef>(object);
}

// --- Ownership ----------------------------------------------------------------------------------

inline id retainReference(id object) {
  return send(object, "retain"_sel);
}
inline void releaseReference(id object) {
  send<void>(object, "release"_sel);
}
inline void releaseReference(CFTypeRef object) {
  CFRelease(object);
}

// One reference, released when this goes. adopt takes over the reference the caller was given
// (alloc/new/copy/init, CoreFoundation's Create and Copy functions); retain takes one of its own
// on an object the caller only borrows.
template <typename T>
class Reference {
 public:
  Reference() = default;
  explicit Reference(T adopted) : object_(adopted) {}  // adopts: the runtime harness's spelling
  static Reference adopt(T object) { return Reference(object); }
  static Reference retain(T object) {
    return Reference(object != nullptr ? retainReference(object) : nullptr);
  }
  Reference(const Reference&) = delete;
  Reference& operator=(const Reference&) = delete;
  Reference(Reference&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Reference& operator=(Reference&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~Reference() {
    if (object_ != nullptr) releaseReference(object_);
  }
  [[nodiscard]] T get() const { return object_; }
  [[nodiscard]] explicit operator bool() const { return object_ != nullptr; }

 private:
  T object_ = nullptr;
};

using Owned = Reference<id>;
template <typename CFType>
using OwnedCF = Reference<CFType>;

// --- Strings ------------------------------------------------------------------------------------

// A new NSString holding exactly these UTF-8 bytes (nil when they are not UTF-8).
inline Owned makeString(std::string_view text) {
  id allocated = send("NSString"_cls, "alloc"_sel);
  return Owned::adopt(send<id, const void*, NSUInteger, NSUInteger>(
      allocated, "initWithBytes:length:encoding:"_sel, text.data(), text.size(),
      kNSUTF8StringEncoding));
}

// An NSString's UTF-8 bytes, embedded NULs included; none for nil or for text that has no
// UTF-8 form.
inline std::optional<std::string> toString(id string) {
  if (string == nullptr) return std::nullopt;
  id data = send<id, NSUInteger>(string, "dataUsingEncoding:"_sel, kNSUTF8StringEncoding);
  if (data == nullptr) return std::nullopt;
  const auto* bytes = send<const void*>(data, "bytes"_sel);
  const auto length = send<NSUInteger>(data, "length"_sel);
  return std::string(static_cast<const char*>(bytes), length);
}

inline bool isKindOf(id object, Class type) {
  return object != nullptr && send<BOOL, Class>(object, "isKindOfClass:"_sel, type) != NO;
}

// --- Pools and blocks ---------------------------------------------------------------------------

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

// --- Methods of registered classes --------------------------------------------------------------

template <typename T>
inline constexpr bool kIsBlock = false;
template <typename R, typename... Args>
inline constexpr bool kIsBlock<R (^)(Args...)> = true;
template <typename T>
inline constexpr bool kHasNoEncodingHere = false;

// The runtime's letters for each type a registered method takes or returns. BOOL is signed char
// on x86-64 and bool on arm64, and each has its own letter; a block is an object of its own kind.
// A type missing here fails to compile rather than being guessed.
template <typename T>
consteval std::string_view typeLetters() {
  if constexpr (std::is_same_v<T, void>)
    return "v";
  else if constexpr (std::is_same_v<T, id>)
    return "@";
  else if constexpr (std::is_same_v<T, SEL>)
    return ":";
  else if constexpr (std::is_same_v<T, Class>)
    return "#";
  else if constexpr (std::is_same_v<T, signed char>)
    return "c";
  else if constexpr (std::is_same_v<T, bool>)
    return "B";
  else if constexpr (std::is_same_v<T, NSInteger>)
    return "q";
  else if constexpr (std::is_same_v<T, NSUInteger>)
    return "Q";
  else if constexpr (std::is_same_v<T, double>)
    return "d";
  else if constexpr (std::is_same_v<T, id*>)
    return "^@";
  else if constexpr (kIsBlock<T>)
    return "@?";
  else
    static_assert(kHasNoEncodingHere<T>, "no type encoding for this type");
}

template <typename... Types>
consteval auto typeEncoding() {
  std::array<char, (typeLetters<Types>().size() + ... + 1)> encoding{};
  auto end = encoding.begin();
  ((end = std::ranges::copy(typeLetters<Types>(), end).out), ...);
  return encoding;
}

// Adds `function` as the method `selector`, with the encoding its own type spells: an IMP takes
// self and _cmd first, then the method's arguments.
template <typename R, typename... Args>
void addMethod(Class target, const char* selector, R (*function)(id, SEL, Args...)) {
  static constexpr auto kTypes = typeEncoding<R, id, SEL, Args...>();
  class_addMethod(target, sel_registerName(selector), reinterpret_cast<IMP>(function),
                  kTypes.data());
}

}  // namespace tidingsbell::apple
