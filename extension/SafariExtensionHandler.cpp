#include "extension/SafariExtensionHandler.hpp"

#include <utility>

#include "extension/OpenPage.hpp"
#include "extension/PageMessageLog.hpp"
#include "extension/RefreshBadge.hpp"

namespace tidingsbell {

void SafariExtensionHandler::messageReceivedWithName(
    std::string name, platform::SafariPage& page,
    std::optional<platform::UserInfo> userInfo) const {
  logPageMessage(platform_, std::move(name), page, std::move(userInfo));
}

void SafariExtensionHandler::toolbarItemClickedInWindow(platform::SafariWindow& window) const {
  openNotificationsTab(platform_, window);
}

void SafariExtensionHandler::validateToolbarItemInWindow(
    platform::SafariWindow& /*window*/, ValidationHandler validationHandler) const {
  refreshBadge(platform_, std::move(validationHandler));
}

void SafariExtensionHandler::userNotificationCenterDidReceiveNotificationResponse(
    const platform::NotificationResponse& response, Callback<void()> completionHandler) const {
  openFromNotification(platform_, response, completionHandler);
}

void SafariExtensionHandler::userNotificationCenterWillPresentNotification(
    Callback<void(std::uint64_t options)> completionHandler) const {
  completionHandler(platform::UNNotificationPresentationOptionAlert);
}

void SafariExtensionViewController::initWithNibNameBundle(const platform::MainThread& mainThread) {
  platform::requireMainThread(mainThread, "SafariExtensionViewController initWithNibName:bundle:");
}

void SafariExtensionViewController::initWithCoder(const platform::MainThread& mainThread) {
  platform::requireMainThread(mainThread, "SafariExtensionViewController initWithCoder:");
}

}  // namespace tidingsbell
