#include <gtest/gtest.h>

#include "tests/process.hpp"
#include "tests/temp_folder.hpp"

namespace tidingsbell {
namespace {

using testing::programPath;
using Env = std::map<std::string, std::string>;

// A home for the keychain and defaults, and the stand-in programs around them.
class EndToEnd : public ::testing::Test {
 protected:
  testing::TempFolder folder;
  // The file keychain: a desktop session's keyring is never touched.
  Env env{{"XDG_DATA_HOME", (folder.path() / "data").string()},
          {"TIDINGSBELL_STANDIN_KEYCHAIN", "file"}};
  // Runs a program over the given input lines; returns its standard output.
  std::string run(const std::string& program, const std::vector<std::string>& lines,
                  Env extra = {}) {
    Env all = env;
    all.insert(extra.begin(), extra.end());
    const testing::Finished finished = testing::runToEnd({programPath(program)}, all, lines);
    lastErrors = finished.err;
    EXPECT_EQ(finished.status, 0) << program << " wrote on standard error:\n" << lastErrors;
    return finished.out;
  }
  std::string lastErrors;
  // The stored token in hex, as the keychain tool prints it.
  std::string findToken() {
    return testing::runToEnd({programPath("tidingsbell-keychain"), "find", "-s",
                              "com.marblequail.Tidingsbell", "-a", "personal_access_token"},
                             env)
        .out;
  }
};

TEST_F(EndToEnd, SettingsWindowCommands) {
  // The field shows a bullet per character, as a secure text field does; the keychain tells what
  // was saved.
  EXPECT_EQ(run("tidingsbell-settings",
                {"typejson \"  a\\nb \"", "submit", "type \xC3", "show", "reopen", "show",
                 "type caf\xC3\xA9 \xF0\x9F\x94\x94", "show", "type", "show", "bogus"}),
            "window label=\"Tidingsbell\" token=\"••••••\" mute=off focus=token\n"
            "window label=\"Tidingsbell\" token=\"••••••\" mute=off focus=token\n"
            "window label=\"Tidingsbell\" token=\"••••••\" mute=off focus=token\n"
            "window label=\"Tidingsbell\" token=\"\" mute=off focus=token\n");
  EXPECT_EQ(std::count(lastErrors.begin(), lastErrors.end(), '\n'), 2) << lastErrors;
  EXPECT_EQ(findToken(), "2020610a6220\n");

  EXPECT_EQ(run("tidingsbell-settings", {"prefs", "prefs", "wait"}),
            "preferences extension=\"com.marblequail.Tidingsbell.Extension\"\n"
            "preferences extension=\"com.marblequail.Tidingsbell.Extension\"\nidle\n");
  EXPECT_EQ(
      run("tidingsbell-settings", {"prefs", "wait"}, {{"TIDINGSBELL_STANDIN_SAFARI_FAILS", "1"}}),
      "Error Domain=SFErrorDomain Code=1 \"The operation couldn\u2019t be completed. "
      "(SFErrorDomain error 1.)\"\nidle\n");
}

// No session bus to ask: the file keychain, which the settings window names once on standard
// error, and the keychain tool's help names too.
TEST_F(EndToEnd, WithoutASessionBusTheFileKeychainIsUsedAndTheWindowSaysWhere) {
  env["TIDINGSBELL_STANDIN_KEYCHAIN"] = "";
  env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (folder.path() / "no-bus").string();
  run("tidingsbell-settings", {"type ghp_filed", "submit", "show"});
  const auto file = folder.path() / "data" / "tidingsbell" / "keychain.json";
  EXPECT_EQ(lastErrors, "tidingsbell-settings: the settings are kept in the file " + file.string() +
                            " (not encrypted): there is no Secret Service on the session bus\n");
  EXPECT_EQ(findToken(), "6768705f66696c6564\n");  // "ghp_filed"
  const auto help = testing::runToEnd({programPath("tidingsbell-keychain"), "--help"}, env);
  EXPECT_NE(help.out.find("the file " + file.string()), std::string::npos) << help.out;
}

TEST_F(EndToEnd, AdvanceRefusesWhatNoDateCanHoldAndChangesNothing) {
  run("tidingsbell-safari", {"advance nan", "advance inf", "advance -3.3e9", "validate"});
  std::string refused;
  for (int i = 0; i < 3; ++i)
    refused += "tidingsbell-safari: advance takes a finite number of seconds\n";
  EXPECT_EQ(lastErrors, refused);
  // The validation wrote today's time: the clock did not move.
  const testing::Finished read =
      testing::runToEnd({programPath("tidingsbell-defaults"), "read",
                         "com.marblequail.Tidingsbell.Extension", "last-check"},
                        env);
  EXPECT_TRUE(read.out.starts_with("date 20")) << read.out << read.err;
}

TEST_F(EndToEnd, SafariCommandsForPagesNotificationsAndBadInput) {
  const std::string out =
      run("tidingsbell-safari",
          {"notify show", "notify dismiss", "present", "page https://x.example/p%41",
           R"(message {"name":"m","userInfo":{"k":[1]}})", "validate 0", "frobnicate", "message [",
           "wait"});
  EXPECT_EQ(
      out,
      "open app=\"com.apple.Safari\" options=0x10000 url=\"https://github.com/notifications\"\n"
      "notification-done\nnotification-done\npresent options=4\nidle\n");
  EXPECT_NE(lastErrors.find(" tidingsbell-safari["), std::string::npos) << lastErrors;
  EXPECT_NE(lastErrors.find("] The extension received a message (m) from a script injected into "
                            "(Optional(https://x.example/p%41)) with userInfo ([\"k\": [1]])\n"),
            std::string::npos);
  EXPECT_EQ(std::count(lastErrors.begin(), lastErrors.end(), '\n'), 4) << lastErrors;
}

}  // namespace
}  // namespace tidingsbell
