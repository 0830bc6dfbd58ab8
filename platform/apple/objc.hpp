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
  [[nodiscard]] constexpr std::string_view view() const { return {chars, N - 1}; }
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

// "count"_sel is @selector(count), looked up once. It carries its name in its type, so that a
// send knows, as it is compiled, which message it sends (see the table of messages below).
template <Literal name>
struct Selector {
  // NOLINTNEXTLINE(google-explicit-constructor): it stands where a SEL would.
  operator SEL() const {
    static std::atomic<SEL> kept{nullptr};
    return remembered(kept, [] { return sel_registerName(name.chars); });
  }
};
template <Literal name>
constexpr Selector<name> operator""_sel() {
  return {};
}

// "NSDate"_cls is [NSDate class]. A class that does not exist yet (registered at run time, or by
// a framework loaded later) is asked for again next time, not remembered as nil.
template <Literal name>
Class operator""_cls() {
  static std::atomic<Class> kept{nullptr};
  return remembered(kept, [] { return objc_getClass(name.chars); });
}

// --- Type encodings -----------------------------------------------------------------------------

// The runtime's letters for each type a message takes or returns, as the compiler writes them
// into a method list. BOOL is signed char on x86-64 and bool on arm64, and each has its own
// letter; a block is an object of its own kind. A type missing here fails to compile rather than
// being guessed.
// A registered method's types spell a block as the runtime lists it, "@?"; the table of messages
// below spells its signature too, "@?<v@?B@>", so that a block's own arguments are compared.
enum class BlockLetters { kPlain, kWithSignature };

template <typename T>
inline constexpr bool kHasNoEncodingHere = false;
template <typename T>
struct BlockTypes : std::false_type {};
template <typename R, typename... Args>
struct BlockTypes<R (^)(Args...)> : std::true_type {};

// Pieces of an encoding that are not types of their own.
struct OpenBlock {};
struct BlockItself {};
struct CloseBlock {};
struct ConstPointee {};
struct PointerTo {};

template <typename T, BlockLetters blocks>
consteval std::string_view typeLetters();

template <BlockLetters blocks, typename... Types>
consteval auto encodingOf() {
  std::array<char, (typeLetters<Types, blocks>().size() + ... + 1)> encoding{};
  auto end = encoding.begin();
  ((end = std::ranges::copy(typeLetters<Types, blocks>(), end).out), ...);
  return encoding;
}
template <BlockLetters blocks, typename... Types>
inline constexpr auto kEncoding = encodingOf<blocks, Types...>();
template <BlockLetters blocks, typename... Types>
consteval std::string_view encodingText() {
  return {kEncoding<blocks, Types...>.data(), kEncoding<blocks, Types...>.size() - 1};
}

template <BlockLetters blocks, typename R, typename... Args>
consteval std::string_view blockLetters(R (^)(Args...)) {
  if constexpr (blocks == BlockLetters::kPlain)
    return "@?";
  else
    return encodingText<blocks, OpenBlock, R, BlockItself, Args..., CloseBlock>();
}

template <typename T, BlockLetters blocks>
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
  else if constexpr (std::is_same_v<T, int>)
    return "i";
  else if constexpr (std::is_same_v<T, unsigned>)
    return "I";
  // long is 64 bits on both processors, and the compiler writes it as long long.
  else if constexpr (std::is_same_v<T, long> || std::is_same_v<T, long long>)
    return "q";
  else if constexpr (std::is_same_v<T, unsigned long> || std::is_same_v<T, unsigned long long>)
    return "Q";
  else if constexpr (std::is_same_v<T, double>)
    return "d";
  else if constexpr (BlockTypes<T>::value)
    return blockLetters<blocks>(T());
  else if constexpr (std::is_same_v<T, char*>)
    return "*";
  else if constexpr (std::is_same_v<T, const char*>)
    return "r*";
  else if constexpr (std::is_pointer_v<T> && std::is_const_v<std::remove_pointer_t<T>>)
    return encodingText<blocks, ConstPointee, PointerTo,
                        std::remove_cv_t<std::remove_pointer_t<T>>>();
  else if constexpr (std::is_pointer_v<T>)
    return encodingText<blocks, PointerTo, std::remove_volatile_t<std::remove_pointer_t<T>>>();
  else if constexpr (std::is_same_v<T, OpenBlock>)
    return "@?<";
  else if constexpr (std::is_same_v<T, BlockItself>)
    return "@?";
  else if constexpr (std::is_same_v<T, CloseBlock>)
    return ">";
  else if constexpr (std::is_same_v<T, ConstPointee>)
    return "r";
  else if constexpr (std::is_same_v<T, PointerTo>)
    return "^";
  else
    static_assert(kHasNoEncodingHere<T>, "no type encoding for this type");
}

