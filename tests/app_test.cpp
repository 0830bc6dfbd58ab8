// The settings window's controller, driven as the macOS class and the stand-in window drive it:
// the outlets connected as the interface loader connects them, then the actions.

#include <gtest/gtest.h>

#include "app/ViewController.hpp"
#include "standin/settings_app.hpp"
#include "tests/fakes.hpp"

namespace tidingsbell {
namespace {

using testing::bytes;

class Field final : public platform::TextField {
 public:
  std::optional<std::string> text;  // none: text with no UTF-8 form
  [[nodiscard]] std::optional<std::string> stringValue() const override { return text; }
  void setStringValue(const std::string& value) override { text = value; }
  bool becomeFirstResponder() override { return true; }
};

class Toggle final : public platform::Button {
 public:
  long value = 0;
  [[nodiscard]] long state() const override { return value; }
  void setState(long state) override { value = state; }
};

// Preferences requests are the stand-in window's and the harness's to check: here they go nowhere.
class Nowhere final : public platform::DispatchQueue, public platform::SafariApplication {
 public:
  void async(Callback<void()>) override {}
  void showPreferencesForExtension(
      std::string_view, Callback<void(std::optional<platform::PlatformError>)>) override {}
};

class SettingsWindowTest : public ::testing::Test {
 protected:
  testing::RecordingKeychain keychain;
  testing::FakeMainThread mainThread;
  Nowhere nowhere;
  testing::RecordingOutput output;
  AppPlatform platform{keychain, mainThread, nowhere, nowhere, output};
  std::shared_ptr<Field> field = std::make_shared<Field>();
  std::shared_ptr<Toggle> mute = std::make_shared<Toggle>();
  ViewController controller{platform, ViewController::Initializer::Coder};

  void connect() {
    controller.setPersonalAccessTokenTextField(
        std::make_unique<standin::WeakOutlet<platform::TextField>>(field));
    controller.setMuteSwitch(std::make_unique<standin::WeakOutlet<platform::Button>>(mute));
  }

  [[nodiscard]] platform::Bytes stored(const std::string& account) {
    return std::get<platform::Bytes>(keychain.items.at(account));
  }
};

// Each row pairs a stored token (none, good, not UTF-8) with a stored mute flag (none, on, off).
TEST_F(SettingsWindowTest, ControlsStartFromTheStoredSettings) {
  const std::vector<
      std::tuple<std::optional<platform::Bytes>, std::string, std::optional<platform::Bytes>, long>>
      cases = {{std::nullopt, "", std::nullopt, 0},
               {bytes("ghp_ok"), "ghp_ok", platform::Bytes{0x01}, 1},
               {platform::Bytes{0xFF, 0x41}, "", platform::Bytes{0x00}, 0}};
  for (const auto& [token, text, flag, state] : cases) {
    keychain.items.clear();
    if (token) keychain.store("personal_access_token", *token);
    if (flag) keychain.store("mute_switch", *flag);
    field->text = "stale";
    mute->value = -1;
    connect();
    EXPECT_EQ(field->text, text);
    EXPECT_EQ(mute->value, state);
  }
}

TEST_F(SettingsWindowTest, SubmitSavesTheFieldExactlyEvenEmptyAndNothingWithoutText) {
  controller.submitPersonalAccessTokenAction();  // no field connected: nothing to save
  EXPECT_TRUE(keychain.calls.empty());
  connect();
  for (const std::string& text : std::vector<std::string>{"  ghp_spaced  ", "two\nlines", ""}) {
    field->text = text;
    controller.submitPersonalAccessTokenAction();
    EXPECT_EQ(stored("personal_access_token"), bytes(text));  // "": an item of zero bytes
  }

  // Text with no UTF-8 form: the working token stays, untouched.
  keychain.store("personal_access_token", bytes("ghp_working"));
  const auto callsBefore = keychain.calls.size();
  field->text.reset();
  controller.submitPersonalAccessTokenAction();
  EXPECT_EQ(stored("personal_access_token"), bytes("ghp_working"));
  EXPECT_EQ(keychain.calls.size(), callsBefore);  // not even an add
}

TEST_F(SettingsWindowTest, MuteSavesTrueOnlyForTheOnState) {
  for (const auto& [state, byte] :
       std::vector<std::pair<long, std::uint8_t>>{{1, 1}, {0, 0}, {-1, 0}}) {
    mute->value = state;
    controller.muteValueChange(mute.get());
    EXPECT_EQ(stored("mute_switch"), platform::Bytes{byte});
  }
}

// The check every entry bound to the main thread makes first.
TEST_F(SettingsWindowTest, OffTheMainThreadAnEntryStopsAndNamesItself) {
  mainThread.onMain = false;
  EXPECT_DEATH(controller.muteValueChange(mute.get()),
               "ViewController muteValueChange: must be called on the main thread");
}

}  // namespace
}  // namespace tidingsbell
