#pragma once
// The stand-in Safari: the extension linked in, driven one command a line, printing one line
// per event. Safari makes a new SafariExtensionHandler for each event and releases it as soon
// as its entry returns, so nothing the extension does can lean on a handler that lives on.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "extension/ExtensionPlatform.hpp"
#include "platform/safari.hpp"
#include "platform/standin/chosen_keychain.hpp"
#include "platform/standin/clock.hpp"
#include "platform/standin/json.hpp"
#include "platform/standin/output.hpp"
#include "platform/standin/threads.hpp"
#include "platform/standin/url.hpp"
#include "platform/standin/url_session.hpp"
#include "platform/standin/user_defaults.hpp"
#include "standin/command_line.hpp"

namespace tidingsbell::standin {

// The user information of a page message from its JSON form; nullopt for JSON null.
// Throws std::invalid_argument when the text is not an object with a text "name".
struct PageMessage {
  std::string name;
  std::optional<platform::UserInfo> userInfo;
};
PageMessage parsePageMessage(std::string_view json);

class SafariHost final : public CommandHost {
 public:
  SafariHost();
  SafariHost(const SafariHost&) = delete;
  SafariHost& operator=(const SafariHost&) = delete;
  ~SafariHost() override;

  bool execute(const std::string& line) override;
  // Waits for every piece of work started so far, polls included.
  void waitIdle() override;

 private:
  class Window;
  class Page;
  class Workspace;

  OffsetClock clock_;
  platform::Keychain& keychain_ = chosenKeychain().keychain;
  FileUserDefaults defaults_{std::string(kExtensionDefaultsDomain)};
  CurlUrlParser urls_;
  CurlSessionFactory sessions_;
  SimdjsonReader json_;
  StandardOutputSink output_;
  StandardErrorLog log_{"tidingsbell-safari"};
  ThreadDispatchQueue callbacks_;  // the completions of tabs and page properties
  std::unique_ptr<Workspace> workspace_;
  CreatorThreadIsMain mainThread_;
  std::unique_ptr<ExtensionPlatform> platform_;
  std::optional<platform::SafariPageProperties> pageProperties_;
};

}  // namespace tidingsbell::standin
