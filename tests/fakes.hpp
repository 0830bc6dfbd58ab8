#pragma once
// Fakes that record the platform calls the bodies make.

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "extension/ExtensionPlatform.hpp"
#include "platform/safari.hpp"
#include "platform/standin/json.hpp"
#include "platform/standin/url.hpp"

namespace tidingsbell::testing {

using platform::Bytes;
using platform::KeychainQuery;
using platform::OSStatus;

inline Bytes bytes(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// An in-memory keychain that behaves as the platform's (value data never narrows a match) and
// records every call; statuses may be forced.
class RecordingKeychain final : public platform::Keychain {
 public:
  struct Call {
    std::string operation;  // "copy", "add", "update"
    KeychainQuery query;
  };
  std::vector<Call> calls;
  std::map<std::string, platform::KeychainResult> items;  // by account
  std::optional<OSStatus> forcedCopyStatus, forcedUpdateStatus;
  int addsToFail = 0;                  // the next this many adds fail as on a full disk
  std::function<void()> beforeUpdate;  // another program at work as an update starts

  OSStatus copyMatching(const KeychainQuery& query, platform::KeychainResult& result) override {
    calls.push_back({"copy", query});
    if (forcedCopyStatus) return *forcedCopyStatus;
    const auto found = items.find(query.account.value_or(""));
    if (found == items.end()) return platform::errSecItemNotFound;
    result = found->second;
    return platform::errSecSuccess;
  }
  OSStatus add(const KeychainQuery& query) override {
    calls.push_back({"add", query});
    if (addsToFail > 0) {
      --addsToFail;
      return platform::errSecIO;
    }
    const auto [it, added] =
        items.try_emplace(query.account.value_or(""), query.valueData.value_or(Bytes{}));
    return added ? platform::errSecSuccess : platform::errSecDuplicateItem;
  }
  OSStatus update(const KeychainQuery& query, const KeychainQuery& changes) override {
    if (beforeUpdate) beforeUpdate();
    calls.push_back({"update", query});
    if (forcedUpdateStatus) return *forcedUpdateStatus;
    const auto found = items.find(query.account.value_or(""));
    if (found == items.end()) return platform::errSecItemNotFound;
    found->second = changes.valueData.value_or(Bytes{});
    return platform::errSecSuccess;
  }
  void store(const std::string& account, Bytes value) { items[account] = std::move(value); }
};

class FakeDefaults final : public platform::UserDefaults {
 public:
  std::map<std::string, platform::PropertyListValue, std::less<>> values;
  int writes = 0;
  std::optional<platform::PropertyListValue> objectForKey(std::string_view key) override {
    const auto found = values.find(key);
    if (found == values.end()) return std::nullopt;
    return found->second;
  }
  void setObject(platform::Date value, std::string_view key) override {
    ++writes;
    values[std::string(key)] = value;
  }
};

class FakeClock final : public platform::Clock {
 public:
  platform::Date current{platform::Seconds(1'800'000'000.0)};
  bool calendarGivesNoDate = false;
  platform::Date now() override { return current; }
  std::optional<platform::Date> oneMinuteBefore(platform::Date date) override {
    if (calendarGivesNoDate) return std::nullopt;
    return date - platform::Seconds(60.0);
  }
};

class RecordingOutput final : public platform::StandardOutput, public platform::SystemLog {
 public:
  void write(std::string_view text) override {
    const std::lock_guard lock(mutex);
    written += text;
  }
  void log(std::string_view message) override {
    const std::lock_guard lock(mutex);
    logged.emplace_back(message);
  }
  std::string text() {
    const std::lock_guard lock(mutex);
    return written;
  }
  std::vector<std::string> lines() {
    const std::lock_guard lock(mutex);
    return logged;
  }
  std::mutex mutex;
  std::string written;
  std::vector<std::string> logged;
};

// Sessions whose tasks are held until the test completes them.
class RecordingSessions final : public platform::UrlSessionFactory {
 public:
  struct Task {
    platform::UrlRequest request;
    platform::DataTaskCompletion completion;
  };
  std::vector<std::shared_ptr<Task>> tasks;

  platform::SessionConfiguration defaultSessionConfiguration() override { return {}; }
  std::shared_ptr<platform::UrlSession> sessionWithConfiguration(
      const platform::SessionConfiguration&) override {
    return std::make_shared<Session>(*this);
  }

 private:
  struct HeldTask final : platform::DataTask {
    void resume() override {}
  };
  struct Session final : platform::UrlSession {
    explicit Session(RecordingSessions& o) : owner(o) {}
    std::shared_ptr<platform::DataTask> dataTask(platform::UrlRequest request,
                                                 platform::DataTaskCompletion completion) override {
      owner.tasks.push_back(
          std::make_shared<Task>(Task{std::move(request), std::move(completion)}));
      return std::make_shared<HeldTask>();
    }
    void finishTasksAndInvalidate() override {}
    RecordingSessions& owner;
  };
};

// Counts the requests to open pages; `result` is what the system answers.
class FakeWorkspace final : public platform::Workspace {
 public:
  int opens = 0;
  bool result = true;
  bool openURLs(const std::vector<platform::Url>&, std::string_view, std::uint64_t) override {
    ++opens;
    return result;
  }
};

// A window whose tabs go nowhere: validation never looks at its window.
class NoWindow final : public platform::SafariWindow {
 public:
  void openTab(const platform::Url&, bool,
               Callback<void(std::optional<platform::SafariTab>)>) override {}
};

class FakeMainThread final : public platform::MainThread {
 public:
  bool onMain = true;
  [[nodiscard]] bool isMainThread() const override { return onMain; }
};

// Records what a validation handler received; `alive` tells whether the handler still exists.
struct HandlerProbe {
  std::shared_ptr<int> token = std::make_shared<int>(0);
  std::shared_ptr<std::vector<std::pair<bool, std::string>>> calls =
      std::make_shared<std::vector<std::pair<bool, std::string>>>();

  ValidationHandler handler() {
    return [calls = calls, keep = token](bool enabled, std::string text) {
      calls->emplace_back(enabled, std::move(text));
    };
  }
  [[nodiscard]] bool released() const { return token.use_count() == 1; }
};

// A full set of fakes for the extension.
struct FakeExtension {
  RecordingKeychain keychain;
  FakeDefaults defaults;
  FakeClock clock;
  standin::CurlUrlParser urls;
  RecordingSessions sessions;
  standin::SimdjsonReader json;
  RecordingOutput output;
  FakeWorkspace workspace;
  FakeMainThread mainThread;
  ExtensionPlatform platform = with(defaults, sessions, output);

  // The same platform with some fakes swapped for real stand-ins.
  ExtensionPlatform with(platform::UserDefaults& d, platform::UrlSessionFactory& s,
                         RecordingOutput& out) {
    return {keychain, d, clock, urls, s, json, out, out, workspace, mainThread};
  }
};

}  // namespace tidingsbell::testing
