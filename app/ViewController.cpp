#include "app/ViewController.hpp"

#include <optional>
#include <string>
#include <utility>

#include "shared/SettingsStore.hpp"

namespace tidingsbell {

ViewController::ViewController(const AppPlatform& platform, const char* initializer)
    : platform_(platform) {
  checkMainThread(initializer);
}

std::unique_ptr<ViewController> ViewController::initWithCoder(const AppPlatform& platform) {
  return std::unique_ptr<ViewController>(
      new ViewController(platform, "ViewController initWithCoder:"));
}

std::unique_ptr<ViewController> ViewController::initWithNibNameBundle(const AppPlatform& platform) {
  return std::unique_ptr<ViewController>(
      new ViewController(platform, "ViewController initWithNibName:bundle:"));
}

void ViewController::checkMainThread(const char* entry) const {
  platform::requireMainThread(platform_.mainThread, entry);
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
  const std::optional<std::string> token = SettingsStore(platform_.keychain).readToken();
  if (field) field->setStringValue(token.value_or(std::string()));
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
  const bool muted = SettingsStore(platform_.keychain).readMuteFlag().value_or(false);
  if (button) {
    button->setState(
        static_cast<long>(muted ? platform::ControlState::On : platform::ControlState::Off));
  }
}

void ViewController::viewDidLoad() {
  checkMainThread("ViewController viewDidLoad");
  if (appNameLabel_) appNameLabel_->setStringValue(std::string(kAppName));
  if (auto field = personalAccessTokenTextField_.lock()) (void)field->becomeFirstResponder();
}

void ViewController::openSafariExtensionPreferences(const void* /*sender*/) {
  checkMainThread("ViewController openSafariExtensionPreferences:");
  // Neither the work item nor its completion holds the controller or touches a control.
  platform_.userInitiatedQueue.async([&safari = platform_.safari, &out = platform_.standardOutput] {
    safari.showPreferencesForExtension(kExtensionBundleIdentifier,
                                       [&out](std::optional<platform::PlatformError> error) {
                                         if (error) out.write(error->description + "\n");
                                       });
  });
}

void ViewController::submitPersonalAccessTokenAction(const void* /*sender*/) {
  checkMainThread("ViewController submitPersonalAccessTokenAction:");
  // Without a connected field there is no text to save; saving "" would erase the stored token.
  const auto field = personalAccessTokenTextField_.lock();
  if (!field) return;
  (void)SettingsStore(platform_.keychain).saveToken(field->stringValue());
}

void ViewController::muteValueChange(const platform::Button* sender) {
  checkMainThread("ViewController muteValueChange:");
  const long state = sender != nullptr ? sender->state() : 0;
  (void)SettingsStore(platform_.keychain)
      .saveMuteFlag(state == static_cast<long>(platform::ControlState::On));
}

}  // namespace tidingsbell
