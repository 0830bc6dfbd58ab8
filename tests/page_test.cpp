#include <gtest/gtest.h>

#include "extension/PageMessageLog.hpp"
#include "extension/SafariExtensionHandler.hpp"
#include "tests/fakes.hpp"

namespace tidingsbell {
namespace {

using platform::SafariPageProperties;
using platform::Url;

class HeldPage final : public platform::SafariPage {
 public:
  std::vector<Callback<void(std::optional<SafariPageProperties>)>> pending;
  void getPageProperties(Callback<void(std::optional<SafariPageProperties>)> completion) override {
    pending.push_back(std::move(completion));
  }
};

class Action final : public platform::NotificationResponse {
 public:
  explicit Action(std::string id) : id_(std::move(id)) {}
  [[nodiscard]] std::string actionIdentifier() const override { return id_; }

 private:
  std::string id_;
};

TEST(OpenNotificationsPage,
     OnlyTheDefaultActionOrExactlyShowOpensThePageAndTheHandlerRunsOnceLast) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"com.apple.UNNotificationDefaultActionIdentifier", true},
      {"show", true},
      {"Show", false},
      {" show", false},
      {"show ", false},
      {"com.apple.UNNotificationDismissActionIdentifier", false},
      {"", false}};
  for (const auto& [action, opens] : cases) {
    testing::FakeExtension fake;
    std::vector<std::string> events;
    fake.workspace.result = false;  // a refused request changes nothing
    const SafariExtensionHandler handler(fake.platform);
    handler.userNotificationCenterDidReceiveNotificationResponse(Action(action), [&] {
      events.push_back("done after " + std::to_string(fake.workspace.opens) + " opens");
    });
    EXPECT_EQ(events,
              std::vector<std::string>{"done after " + std::to_string(opens ? 1 : 0) + " opens"})
        << action;
  }
}

std::string line(const std::string& name, const std::string& page, const std::string& info) {
  return "The extension received a message (" + name + ") from a script injected into (" + page +
         ") with userInfo ([" + info + "])";
}

// The log line, byte for byte.
TEST(PageMessageLine, SevenPiecesWithNothingBetween) {
  const std::optional<SafariPageProperties> blank = SafariPageProperties{Url{"about:blank"}};
  EXPECT_EQ(pageMessageLine("ping", blank, std::nullopt),
            line("ping", "Optional(about:blank)", ":"));
  EXPECT_EQ(pageMessageLine("", std::nullopt, platform::UserInfo{}), line("", "nil", ":"));
  EXPECT_EQ(pageMessageLine("a(b)", SafariPageProperties{}, std::nullopt),
            line("a(b)", "nil", ":"));
  const platform::UserInfo info = {{"z", std::string("100%s")},
                                   {"n", platform::UserInfoNumber{"1.5"}},
                                   {"t", true},
                                   {"f", false},
                                   {"x", platform::UserInfoNull{}},
                                   {"a", platform::UserInfoCompound{"[1,{\"k\":\"v\"}]"}}};
  EXPECT_EQ(pageMessageLine("%d%n", SafariPageProperties{Url{"https://e.com/a%20b?q=%s"}}, info),
            line("%d%n", "Optional(https://e.com/a%20b?q=%s)",
                 "\"z\": 100%s, \"n\": 1.5, \"t\": 1, \"f\": 0, \"x\": <null>, "
                 "\"a\": [1,{\"k\":\"v\"}]"));
}

TEST(PageMessageLog, CompletionsOutliveTheHandlerAndLogInTheOrderTheyRun) {
  testing::FakeExtension fake;
  HeldPage page;
  {
    const SafariExtensionHandler handler(fake.platform);
    handler.messageReceivedWithName("first", page, std::nullopt);
    handler.messageReceivedWithName("second", page, platform::UserInfo{{"k", std::string("v")}});
  }                                          // released before the properties arrive
  EXPECT_TRUE(fake.output.lines().empty());  // returned before any line
  ASSERT_EQ(page.pending.size(), 2u);
  page.pending[1](SafariPageProperties{Url{"https://a.example/"}});
  page.pending[0](std::nullopt);
  EXPECT_EQ(fake.output.lines(),
            (std::vector<std::string>{line("second", "Optional(https://a.example/)", "\"k\": v"),
                                      line("first", "nil", ":")}));
}

}  // namespace
}  // namespace tidingsbell
