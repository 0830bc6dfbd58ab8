#pragma once
// User notifications: a response to one, and the options for presenting one.

#include <cstdint>
#include <string>
#include <string_view>

namespace tidingsbell::platform {

inline constexpr std::string_view UNNotificationDefaultActionIdentifier =
    "com.apple.UNNotificationDefaultActionIdentifier";
inline constexpr std::string_view UNNotificationDismissActionIdentifier =
    "com.apple.UNNotificationDismissActionIdentifier";
inline constexpr std::uint64_t UNNotificationPresentationOptionAlert = 4;

class NotificationResponse {
 public:
  virtual ~NotificationResponse() = default;
  [[nodiscard]] virtual std::string actionIdentifier() const = 0;
};

}  // namespace tidingsbell::platform
