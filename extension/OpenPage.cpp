#include "extension/OpenPage.hpp"

#include <optional>
#include <vector>

namespace tidingsbell {

void openNotificationsTab(const ExtensionPlatform& platform, platform::SafariWindow& window) {
  const auto url = platform.urls.urlWithString(kNotificationsPageUrl);
  if (!url) return;
  window.openTab(*url, true, [](std::optional<platform::SafariTab>) {});
}

void openFromNotification(const ExtensionPlatform& platform,
                          const platform::NotificationResponse& response,
                          const Callback<void()>& completionHandler) {
  const std::string action = response.actionIdentifier();
  if (action == platform::UNNotificationDefaultActionIdentifier ||
      action == kShowActionIdentifier) {
    if (const auto url = platform.urls.urlWithString(kNotificationsPageUrl)) {
      (void)platform.workspace.openURLs({*url}, kSafariBundleIdentifier,
                                        platform::NSWorkspaceLaunchDefault);
    }
  }
  completionHandler();
}

}  // namespace tidingsbell
