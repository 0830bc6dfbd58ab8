#pragma once
// The extension's standard user defaults: one property-list value per key.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/date.hpp"

namespace tidingsbell::platform {

using PropertyListValue = std::variant<Date, std::string, std::int64_t>;

class UserDefaults {
 public:
  virtual ~UserDefaults() = default;
  virtual std::optional<PropertyListValue> objectForKey(std::string_view key) = 0;
  virtual void setObject(const PropertyListValue& value, std::string_view key) = 0;
};

}  // namespace tidingsbell::platform
