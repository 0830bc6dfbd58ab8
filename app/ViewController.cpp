#include "app/ViewController.hpp"

#include <optional>
#include <string>

#include "shared/SettingsStore.hpp"

namespace tidingsbell {

ViewController::ViewController(const AppPlatform& platform, Initializer initializer)
    : platform_(platform) {
  requireMainThread(initializer == Initializer::Coder ? "ViewController initWithCoder:"
                                                      : "ViewController initWithNibName:bundle:");
}

void ViewController::requireMainThread(const char* entry) const {
  platform::requireMainThread(platform_.mainThread, entry);
}

template <typename Control>
std::shared_ptr<Control> ViewController::load(const Outlet<Control>& outlet) {
  return outlet != nullptr ? outlet->load() : nullptr;
}

std::shared_ptr<platform::TextField> ViewController::appNameLabel() const {
  requireMainThread("ViewController appNameLabel");
  return load(appNameLabel_);
}

void ViewController::setAppNameLabel(Outlet<platform::TextField> label) {
  requireMainThread("ViewController setAppNameLabel:");
  appNameLabel_ = std::move(label);
}

std::shared_ptr<platform::TextField> ViewController::personalAccessTokenTextField() const {
  requireMainThread("ViewController personalAccessTokenTextField");
  return load(personalAccessTokenTextField_);
}

void ViewController::setPersonalAccessTokenTextField(Outlet<platform::TextField> field) {
  requireMainThread("ViewController setPersonalAccessTokenTextField:");
  personalAccessTokenTextField_ = std::move(field);
  const std::optional<std::string> token = SettingsStore(platform_.keychain).readToken();
  if (const auto connected = load(personalAccessTokenTextField_)) {
    connected->setStringValue(token.value_or(std::string()));
  }
}

std::shared_ptr<platform::Button> ViewController::submitButton() const {
  requireMainThread("ViewController submitButton");
  return load(submitButton_);
}

void ViewController::setSubmitButton(Outlet<platform::Button> button) {
  requireMainThread("ViewController setSubmitButton:");
  submitButton_ = std::move(button);
}

std::shared_ptr<platform::Button> ViewController::muteSwitch() const {
  requireMainThread("ViewController muteSwitch");
  return load(muteSwitch_);
}

void ViewController::setMuteSwitch(Outlet<platform::Button> button) {
  requireMainThread("ViewController setMuteSwitch:");
  muteSwitch_ = std::move(button);
  const bool muted = SettingsStore(platform_.keychain).readMuteFlag().value_or(false);
  if (const auto connected = load(muteSwitch_)) {
    connected->setState(
        static_cast<long>(muted ? platform::ControlState::On : platform::ControlState::Off));
  }
}

void ViewController::viewDidLoad(const Callback<void()>& baseViewDidLoad) {
  requireMainThread("ViewController viewDidLoad");
  baseViewDidLoad();
  if (const auto label = load(appNameLabel_)) label->setStringValue(std::string(kAppName));
  if (const auto field = load(personalAccessTokenTextField_)) (void)field->becomeFirstResponder();
}

void ViewController::submitPersonalAccessTokenAction() {
  requireMainThread("ViewController submitPersonalAccessTokenAction:");
  // Without a connected field, or with text that has no UTF-8 form, there is nothing to save;
  // saving "" instead would erase the stored token.
  const auto field = load(personalAccessTokenTextField_);
  if (field == nullptr) return;
  const std::optional<std::string> text = field->stringValue();
  if (!text) return;
  (void)SettingsStore(platform_.keychain).saveToken(*text);
}

void ViewController::muteValueChange(const platform::Button* sender) {
  requireMainThread("ViewController muteValueChange:");
  const long state = sender != nullptr ? sender->state() : 0;
  (void)SettingsStore(platform_.keychain)
      .saveMuteFlag(state == static_cast<long>(platform::ControlState::On));
}

void ViewController::openSafariExtensionPreferences() {
  requireMainThread("ViewController openSafariExtensionPreferences:");
  // Neither the work item nor its completion holds the controller or touches a control.
  platform_.userInitiatedQueue.async([&safari = platform_.safari, &out = platform_.standardOutput] {
    safari.showPreferencesForExtension(kExtensionBundleIdentifier,
                                       [&out](std::optional<platform::PlatformError> error) {
                                         if (error) out.write(error->description + "\n");
                                       });
  });
}

}  // namespace tidingsbell
