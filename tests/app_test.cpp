#include <gtest/gtest.h>

#include "app/AppDelegate.hpp"
#include "app/ViewController.hpp"
#include "tests/fakes.hpp"

namespace tidingsbell {
namespace {

using testing::bytes;

class Field final : public platform::TextField {
 public:
  std::string text;
  bool textHasNoUtf8Form = false;
  int focusRequests = 0;
  [[nodiscard]] std::optional<std::string> stringValue() const override {
    if (textHasNoUtf8Form) return std::nullopt;
    return text;
  }
  void setStringValue(const std::string& value) override { text = value; }
  bool becomeFirstResponder() override {
    ++focusRequests;
    return true;
  }
};

class Toggle final : public platform::Button {
 public:
  long value = 0;
  [[nodiscard]] long state() const override { return value; }
  void setState(long state) override { value = state; }
};

class HeldQueue final : public platform::DispatchQueue {
 public:
  std::vector<Callback<void()>> items;
  void async(Callback<void()> work) override { items.push_back(std::move(work)); }
};

class PreferencesRequests final : public platform::SafariApplication {
 public:
  std::vector<std::string> identifiers;
  std::optional<platform::PlatformError> error;
  void showPreferencesForExtension(
      std::string_view identifier,
      Callback<void(std::optional<platform::PlatformError>)> done) override {
    identifiers.emplace_back(identifier);
    done(error);
  }
};

class SettingsWindowTest : public ::testing::Test {
 protected:
  testing::RecordingKeychain keychain;
  testing::FakeMainThread mainThread;
  HeldQueue queue;
  PreferencesRequests safari;
  testing::RecordingOutput output;
  AppPlatform platform{keychain, mainThread, queue, safari, output};

  std::shared_ptr<Field> label = std::make_shared<Field>();
  std::shared_ptr<Field> field = std::make_shared<Field>();
  std::shared_ptr<Toggle> submit = std::make_shared<Toggle>();
  std::shared_ptr<Toggle> mute = std::make_shared<Toggle>();

