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
  // Whatever the key holds, for the reader to judge: another program may have written it.
  virtual std::optional<PropertyListValue> objectForKey(std::string_view key) = 0;
  // The extension writes only dates.
  virtual void setObject(Date value, std::string_view key) = 0;
};

}  // namespace tidingsbell::platform
