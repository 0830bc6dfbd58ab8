// Only the extension answers notifications, so only it links UserNotifications, which this
// constant needs: the app would not link with it.

#include "platform/apple/apple_platform.hpp"

// UserNotifications' constant, an NSString; declared here since its header is Objective-C.
extern "C" id const UNNotificationDefaultActionIdentifier;

namespace tidingsbell::apple {

std::string NotificationResponse::actionIdentifier() const {
  id action = send(response_, "actionIdentifier"_sel);
  // The platform's constant is compared as the platform defines it, whatever its text.
  if (action != nullptr &&
      send<BOOL, id>(action, "isEqualToString:"_sel, UNNotificationDefaultActionIdentifier) != NO) {
    return std::string(platform::UNNotificationDefaultActionIdentifier);
  }
  return toString(action).value_or(std::string());
}

}  // namespace tidingsbell::apple
