#include "standin/safari_host.hpp"

#include <simdjson.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "extension/SafariExtensionHandler.hpp"
#include "platform/standin/text.hpp"

namespace tidingsbell::standin {
namespace {

std::string numberText(simdjson::dom::element value) {
  std::int64_t integer = 0;
  std::uint64_t unsignedInteger = 0;
  double real = 0;
  if (value.get_int64().get(integer) == simdjson::SUCCESS) return std::to_string(integer);
  if (value.get_uint64().get(unsignedInteger) == simdjson::SUCCESS) {
    return std::to_string(unsignedInteger);
  }
  if (value.get_double().get(real) != simdjson::SUCCESS) real = 0;
  return formatDouble(real);
}

platform::UserInfoValue userInfoValue(simdjson::dom::element value) {
  switch (value.type()) {
    case simdjson::dom::element_type::STRING:
      return std::string(value.get_string().value_unsafe());
    case simdjson::dom::element_type::BOOL:
      return value.get_bool().value_unsafe();
    case simdjson::dom::element_type::NULL_VALUE:
      return platform::UserInfoNull{};
    case simdjson::dom::element_type::ARRAY:
    case simdjson::dom::element_type::OBJECT:
      return platform::UserInfoCompound{simdjson::minify(value)};
    default:
      return platform::UserInfoNumber{numberText(value)};
  }
}

constexpr double kMaximumAdvanceSeconds = 3.2e9;

std::optional<int> parseWindow(std::string_view rest) {
  if (rest.empty()) return 1;
  int window = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), window);
  if (error != std::errc() || end != rest.data() + rest.size() || window < 1) return std::nullopt;
  return window;
}

class Response final : public platform::NotificationResponse {
 public:
  explicit Response(std::string action) : action_(std::move(action)) {}
  [[nodiscard]] std::string actionIdentifier() const override { return action_; }

 private:
  std::string action_;
};

}  // namespace

PageMessage parsePageMessage(std::string_view json) {
  simdjson::dom::parser parser;
  simdjson::dom::object root;
  if (parser.parse(json.data(), json.size()).get_object().get(root) != simdjson::SUCCESS) {
    throw std::invalid_argument("message takes a JSON object");
  }
  PageMessage message;
  std::string_view name;
  if (root["name"].get_string().get(name) != simdjson::SUCCESS) {
    throw std::invalid_argument("message needs a text \"name\"");
  }
  message.name = std::string(name);
  simdjson::dom::element info;
  if (root["userInfo"].get(info) == simdjson::SUCCESS && !info.is_null()) {
    simdjson::dom::object object;
    if (info.get_object().get(object) != simdjson::SUCCESS) {
      throw std::invalid_argument("\"userInfo\" must be an object or null");
    }
    platform::UserInfo entries;
    for (auto field : object)
      entries.emplace_back(std::string(field.key), userInfoValue(field.value));
    message.userInfo = std::move(entries);
  }
  return message;
}

// A Safari window: tabs open asynchronously, their completion on another thread.
class SafariHost::Window final : public platform::SafariWindow {
 public:
  Window(int number, StandardOutputSink& out, ThreadDispatchQueue& callbacks)
      : number_(number), out_(out), callbacks_(callbacks) {}
  void openTab(const platform::Url& url, bool makeActiveIfPossible,
               Callback<void(std::optional<platform::SafariTab>)> completion) override {
    out_.write("tab window=" + std::to_string(number_) + " url=" + jsonQuote(url.absoluteString) +
               " active=" + (makeActiveIfPossible ? "true" : "false") + "\n");
    callbacks_.async([completion = std::move(completion)] { completion(platform::SafariTab{}); });
  }

 private:
  int number_;
  StandardOutputSink& out_;
  ThreadDispatchQueue& callbacks_;
};

// A page that reports its properties later, on another thread.
class SafariHost::Page final : public platform::SafariPage {
 public:
  Page(std::optional<platform::SafariPageProperties> properties, ThreadDispatchQueue& callbacks)
      : properties_(std::move(properties)), callbacks_(callbacks) {}
  void getPageProperties(
      Callback<void(std::optional<platform::SafariPageProperties>)> completion) override {
    callbacks_.async(
        [completion = std::move(completion), properties = properties_] { completion(properties); });
  }