  // As the interface loader does it: coder initializer, the four outlets, viewDidLoad.
  std::unique_ptr<ViewController> load() {
    label->text = "Label from the interface";
    auto controller = ViewController::initWithCoder(platform);
    EXPECT_EQ(controller->personalAccessTokenTextField(), nullptr);  // empty until connected
    controller->setAppNameLabel(label);
    controller->setPersonalAccessTokenTextField(field);
    controller->setSubmitButton(submit);
    controller->setMuteSwitch(mute);
    controller->viewDidLoad();
    return controller;
  }
  [[nodiscard]] platform::Bytes stored(const std::string& account) {
    return std::get<platform::Bytes>(keychain.items.at(account));
  }
};

TEST_F(SettingsWindowTest, ControlsStartFromTheStoredSettings) {
  const std::vector<std::tuple<std::optional<platform::Bytes>, std::string>> tokens = {
      {std::nullopt, ""}, {bytes("ghp_ok"), "ghp_ok"}, {platform::Bytes{0xFF, 0x41}, ""}};
  const std::vector<std::tuple<std::optional<platform::Bytes>, long>> flags = {
      {std::nullopt, 0}, {platform::Bytes{0x01}, 1}, {platform::Bytes{0x00}, 0}};
  for (const auto& [token, text] : tokens) {
    for (const auto& [flag, state] : flags) {
      keychain.items.clear();
      if (token) keychain.store("personal_access_token", *token);
      if (flag) keychain.store("mute_switch", *flag);
      field->text = "stale";
      mute->value = -1;
      const auto controller = load();
      EXPECT_EQ(field->text, text);
      EXPECT_EQ(mute->value, state);
      EXPECT_EQ(label->text, "Tidingsbell");  // whatever the interface gave it
      EXPECT_GE(field->focusRequests, 1);
    }
  }
}

TEST_F(SettingsWindowTest, SubmitSavesTheFieldExactlyEvenEmpty) {
  const auto controller = load();
  for (const std::string& text : std::vector<std::string>{"  ghp_spaced  ", "two\nlines", ""}) {
    field->text = text;
    controller->submitPersonalAccessTokenAction(submit.get());
    EXPECT_EQ(stored("personal_access_token"), bytes(text));
  }
  EXPECT_EQ(keychain.calls.back().operation, "add");  // the empty token is an item of zero bytes
}

TEST_F(SettingsWindowTest, SubmitWithAFieldThatHasNoTextLeavesTheStoredTokenAlone) {
  const auto controller = load();
  keychain.store("personal_access_token", bytes("ghp_working"));
  const auto callsBefore = keychain.calls.size();
  field->textHasNoUtf8Form = true;
  controller->submitPersonalAccessTokenAction(submit.get());
  EXPECT_EQ(stored("personal_access_token"), bytes("ghp_working"));
  EXPECT_EQ(keychain.calls.size(), callsBefore);  // not even a delete
}

TEST_F(SettingsWindowTest, MuteSavesTrueOnlyForTheOnState) {
  const auto controller = load();
  for (const auto& [state, byte] :
       std::vector<std::pair<long, std::uint8_t>>{{1, 1}, {0, 0}, {-1, 0}}) {
    mute->value = state;
    controller->muteValueChange(mute.get());
    EXPECT_EQ(stored("mute_switch"), platform::Bytes{byte});
  }
}

TEST_F(SettingsWindowTest, EachPreferencesClickIsItsOwnRequestOffTheMainThread) {
  const auto controller = load();
  controller->openSafariExtensionPreferences(nullptr);
  controller->openSafariExtensionPreferences(nullptr);
  EXPECT_TRUE(safari.identifiers.empty());  // the actions returned at once
  ASSERT_EQ(queue.items.size(), 2u);
  queue.items[0]();
  safari.error = platform::PlatformError{"Error Domain=SFErrorDomain Code=1 \"x\""};
  queue.items[1]();
  EXPECT_EQ(safari.identifiers,
            (std::vector<std::string>(2, "com.marblequail.Tidingsbell.Extension")));
  EXPECT_EQ(output.text(), "Error Domain=SFErrorDomain Code=1 \"x\"\n");
}

TEST_F(SettingsWindowTest, WeakOutletsLapseWithTheirControlsAndTheLabelIsKept) {
  auto controller = load();
  std::weak_ptr<Field> labelAlive = label;
  field.reset();
  mute.reset();
  submit.reset();
  label.reset();
  EXPECT_EQ(controller->personalAccessTokenTextField(), nullptr);
  EXPECT_EQ(controller->muteSwitch(), nullptr);
  EXPECT_EQ(controller->submitButton(), nullptr);
  EXPECT_NE(controller->appNameLabel(), nullptr);  // held strongly
  keychain.store("personal_access_token", bytes("kept"));
  controller->submitPersonalAccessTokenAction(nullptr);  // no field: nothing to save
  EXPECT_EQ(stored("personal_access_token"), bytes("kept"));
  controller.reset();
  EXPECT_TRUE(labelAlive.expired());  // released with the controller
}

TEST_F(SettingsWindowTest, EveryEntryOffTheMainThreadStopsTheProgram) {
  const auto controller = load();
  AppDelegate delegate(platform);
  delegate.applicationDidFinishLaunching();
  delegate.applicationWillTerminate();
  mainThread.onMain = false;
  EXPECT_DEATH(controller->viewDidLoad(),
               "ViewController viewDidLoad must be called on the main thread");
  EXPECT_DEATH(controller->submitPersonalAccessTokenAction(nullptr),
               "submitPersonalAccessTokenAction:");
  EXPECT_DEATH(controller->setMuteSwitch(mute), "setMuteSwitch:");
  EXPECT_DEATH(ViewController::initWithNibNameBundle(platform), "initWithNibName:bundle:");
  EXPECT_DEATH(delegate.applicationWillTerminate(), "AppDelegate applicationWillTerminate:");
}

}  // namespace
}  // namespace tidingsbell
