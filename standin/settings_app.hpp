#pragma once
// The stand-in settings window: the host application's controller and delegate, loaded as the
// interface loader loads them, with terminal stand-ins for the controls.

#include <memory>
#include <string>

#include "app/AppDelegate.hpp"
#include "app/ViewController.hpp"
#include "platform/standin/chosen_keychain.hpp"
#include "platform/standin/output.hpp"
#include "platform/standin/threads.hpp"
#include "standin/command_line.hpp"

namespace tidingsbell::standin {

// The outlets as the view hierarchy and the controller share the controls: the hierarchy owns
// them, the label's outlet keeps its control too, and the other outlets let theirs go with it.
template <typename Control>
class StrongOutlet final : public platform::Outlet<Control> {
 public:
  explicit StrongOutlet(std::shared_ptr<Control> control) : control_(std::move(control)) {}
  [[nodiscard]] std::shared_ptr<Control> load() const override { return control_; }

 private:
  std::shared_ptr<Control> control_;
};

template <typename Control>
class WeakOutlet final : public platform::Outlet<Control> {
 public:
  explicit WeakOutlet(const std::shared_ptr<Control>& control) : control_(control) {}
  [[nodiscard]] std::shared_ptr<Control> load() const override { return control_.lock(); }

 private:
  std::weak_ptr<Control> control_;
};

// Safari's preferences request: prints what it would show, or fails when
// TIDINGSBELL_STANDIN_SAFARI_FAILS=1, with the error Safari gives.
class StandinSafariApplication final : public platform::SafariApplication {
 public:
  void showPreferencesForExtension(
      std::string_view identifier,
      Callback<void(std::optional<platform::PlatformError>)> completion) override;
};

class SettingsApp final : public CommandHost {
 public:
  SettingsApp();
  SettingsApp(const SettingsApp&) = delete;
  SettingsApp& operator=(const SettingsApp&) = delete;
  ~SettingsApp() override;

  bool execute(const std::string& line) override;
  void waitIdle() override { userInitiated_.waitIdle(); }
  void terminate();
  [[nodiscard]] std::string windowLine() const;

 private:
  struct Window;
  void loadWindow();

  platform::Keychain& keychain_ = chosenKeychain().keychain;
  CreatorThreadIsMain mainThread_;
  ThreadDispatchQueue userInitiated_;
  StandinSafariApplication safari_;
  StandardOutputSink output_;
  AppPlatform platform_{keychain_, mainThread_, userInitiated_, safari_, output_};
  AppDelegate delegate_{platform_};
  std::unique_ptr<Window> window_;
  bool terminated_ = false;
};

}  // namespace tidingsbell::standin
