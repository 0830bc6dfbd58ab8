#pragma once
// The Safari objects the extension and the settings window talk to.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/callback.hpp"
#include "platform/url.hpp"

namespace tidingsbell::platform {

struct SafariTab {};

class SafariWindow {
 public:
  virtual ~SafariWindow() = default;
  virtual void openTab(const Url& url, bool makeActiveIfPossible,
                       Callback<void(std::optional<SafariTab>)> completion) = 0;
};

struct SafariPageProperties {
  std::optional<Url> url;
};

class SafariPage {
 public:
  virtual ~SafariPage() = default;
  // The completion runs later, on a thread of Safari's choosing; it may receive no properties.
  virtual void getPageProperties(
      Callback<void(std::optional<SafariPageProperties>)> completion) = 0;
};

struct PlatformError {
  std::string description;  // the error object's own description
};

class SafariApplication {
 public:
  virtual ~SafariApplication() = default;
  virtual void showPreferencesForExtension(
      std::string_view identifier, Callback<void(std::optional<PlatformError>)> completion) = 0;
};

}  // namespace tidingsbell::platform

namespace tidingsbell::platform {

// A value in a page message's user information, as far as its description needs it.
struct UserInfoNumber {
  std::string written;  // the number as the page sent it
};
struct UserInfoNull {};
struct UserInfoCompound {
  std::string compactJson;  // an array or an object
};
using UserInfoValue =
    std::variant<std::string, UserInfoNumber, bool, UserInfoNull, UserInfoCompound>;
// Entries in the order received.
using UserInfo = std::vector<std::pair<std::string, UserInfoValue>>;

}  // namespace tidingsbell::platform
