#pragma once
// The extension's principal class in C++: each entry hands its arguments to one body and does
// nothing else. It holds only the platform it was made with; nothing outlives an entry but the
// completions the bodies hand to the platform, which capture plain values.

#include <cstdint>
#include <optional>
#include <string>

#include "extension/ExtensionPlatform.hpp"
#include "platform/safari.hpp"
#include "platform/user_notifications.hpp"

namespace tidingsbell {

class SafariExtensionHandler {
 public:
  // init
  explicit SafariExtensionHandler(const ExtensionPlatform& platform) : platform_(platform) {}

  void messageReceivedWithName(std::string name, platform::SafariPage& page,
                               std::optional<platform::UserInfo> userInfo) const;
  void toolbarItemClickedInWindow(platform::SafariWindow& window) const;
  void validateToolbarItemInWindow(platform::SafariWindow& window,
                                   ValidationHandler validationHandler) const;
  void userNotificationCenterDidReceiveNotificationResponse(
      const platform::NotificationResponse& response, Callback<void()> completionHandler) const;
  void userNotificationCenterWillPresentNotification(
      Callback<void(std::uint64_t options)> completionHandler) const;

 private:
  const ExtensionPlatform& platform_;
};

// The popover controller: the extension makes none, and it adds nothing to its base class but
// the check that it is made on the main thread.
struct SafariExtensionViewController {
  static void initWithNibNameBundle(const platform::MainThread& mainThread);
  static void initWithCoder(const platform::MainThread& mainThread);
};

}  // namespace tidingsbell
