#pragma once
// The extension's standard user defaults: one property-list value per key.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/date.hpp"

namespace tidingsbell::platform {

// Any other property-list object (data, array, dictionary, real, boolean): the system only
// needs to tell it apart from a date.
struct OtherPropertyListObject {
  bool operator==(const OtherPropertyListObject&) const = default;
};
using PropertyListValue = std::variant<Date, std::string, std::int64_t, OtherPropertyListObject>;

class UserDefaults {
 public:
  virtual ~UserDefaults() = default;
  // Any kind of value: the user or another program may have written the key.
  virtual std::optional<PropertyListValue> objectForKey(std::string_view key) = 0;
  // Only the last check's date is ever written.
  virtual void setObject(Date value, std::string_view key) = 0;
};

}  // namespace tidingsbell::platform
