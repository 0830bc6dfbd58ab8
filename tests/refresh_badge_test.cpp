#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "extension/RefreshBadge.hpp"
#include "platform/standin/user_defaults.hpp"
#include "tests/fakes.hpp"
#include "tests/temp_folder.hpp"

namespace tidingsbell {
namespace {

using platform::Bytes;
using platform::Date;
using platform::Seconds;
using testing::bytes;

class RefreshBadgeTest : public ::testing::Test {
 protected:
  testing::FakeExtension fake;
  const std::vector<std::shared_ptr<testing::RecordingSessions::Task>>& polls = fake.sessions.tasks;
  testing::HandlerProbe probe;

  void storeToken(std::string_view token) {
    fake.keychain.store("personal_access_token", bytes(token));
  }
  void storeLastCheck(Seconds ago) {
    fake.defaults.values["last-check"] = fake.clock.current - ago;
  }
  void validate() { refreshBadge(fake.platform, probe.handler()); }
  [[nodiscard]] bool lastCheckIsNow() const {
    const auto& stored = fake.defaults.values.at("last-check");
    return std::holds_alternative<Date>(stored) && std::get<Date>(stored) == fake.clock.current;
  }
};

// What is not a date in the past counts as absent, so the badge never freezes.
TEST_F(RefreshBadgeTest, ALastCheckThatIsNoPastDateCountsAsAbsent) {
  storeToken("t");
  for (const platform::PropertyListValue& odd :
       {platform::PropertyListValue(std::string("x")), platform::PropertyListValue(std::int64_t{5}),
        platform::PropertyListValue(platform::OtherPropertyListObject{}),
        platform::PropertyListValue(fake.clock.current + Seconds(3 * 3600))}) {
    fake.defaults.values["last-check"] = odd;
    validate();
    EXPECT_TRUE(lastCheckIsNow());
  }
  EXPECT_EQ(polls.size(), 4u);
}

TEST_F(RefreshBadgeTest, ThrottledWithinTheMinuteAndAtTheThresholdItself) {
  storeToken("t");
  for (const Seconds ago : {Seconds(0), Seconds(30), Seconds(60)}) {
    storeLastCheck(ago);
    validate();
  }
  EXPECT_TRUE(polls.empty());
  EXPECT_EQ(fake.defaults.writes, 0);
  EXPECT_TRUE(fake.keychain.calls.empty());  // a throttled validation never touches it
  EXPECT_TRUE(probe.calls->empty());
  EXPECT_TRUE(probe.released());  // released uncalled

  storeLastCheck(Seconds(60.001));
  validate();
  EXPECT_EQ(polls.size(), 1u);
  // A calendar that gives no date throttles against now itself.
  fake.clock.calendarGivesNoDate = true;
  storeLastCheck(Seconds(0));
  validate();
  storeLastCheck(Seconds(1));
  validate();
  EXPECT_EQ(polls.size(), 2u);
}

TEST_F(RefreshBadgeTest, NoTokenStillRecordsTheTimeAndReleasesTheHandlerUncalled) {
  validate();
  EXPECT_TRUE(lastCheckIsNow());
  ASSERT_EQ(fake.keychain.calls.size(), 1u);  // the mute flag is not read
  EXPECT_TRUE(polls.empty());
  EXPECT_TRUE(probe.released());
  EXPECT_TRUE(probe.calls->empty());
}

TEST_F(RefreshBadgeTest, OnlyAMuteFlagOfOneClearsTheBadgeAtOnceAndSendsNothing) {
  storeToken("t");
  for (const std::optional<Bytes>& flag :
       {std::optional<Bytes>(), std::optional(Bytes{0x00}), std::optional(Bytes{0x01})}) {
    if (flag) fake.keychain.store("mute_switch", *flag);
    fake.clock.current += Seconds(61);
    validate();
  }
  EXPECT_EQ(polls.size(), 2u);
  EXPECT_EQ(*probe.calls, (std::vector<std::pair<bool, std::string>>{{true, ""}}));
}

// An empty token still polls; one with a control character never leaves.
TEST_F(RefreshBadgeTest, TokenWithAControlCharacterIsNeverSent) {
  for (const std::string& token :
       {std::string("ab\ncd"), std::string("a\rb"), std::string("a\0b", 3), std::string("x\x7F")}) {
    storeToken(token);
    testing::HandlerProbe own;
    fake.defaults.values.clear();
    refreshBadge(fake.platform, own.handler());
    EXPECT_EQ(*own.calls, (std::vector<std::pair<bool, std::string>>{{true, ""}}));
  }
  EXPECT_TRUE(polls.empty());
  const std::string line =
      "The personal access token was not sent: it contains a control character\n";
  EXPECT_EQ(fake.output.text(), line + line + line + line);

  for (const std::string fine : {"tab\tand \xC3\xA9 are fine", ""}) {
    storeToken(fine);
    fake.defaults.values.clear();
    validate();
    EXPECT_EQ(
        polls.back()->request.headerFields,
        (std::vector<std::pair<std::string, std::string>>{{"Authorization", "Bearer " + fine}}));
  }
}

// The throttle over the stand-in defaults file.
class DefaultsFileTest : public ::testing::Test {
 protected:
  testing::TempFolder folder;
  std::filesystem::path file =
      folder.path() / "defaults" / "com.marblequail.Tidingsbell.Extension.json";
  testing::FakeExtension fake;
  standin::FileUserDefaults defaults{file};
  const ExtensionPlatform withFile = fake.with(defaults, fake.sessions, fake.output);
  const std::vector<std::shared_ptr<testing::RecordingSessions::Task>>& polls = fake.sessions.tasks;
  void SetUp() override { fake.keychain.store("personal_access_token", bytes("t")); }
};

TEST_F(DefaultsFileTest, ThrottleHoldsWhileTheTimeCannotBeSavedAndItIsSavedLater) {
  const auto blocker = folder.path() / "defaults";
  std::ofstream(blocker) << "";  // where the folder should be: nothing can be saved, even by root
  for (int second = 0; second < 120; ++second) {
    refreshBadge(withFile, {});
    fake.clock.current += Seconds(1);
  }
  EXPECT_EQ(polls.size(), 2u);  // once a minute, not once a validation

  std::filesystem::remove(blocker);
  EXPECT_TRUE(defaults.set(std::int64_t{1}, "other"));
  standin::FileUserDefaults other(file);
  EXPECT_TRUE(other.objectForKey("last-check").has_value());  // went out with the next change
  EXPECT_FALSE(defaults.set(Date(Seconds(std::nan(""))), "last-check"));
  EXPECT_TRUE(std::isfinite(
      std::get<Date>(*defaults.objectForKey("last-check")).time_since_epoch().count()));
}

// A domain too full to take the time (filled through the defaults tool) holds the throttle too.
TEST_F(DefaultsFileTest, ThrottleHoldsWhenTheDomainIsTooFullForTheTime) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << "{\"f\":{\"string\":\""
                      << std::string(standin::StoredFile::kMaximumBytes - 30, 'f') << "\"}}";
  for (int i = 0; i < 5; ++i) {
    refreshBadge(withFile, {});
    fake.clock.current += Seconds(0.2);
  }
  EXPECT_EQ(polls.size(), 1u);
}

}  // namespace
}  // namespace tidingsbell
