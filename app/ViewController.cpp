#include "app/ViewController.hpp"

#include <optional>
#include <string>

#include "shared/SettingsStore.hpp"

namespace tidingsbell {

void requireMainThread(const AppPlatform& platform, const char* selector) {
  platform::requireMainThread(platform.mainThread, selector);
}

void showStoredToken(const AppPlatform& platform, platform::TextField* field) {
  requireMainThread(platform, "ViewController setPersonalAccessTokenTextField:");
  const std::optional<std::string> token = SettingsStore(platform.keychain).readToken();
  if (field != nullptr) field->setStringValue(token.value_or(std::string()));
}

void showStoredMuteFlag(const AppPlatform& platform, platform::Button* button) {
  requireMainThread(platform, "ViewController setMuteSwitch:");
  const bool muted = SettingsStore(platform.keychain).readMuteFlag().value_or(false);
  if (button != nullptr) {
    button->setState(
        static_cast<long>(muted ? platform::ControlState::On : platform::ControlState::Off));
  }
}

void showAppNameAndFocusToken(const AppPlatform& platform, platform::TextField* label,
                              platform::TextField* field) {
  requireMainThread(platform, "ViewController viewDidLoad");
  if (label != nullptr) label->setStringValue(std::string(kAppName));
  if (field != nullptr) (void)field->becomeFirstResponder();
}

void saveTokenFromField(const AppPlatform& platform, const platform::TextField* field) {
  requireMainThread(platform, "ViewController submitPersonalAccessTokenAction:");
  // Without a connected field, or with text that has no UTF-8 form, there is nothing to save;
  // saving "" instead would erase the stored token.
  if (field == nullptr) return;
  const std::optional<std::string> text = field->stringValue();
  if (!text) return;
  (void)SettingsStore(platform.keychain).saveToken(*text);
}

void saveMuteSwitch(const AppPlatform& platform, const platform::Button* sender) {
  requireMainThread(platform, "ViewController muteValueChange:");
  const long state = sender != nullptr ? sender->state() : 0;
  (void)SettingsStore(platform.keychain)
      .saveMuteFlag(state == static_cast<long>(platform::ControlState::On));
}

void askSafariForPreferences(const AppPlatform& platform) {
  requireMainThread(platform, "ViewController openSafariExtensionPreferences:");
  // Neither the work item nor its completion holds the controller or touches a control.
  platform.userInitiatedQueue.async([&safari = platform.safari, &out = platform.standardOutput] {
    safari.showPreferencesForExtension(kExtensionBundleIdentifier,
                                       [&out](std::optional<platform::PlatformError> error) {
                                         if (error) out.write(error->description + "\n");
                                       });
  });
}

}  // namespace tidingsbell