 private:
  std::optional<platform::SafariPageProperties> properties_;
  ThreadDispatchQueue& callbacks_;
};

class SafariHost::Workspace final : public platform::Workspace {
 public:
  explicit Workspace(StandardOutputSink& out) : out_(out) {}
  bool openURLs(const std::vector<platform::Url>& urls, std::string_view bundleIdentifier,
                std::uint64_t options) override {
    char optionsText[32];
    std::snprintf(optionsText, sizeof optionsText, "0x%llx",
                  static_cast<unsigned long long>(options));
    for (const auto& url : urls) {
      out_.write("open app=" + jsonQuote(bundleIdentifier) + " options=" + optionsText +
                 " url=" + jsonQuote(url.absoluteString) + "\n");
    }
    return true;
  }

 private:
  StandardOutputSink& out_;
};

SafariHost::SafariHost()
    : workspace_(std::make_unique<Workspace>(output_)),
      pageProperties_(platform::SafariPageProperties{platform::Url{"about:blank"}}) {
  platform_ = std::make_unique<ExtensionPlatform>(
      ExtensionPlatform{keychain_, defaults_, clock_, urls_, sessions_, json_, output_, log_,
                        *workspace_, mainThread_});
}

SafariHost::~SafariHost() {
  waitIdle();
}

void SafariHost::waitIdle() {
  callbacks_.waitIdle();
  sessions_.waitIdle();
}

bool SafariHost::execute(const std::string& line) {
  const auto [command, rest] = splitCommand(line);
  auto complain = [](const std::string& problem) {
    writeLocked(stderr, "tidingsbell-safari: " + problem + "\n");
  };

  if (command == "validate" || command == "click") {
    const auto number = parseWindow(rest);
    if (!number) {
      complain("not a window number: " + rest);
      return true;
    }
    Window window(*number, output_, callbacks_);
    const SafariExtensionHandler handler(*platform_);
    if (command == "click") {
      handler.toolbarItemClickedInWindow(window);
    } else {
      handler.validateToolbarItemInWindow(window, [&out = output_](bool enabled, std::string text) {
        out.write(std::string("badge enabled=") + (enabled ? "true" : "false") +
                  " text=" + jsonQuote(text) + "\n");
      });
    }
  } else if (command == "advance") {
    double seconds = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), seconds);
    if (rest.empty() || error != std::errc() || end != rest.data() + rest.size()) {
      complain("advance takes a number of seconds");
      return true;
    }
    // About a century either way: enough to test any date, and no clock can end up at a time a
    // date cannot hold.
    if (!std::isfinite(seconds) || std::fabs(seconds) > kMaximumAdvanceSeconds) {
      complain("advance takes a finite number of seconds");
      return true;
    }
    clock_.advance(platform::Seconds(seconds));
  } else if (command == "notify") {
    std::string action = rest;
    if (line == "notify default") action = platform::UNNotificationDefaultActionIdentifier;
    if (line == "notify dismiss") action = platform::UNNotificationDismissActionIdentifier;
    const Response response(action);
    const SafariExtensionHandler handler(*platform_);
    handler.userNotificationCenterDidReceiveNotificationResponse(
        response, [&out = output_] { out.write("notification-done\n"); });
  } else if (line == "present") {
    const SafariExtensionHandler handler(*platform_);
    handler.userNotificationCenterWillPresentNotification([&out = output_](std::uint64_t options) {
      out.write("present options=" + std::to_string(options) + "\n");
    });
  } else if (command == "page" && !rest.empty()) {
    if (rest == "none") {
      pageProperties_.reset();
    } else if (rest == "nourl") {
      pageProperties_ = platform::SafariPageProperties{};
    } else {
      pageProperties_ = platform::SafariPageProperties{platform::Url{rest}};
    }
  } else if (command == "message") {
    try {
      PageMessage message = parsePageMessage(rest);
      Page page(pageProperties_, callbacks_);
      const SafariExtensionHandler handler(*platform_);
      handler.messageReceivedWithName(std::move(message.name), page, std::move(message.userInfo));
    } catch (const std::invalid_argument& problem) {
      complain(problem.what());
    }
  } else {
    return false;
  }
  return true;
}

}  // namespace tidingsbell::standin
