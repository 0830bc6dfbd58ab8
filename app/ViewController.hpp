#pragma once
// The settings window's controller. Its state is its four outlets: the label held strongly, the
// token field and the two buttons held weakly, lapsing when the view hierarchy lets them go.
// The two settings are read when their controls are connected and written when the user acts.
//
// The behaviour lives in the static bodies at the end, which take the controls they touch as
// arguments: this class calls them with its own outlets, and the macOS run-time class, which
// keeps the outlets in its instance variables as the interface loader expects, calls the same
// bodies with its own.

#include <memory>
#include <string_view>

#include "app/AppPlatform.hpp"
#include "platform/controls.hpp"

namespace tidingsbell {

inline constexpr std::string_view kAppName = "Tidingsbell";
inline constexpr std::string_view kExtensionBundleIdentifier =
    "com.marblequail.Tidingsbell.Extension";

class ViewController {
 public:
  // Both initializers leave the four outlets empty.
  static std::unique_ptr<ViewController> initWithCoder(const AppPlatform& platform);
  static std::unique_ptr<ViewController> initWithNibNameBundle(const AppPlatform& platform);

  [[nodiscard]] std::shared_ptr<platform::TextField> appNameLabel() const;
  void setAppNameLabel(std::shared_ptr<platform::TextField> label);
  [[nodiscard]] std::shared_ptr<platform::TextField> personalAccessTokenTextField() const;
  void setPersonalAccessTokenTextField(const std::shared_ptr<platform::TextField>& field);
  [[nodiscard]] std::shared_ptr<platform::Button> submitButton() const;
  void setSubmitButton(const std::shared_ptr<platform::Button>& button);
  [[nodiscard]] std::shared_ptr<platform::Button> muteSwitch() const;
  void setMuteSwitch(const std::shared_ptr<platform::Button>& button);

  void viewDidLoad();
  void openSafariExtensionPreferences(const void* sender);
  void submitPersonalAccessTokenAction(const void* sender);
  void muteValueChange(const platform::Button* sender);

  // The bodies. Each checks first that it runs on the main thread; `entry` names the caller
  // in the message that stops the program when it does not.
  struct Bodies {
    static void initialize(const AppPlatform& platform, const char* entry);
    static void checkMainThread(const AppPlatform& platform, const char* entry);
    static void tokenHook(const AppPlatform& platform, platform::TextField* field);
    static void muteHook(const AppPlatform& platform, platform::Button* button);
    static void viewDidLoad(const AppPlatform& platform, platform::TextField* label,
                            platform::TextField* field);
    static void openSafariExtensionPreferences(const AppPlatform& platform);
    static void submitPersonalAccessTokenAction(const AppPlatform& platform,
                                                const platform::TextField* field);
    static void muteValueChange(const AppPlatform& platform, const platform::Button* sender);
  };

 private:
  ViewController(const AppPlatform& platform, const char* initializer);
  void checkMainThread(const char* entry) const { Bodies::checkMainThread(platform_, entry); }

  const AppPlatform& platform_;
  std::shared_ptr<platform::TextField> appNameLabel_;
  std::weak_ptr<platform::TextField> personalAccessTokenTextField_;
  std::weak_ptr<platform::Button> submitButton_;
  std::weak_ptr<platform::Button> muteSwitch_;
};

}  // namespace tidingsbell
