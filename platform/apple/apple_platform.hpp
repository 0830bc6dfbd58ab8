#pragma once
// The macOS implementation of every seam: one call deep, no logic of its own.

#include <memory>

#include "platform/apple/objc.hpp"
#include "platform/clock.hpp"
#include "platform/controls.hpp"
#include "platform/json.hpp"
#include "platform/keychain.hpp"
#include "platform/output.hpp"
#include "platform/safari.hpp"
#include "platform/threads.hpp"
#include "platform/url.hpp"
#include "platform/url_session.hpp"
#include "platform/user_defaults.hpp"
#include "platform/user_notifications.hpp"
#include "platform/workspace.hpp"

namespace tidingsbell::apple {

// The search alone (keychain.cpp): what the extension links, so that it imports neither
// SecItemAdd nor SecItemUpdate.
class KeychainReader final : public platform::KeychainReader {
 public:
  platform::OSStatus copyMatching(const platform::KeychainQuery& query,
                                  platform::KeychainResult& result) override;
};

// Search, add and update (keychain_writer.cpp, all three there): the application's.
class Keychain final : public platform::Keychain {
 public:
  platform::OSStatus copyMatching(const platform::KeychainQuery& query,
                                  platform::KeychainResult& result) override;
  platform::OSStatus add(const platform::KeychainQuery& attributes) override;
  platform::OSStatus update(const platform::KeychainQuery& query,
                            const platform::KeychainQuery& attributesToUpdate) override;
};

class UserDefaults final : public platform::UserDefaults {
 public:
  std::optional<platform::PropertyListValue> objectForKey(std::string_view key) override;
  void setObject(platform::Date value, std::string_view key) override;
};

class Clock final : public platform::Clock {
 public:
  platform::Date now() override;
  std::optional<platform::Date> oneMinuteBefore(platform::Date date) override;
};

class UrlParser final : public platform::UrlParser {
 public:
  std::optional<platform::Url> urlWithString(std::string_view text) override;
};

class UrlSessionFactory final : public platform::UrlSessionFactory {
 public:
  platform::SessionConfiguration defaultSessionConfiguration() override;
  std::shared_ptr<platform::UrlSession> sessionWithConfiguration(
      const platform::SessionConfiguration& configuration) override;
};

class JsonReader final : public platform::JsonReader {
 public:
  platform::JsonSummary summarize(const platform::Bytes& data) override;
};

class StandardOutput final : public platform::StandardOutput {
 public:
  void write(std::string_view text) override;
};

class SystemLog final : public platform::SystemLog {
 public:
  void log(std::string_view message) override;
};

class Workspace final : public platform::Workspace {
 public:
  bool openURLs(const std::vector<platform::Url>& urls, std::string_view bundleIdentifier,
                std::uint64_t options) override;
};

class MainThread final : public platform::MainThread {
 public:
  [[nodiscard]] bool isMainThread() const override;
};

class UserInitiatedQueue final : public platform::DispatchQueue {
 public:
  void async(Callback<void()> work) override;
};

class SafariApplication final : public platform::SafariApplication {
 public:
  void showPreferencesForExtension(
      std::string_view identifier,
      Callback<void(std::optional<platform::PlatformError>)> completion) override;
};

// Wrappers of objects the platform hands in for the length of one call; they do not retain.
class SafariWindow final : public platform::SafariWindow {
 public:
  explicit SafariWindow(id window) : window_(window) {}
  void openTab(const platform::Url& url, bool makeActiveIfPossible,
               Callback<void(std::optional<platform::SafariTab>)> completion) override;

 private:
  id window_;
};

class SafariPage final : public platform::SafariPage {
 public:
  explicit SafariPage(id page) : page_(page) {}
  void getPageProperties(
      Callback<void(std::optional<platform::SafariPageProperties>)> completion) override;

 private:
  id page_;
};

class NotificationResponse final : public platform::NotificationResponse {
 public:
  explicit NotificationResponse(id response) : response_(response) {}
  [[nodiscard]] std::string actionIdentifier() const override;

 private:
  id response_;
};

class TextField final : public platform::TextField {
 public:
  explicit TextField(id field) : field_(field) {}
  [[nodiscard]] std::optional<std::string> stringValue() const override;
  void setStringValue(const std::string& value) override;
  bool becomeFirstResponder() override;
  [[nodiscard]] id object() const { return field_; }

 private:
  id field_;
};

class Button final : public platform::Button {
 public:
  explicit Button(id button) : button_(button) {}
  [[nodiscard]] long state() const override;
  void setState(long state) override;
  [[nodiscard]] id object() const { return button_; }

 private:
  id button_;
};

// The outlets of a run-time class (controls.cpp): a strong one retains its control until the
// outlet goes; a weak one is a slot in the runtime's weak table, which empties it when the control
// is deallocated. Each loads as the wrappers above, holding a reference of its own. Null for nil.
enum class Strength { Strong, Weak };
std::unique_ptr<platform::Outlet<platform::TextField>> textFieldOutlet(id field, Strength strength);
std::unique_ptr<platform::Outlet<platform::Button>> buttonOutlet(id button, Strength strength);

// The NSDictionary of a page message as the seam's user information, in enumeration order.
std::optional<platform::UserInfo> userInfoFrom(id dictionary);

}  // namespace tidingsbell::apple
