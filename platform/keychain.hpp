#pragma once
// Keychain services on generic-password items: the calls the settings store makes (search, add,
// update), with the platform's own status codes. The search alone is a seam of its own, so that a
// program that only reads settings links no code that can change them. A query mirrors a
// CoreFoundation dictionary with text keys: each optional member is one entry when present, so
// tests can see a query's exact shape.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "platform/bytes.hpp"

namespace tidingsbell::platform {

using OSStatus = std::int32_t;
inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecIO = -36;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecNotAvailable = -25291;
inline constexpr OSStatus errSecDuplicateItem = -25299;
inline constexpr OSStatus errSecItemNotFound = -25300;
inline constexpr OSStatus errSecInteractionNotAllowed = -25308;

enum class SecClass { GenericPassword };
enum class SecMatchLimit { One };

struct KeychainQuery {
  std::optional<SecClass> secClass;         // kSecClass
  std::optional<std::string> service;       // kSecAttrService
  std::optional<std::string> account;       // kSecAttrAccount
  std::optional<bool> returnData;           // kSecReturnData
  std::optional<SecMatchLimit> matchLimit;  // kSecMatchLimit
  std::optional<Bytes> valueData;           // kSecValueData

  [[nodiscard]] std::size_t entryCount() const {
    return static_cast<std::size_t>(secClass.has_value()) + service.has_value() +
           account.has_value() + returnData.has_value() + matchLimit.has_value() +
           valueData.has_value();
  }
  bool operator==(const KeychainQuery&) const = default;
};

// What SecItemCopyMatching leaves in its result slot: nothing, a data object, or some other
// object (the platform may hand back an attributes dictionary or a reference).
struct NotData {
  bool operator==(const NotData&) const = default;
};
using KeychainResult = std::variant<std::monostate, Bytes, NotData>;

class KeychainReader {
 public:
  virtual ~KeychainReader() = default;
  virtual OSStatus copyMatching(const KeychainQuery& query, KeychainResult& result) = 0;
};

class Keychain : public KeychainReader {
 public:
  virtual OSStatus add(const KeychainQuery& attributes) = 0;
  // Sets the attributes given (here the value data alone) on every item the query matches, as
  // SecItemUpdate does: errSecItemNotFound when none does.
  virtual OSStatus update(const KeychainQuery& query, const KeychainQuery& attributesToUpdate) = 0;
};

}  // namespace tidingsbell::platform