// The types of a registered method, as class_addMethod takes them.
template <typename... Types>
consteval auto typeEncoding() {
  return encodingOf<BlockLetters::kPlain, Types...>();
}

// --- The table of messages ----------------------------------------------------------------------

// Every send and every registered method writes one line, "kind<TAB>selector<TAB>types", into its
// own section of the macOS executable, as each processor's compiler derives it from the C++ types
// here: kind is send, super (a send to the superclass's implementation) or method (registered).
// scripts/check-encodings reads the section of both slices back and compares each line with
// Apple's headers; a line several files write may be there more than once.
template <Literal kind, Literal name, typename... Types>
consteval auto messageLine() {
  constexpr std::string_view types = encodingText<BlockLetters::kWithSignature, Types...>();
  constexpr std::string_view parts[] = {kind.view(), "\t", name.view(), "\t", types};
  std::array<char, kind.view().size() + name.view().size() + types.size() + 3> line{};
  auto end = line.begin();
  for (std::string_view part : parts) end = std::ranges::copy(part, end).out;
  return line;
}

template <Literal kind, Literal name, typename... Types>
struct MessageLine {
#if defined(__APPLE__)
  [[gnu::used, gnu::section("__TEXT,__tb_messages")]]
#endif
  static constexpr auto kLine = messageLine<kind, name, Types...>();
};

template <Literal kind, Literal name, typename... Types>
void listMessage() {
  static_cast<void>(&MessageLine<kind, name, Types...>::kLine);
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

// Sends take their selector as "name"_sel, so that every send the product makes is in the table
// of messages.
template <typename R = id, typename... Args, Literal name>
R send(Receiver receiver, Selector<name> selector, std::type_identity_t<Args>... args) {
  static_assert(returnedInRegisters<R>(), "this return needs objc_msgSend_stret or _fpret");
  listMessage<"send", name, R, id, SEL, Args...>();
  using Method = R (*)(id, SEL, Args...);
  return reinterpret_cast<Method>(&objc_msgSend)(receiver.object, selector, args...);
}

// A message to the implementation in `superclass`, the registered class's own superclass.
template <typename R = id, typename... Args, Literal name>
R sendSuper(id receiver, Class superclass, Selector<name> selector,
            std::type_identity_t<Args>... args) {
  static_assert(returnedInRegisters<R>(), "this return needs objc_msgSendSuper_stret or _fpret");
  listMessage<"super", name, R, id, SEL, Args...>();
  objc_super super{receiver, superclass};
  using Method = R (*)(objc_super*, SEL, Args...);
  return reinterpret_cast<Method>(&objc_msgSendSuper)(&super, selector, args...);
}

#if defined(TIDINGSBELL_SENDS_BY_RUNTIME_NAME)
// By names known only at run time, as the runtime harness sends: looked up on every call, and in
// no table, so the product itself cannot use them.
template <typename R = id, typename... Args>
R send(Receiver receiver, const char* selector, std::type_identity_t<Args>... args) {
  static_assert(returnedInRegisters<R>(), "this return needs objc_msgSend_stret or _fpret");
  using Method = R (*)(id, SEL, Args...);
  return reinterpret_cast<Method>(&objc_msgSend)(receiver.object, sel_registerName(selector),
                                                 args...);
}
inline Class cls(const char* name) {
  return objc_getClass(name);
}
#endif

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

// Adds `function` as the method `selector`, with the encoding its own type spells: an IMP takes
// self and _cmd first, then the method's arguments. The selector is a string literal, and the
// method is listed in the table of messages under it.
template <Literal name, typename R, typename... Args>
void addNamedMethod(Class target, R (*function)(id, SEL, Args...)) {
  listMessage<"method", name, R, id, SEL, Args...>();
  static constexpr auto kTypes = typeEncoding<R, id, SEL, Args...>();
  class_addMethod(target, Selector<name>(), reinterpret_cast<IMP>(function), kTypes.data());
}

}  // namespace tidingsbell::apple

// The table needs each registered method's name while compiling, so the call keeps its plain
// form, addMethod(target, "selector:", &function), and passes the name on as a template argument.
#define addMethod(target, selector, function) \
  ::tidingsbell::apple::addNamedMethod<selector>(target, function)
