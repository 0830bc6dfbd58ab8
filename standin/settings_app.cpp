#include "standin/settings_app.hpp"

#include <simdjson.h>

#include <cstdlib>

#include "platform/standin/text.hpp"
#include "shared/SettingsStore.hpp"

namespace tidingsbell::standin {
namespace {

class TerminalTextField final : public platform::TextField {
 public:
  explicit TerminalTextField(std::string text, bool* focus = nullptr)
      : text_(std::move(text)), focus_(focus) {}
  [[nodiscard]] std::optional<std::string> stringValue() const override { return text_; }
  void setStringValue(const std::string& value) override { text_ = value; }
  bool becomeFirstResponder() override {
    if (focus_ == nullptr) return false;
    *focus_ = true;
    return true;
  }

 private:
  std::string text_;
  bool* focus_;
};

class TerminalButton final : public platform::Button {
 public:
  [[nodiscard]] long state() const override { return state_; }
  void setState(long state) override { state_ = state; }

 private:
  long state_ = 0;
};

// What a secure text field shows: one bullet per character (code point) of the text, never the
// text itself.
std::string bullets(std::string_view text) {
  std::string shown;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) shown += "\u2022";
  }
  return shown;
}

void complain(const std::string& problem) {
  writeLocked(stderr, "tidingsbell-settings: " + problem + "\n");
}

}  // namespace

void StandinSafariApplication::showPreferencesForExtension(
    std::string_view identifier,
    Callback<void(std::optional<platform::PlatformError>)> completion) {
  const char* fails = std::getenv("TIDINGSBELL_STANDIN_SAFARI_FAILS");
  if (fails != nullptr && std::string_view(fails) == "1") {
    completion(platform::PlatformError{
        "Error Domain=SFErrorDomain Code=1 \"The operation couldn\u2019t be completed. "
        "(SFErrorDomain error 1.)\""});
    return;
  }
  writeLocked(stdout, "preferences extension=" + jsonQuote(identifier) + "\n");
  completion(std::nullopt);
}

// The view hierarchy owns the controls; the controller holds three of them weakly.
struct SettingsApp::Window {
  bool tokenFieldFocused = false;
  std::shared_ptr<TerminalTextField> label = std::make_shared<TerminalTextField>("Label");
  std::shared_ptr<TerminalTextField> tokenField =
      std::make_shared<TerminalTextField>("", &tokenFieldFocused);
  std::shared_ptr<TerminalButton> submitButton = std::make_shared<TerminalButton>();
  std::shared_ptr<TerminalButton> muteButton = std::make_shared<TerminalButton>();
  std::unique_ptr<ViewController> controller;
};

SettingsApp::SettingsApp() {
  loadWindow();
  delegate_.applicationDidFinishLaunching();
}

SettingsApp::~SettingsApp() {
  terminate();
}

void SettingsApp::terminate() {
  if (terminated_) return;
  terminated_ = true;
  userInitiated_.waitIdle();
  delegate_.applicationWillTerminate();
}

void SettingsApp::loadWindow() {
  window_.reset();  // the old controller and its controls go first
  auto window = std::make_unique<Window>();
  window->controller =
      std::make_unique<ViewController>(platform_, ViewController::Initializer::Coder);
  ViewController& controller = *window->controller;
  controller.setAppNameLabel(std::make_unique<StrongOutlet<platform::TextField>>(window->label));
  controller.setPersonalAccessTokenTextField(
      std::make_unique<WeakOutlet<platform::TextField>>(window->tokenField));
  controller.setSubmitButton(std::make_unique<WeakOutlet<platform::Button>>(window->submitButton));
  controller.setMuteSwitch(std::make_unique<WeakOutlet<platform::Button>>(window->muteButton));
  controller.viewDidLoad([] {});  // a terminal window has no base class with work of its own
  window_ = std::move(window);
}

std::string SettingsApp::windowLine() const {
  const long state = window_->muteButton->state();
  const char* mute = state == 1 ? "on" : state == 0 ? "off" : "mixed";
  return "window label=" + jsonQuote(window_->label->stringValue().value_or("")) +
         " token=" + jsonQuote(bullets(window_->tokenField->stringValue().value_or(""))) +
         " mute=" + mute + " focus=" + (window_->tokenFieldFocused ? "token" : "none");
}

bool SettingsApp::execute(const std::string& line) {
  const auto [command, rest] = splitCommand(line);
  ViewController& controller = *window_->controller;

  if (line == "show") {
    output_.write(windowLine() + "\n");
  } else if (command == "type") {
    if (!isValidUtf8(rest)) {
      complain("the text is not valid UTF-8; the field is unchanged");
      return true;
    }
    window_->tokenField->setStringValue(rest);
  } else if (command == "typejson") {
    simdjson::dom::parser parser;
    std::string_view text;
    if (parser.parse(rest).get_string().get(text) != simdjson::SUCCESS || !isValidUtf8(text)) {
      complain("typejson takes one JSON string of valid UTF-8; the field is unchanged");
      return true;
    }
    window_->tokenField->setStringValue(std::string(text));
  } else if (line == "submit") {
    controller.submitPersonalAccessTokenAction();
  } else if (command == "mute" && (rest == "on" || rest == "off" || rest == "mixed")) {
    window_->muteButton->setState(rest == "on" ? 1 : rest == "off" ? 0 : -1);
    controller.muteValueChange(window_->muteButton.get());
  } else if (line == "prefs") {
    controller.openSafariExtensionPreferences();
  } else if (line == "reopen") {
    loadWindow();
  } else {
    return false;
  }
  return true;
}

}  // namespace tidingsbell::standin
