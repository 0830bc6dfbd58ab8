#pragma once

#include <cstdint>
#include <string_view>

#include "extension/ExtensionPlatform.hpp"
#include "platform/safari.hpp"
#include "platform/user_notifications.hpp"

namespace tidingsbell {

inline constexpr std::string_view kNotificationsPageUrl = "https://github.com/notifications";
inline constexpr std::string_view kSafariBundleIdentifier = "com.apple.Safari";
inline constexpr std::string_view kShowActionIdentifier = "show";

// A toolbar click: one more tab in the clicked window, made active.
void openNotificationsTab(const ExtensionPlatform& platform, platform::SafariWindow& window);

// A notification's activation: the default action or "show" opens the page in Safari. The
// completion handler is called exactly once, last, on every path.
void openFromNotification(const ExtensionPlatform& platform,
                          const platform::NotificationResponse& response,
                          const Callback<void()>& completionHandler);

}  // namespace tidingsbell
