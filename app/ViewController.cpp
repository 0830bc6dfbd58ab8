#include "app/ViewController.hpp"

#include <optional>
#include <string>
#include <utility>

#include "shared/SettingsStore.hpp"

namespace tidingsbell {

using Bodies = ViewController::Bodies;

void Bodies::checkMainThread(const AppPlatform& platform, const char* entry) {
  platform::requireMainThread(platform.mainThread, entry);
}

void Bodies::initialize(const AppPlatform& platform, const char* entry) {
  checkMainThread(platform, entry);
}

void Bodies::tokenHook(const AppPlatform& platform, platform::TextField* field) {
  checkMainThread(platform, "ViewController setPersonalAccessTokenTextField:");
  const std::optional<std::string> token = SettingsStore(platform.keychain).readToken();
  if (field != nullptr) field->setStringValue(token.value_or(std::string()));
}

void Bodies::muteHook(const AppPlatform& platform, platform::Button* button) {
  checkMainThread(platform, "ViewController setMuteSwitch:");
  const bool muted = SettingsStore(platform.keychain).readMuteFlag().value_or(false);
  if (button != nullptr) {
    button->setState(
        static_cast<long>(muted ? platform::ControlState::On : platform::ControlState::Off));
  }
}

void Bodies::viewDidLoad(const AppPlatform& platform, platform::TextField* label,
                         platform::TextField* field) {
  checkMainThread(platform, "ViewController viewDidLoad");
  if (label != nullptr) label->setStringValue(std::string(kAppName));
  if (field != nullptr) (void)field->becomeFirstResponder();
}

void Bodies::openSafariExtensionPreferences(const AppPlatform& platform) {
  checkMainThread(platform, "ViewController openSafariExtensionPreferences:");
  // Neither the work item nor its completion holds the controller or touches a control.
  platform.userInitiatedQueue.async([&safari = platform.safari, &out = platform.standardOutput] {
    safari.showPreferencesForExtension(kExtensionBundleIdentifier,
                                       [&out](std::optional<platform::PlatformError> error) {
                                         if (error) out.write(error->description + "\n");
                                       });
  });
}

void Bodies::submitPersonalAccessTokenAction(const AppPlatform& platform,
                                             const platform::TextField* field) {
  checkMainThread(platform, "ViewController submitPersonalAccessTokenAction:");
  // Without a connected field, or without text the field can give, there is nothing to save;
  // saving "" instead would erase the stored token.
  if (field == nullptr) return;
  const std::optional<std::string> text = field->stringValue();
  if (!text) return;
  (void)SettingsStore(platform.keychain).saveToken(*text);
}

void Bodies::muteValueChange(const AppPlatform& platform, const platform::Button* sender) {
  checkMainThread(platform, "ViewController muteValueChange:");
  const long state = sender != nullptr ? sender->state() : 0;
  (void)SettingsStore(platform.keychain)
      .saveMuteFlag(state == static_cast<long>(platform::ControlState::On));
}

ViewController::ViewController(const AppPlatform& platform, const char* initializer)
    : platform_(platform) {
  Bodies::initialize(platform, initializer);
}

std::unique_ptr<ViewController> ViewController::initWithCoder(const AppPlatform& platform) {
  return std::unique_ptr<ViewController>(
      new ViewController(platform, "ViewController initWithCoder:"));
}

std::unique_ptr<ViewController> ViewController::initWithNibNameBundle(const AppPlatform& platform) {
  return std::unique_ptr<ViewController>(
      new ViewController(platform, "ViewController initWithNibName:bundle:"));
}

std::shared_ptr<platform::TextField> ViewController::appNameLabel() const {
  checkMainThread("ViewController appNameLabel");
  return appNameLabel_;
}

void ViewController::setAppNameLabel(std::shared_ptr<platform::TextField> label) {
  checkMainThread("ViewController setAppNameLabel:");
  appNameLabel_ = std::move(label);
}

std::shared_ptr<platform::TextField> ViewController::personalAccessTokenTextField() const {
  checkMainThread("ViewController personalAccessTokenTextField");
  return personalAccessTokenTextField_.lock();
}

void ViewController::setPersonalAccessTokenTextField(
    const std::shared_ptr<platform::TextField>& field) {
  checkMainThread("ViewController setPersonalAccessTokenTextField:");
  personalAccessTokenTextField_ = field;
  Bodies::tokenHook(platform_, field.get());
}

std::shared_ptr<platform::Button> ViewController::submitButton() const {
  checkMainThread("ViewController submitButton");
  return submitButton_.lock();
}

void ViewController::setSubmitButton(const std::shared_ptr<platform::Button>& button) {
  checkMainThread("ViewController setSubmitButton:");
  submitButton_ = button;
}

std::shared_ptr<platform::Button> ViewController::muteSwitch() const {
  checkMainThread("ViewController muteSwitch");
  return muteSwitch_.lock();
}

void ViewController::setMuteSwitch(const std::shared_ptr<platform::Button>& button) {
  checkMainThread("ViewController setMuteSwitch:");
  muteSwitch_ = button;
  Bodies::muteHook(platform_, button.get());
}

void ViewController::viewDidLoad() {
  Bodies::viewDidLoad(platform_, appNameLabel_.get(), personalAccessTokenTextField_.lock().get());
}

void ViewController::openSafariExtensionPreferences(const void* /*sender*/) {
  Bodies::openSafariExtensionPreferences(platform_);
}

void ViewController::submitPersonalAccessTokenAction(const void* /*sender*/) {
  Bodies::submitPersonalAccessTokenAction(platform_, personalAccessTokenTextField_.lock().get());
}

void ViewController::muteValueChange(const platform::Button* sender) {
  Bodies::muteValueChange(platform_, sender);
}

}  // namespace tidingsbell
