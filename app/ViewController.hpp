#pragma once
// The settings window's controller. The macOS run-time class `ViewController` and the stand-in
// window each keep one per window and forward every entry to it unchanged; the outlets arrive as
// the platform's handles, so the label is held strongly and the other three weakly however each
// platform spells that. Every entry checks first that it runs on the main thread and names its
// selector in the message that stops the program when it does not.

#include <memory>
#include <string_view>

#include "app/AppPlatform.hpp"
#include "platform/callback.hpp"
#include "platform/controls.hpp"
#include "tidingsbell_identifiers.hpp"

namespace tidingsbell {

inline constexpr std::string_view kAppName = "Tidingsbell";

class ViewController {
 public:
  enum class Initializer { Coder, NibName };  // initWithCoder:, initWithNibName:bundle:

  // Every outlet starts empty.
  ViewController(const AppPlatform& platform, Initializer initializer);
  ViewController(const ViewController&) = delete;
  ViewController& operator=(const ViewController&) = delete;
  ~ViewController() = default;

  // The outlets: null when never connected, or (for the weak three) once the control has gone.
  template <typename Control>
  using Outlet = std::unique_ptr<platform::Outlet<Control>>;
  [[nodiscard]] std::shared_ptr<platform::TextField> appNameLabel() const;
  void setAppNameLabel(Outlet<platform::TextField> label);
  [[nodiscard]] std::shared_ptr<platform::TextField> personalAccessTokenTextField() const;
  // Then fills the field from the stored token.
  void setPersonalAccessTokenTextField(Outlet<platform::TextField> field);
  [[nodiscard]] std::shared_ptr<platform::Button> submitButton() const;
  void setSubmitButton(Outlet<platform::Button> button);
  [[nodiscard]] std::shared_ptr<platform::Button> muteSwitch() const;
  // Then sets the button from the stored mute flag.
  void setMuteSwitch(Outlet<platform::Button> button);

  // Runs the base class's viewDidLoad, then names the window and focuses the token field.
  void viewDidLoad(const Callback<void()>& baseViewDidLoad);
  // Saves the field's text, exactly, as the token.
  void submitPersonalAccessTokenAction();
  // Saves the sender's state as the mute flag.
  void muteValueChange(const platform::Button* sender);
  // Asks Safari, off the main thread, to show the extension's preferences.
  void openSafariExtensionPreferences();

 private:
  void requireMainThread(const char* entry) const;
  template <typename Control>
  static std::shared_ptr<Control> load(const Outlet<Control>& outlet);

  const AppPlatform& platform_;
  Outlet<platform::TextField> appNameLabel_;
  Outlet<platform::TextField> personalAccessTokenTextField_;
  Outlet<platform::Button> submitButton_;
  Outlet<platform::Button> muteSwitch_;
};

}  // namespace tidingsbell
