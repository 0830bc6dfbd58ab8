#include <gtest/gtest.h>

#include <fstream>

#include "tests/process.hpp"
#include "tests/temp_folder.hpp"

namespace tidingsbell {
namespace {

using testing::ChildProcess;
using testing::programPath;
using Env = std::map<std::string, std::string>;

// A stand-in GitHub, a home for the keychain and defaults, and the stand-in programs around them.
class EndToEnd : public ::testing::Test {
 protected:
  testing::TempFolder folder;
  std::unique_ptr<ChildProcess> github;
  // The file keychain: a desktop session's keyring is never touched.
  Env env{{"XDG_DATA_HOME", (folder.path() / "data").string()},
          {"TIDINGSBELL_STANDIN_KEYCHAIN", "file"}};
  std::filesystem::path requestLog = folder.path() / "requests.jsonl";

  void startGithub(const std::string& token, int count) {
    github = std::make_unique<ChildProcess>(
        std::vector<std::string>{programPath("tidingsbell-github"), "--certs",
                                 (folder.path() / "certs").string(), "--token", token, "--count",
                                 std::to_string(count), "--requests", requestLog.string()},
        Env{});
    const auto line = github->readLine();
    ASSERT_TRUE(line && line->starts_with("listening 127.0.0.1:"));
    const std::string port = line->substr(20);
    env["TIDINGSBELL_STANDIN_CONNECT_TO"] =
        "api.github.com:443:127.0.0.1:" + port + ",github.com:443:127.0.0.1:" + port;
    env["TIDINGSBELL_STANDIN_CA_FILE"] = (folder.path() / "certs" / "ca.pem").string();
  }
  void TearDown() override {
    if (github) {
      ::kill(github->pid(), SIGTERM);
      EXPECT_EQ(github->wait(), 0);
    }
  }
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

TEST_F(EndToEnd, SafariBadgeFollowsGithubThroughTheThrottle) {
  startGithub("right", 3);
  ChildProcess safari({programPath("tidingsbell-safari")}, env);
  ChildProcess store({programPath("tidingsbell-keychain"), "add", "-s",
                      "com.marblequail.Tidingsbell", "-a", "personal_access_token", "-w", "right"},
                     env);
  ASSERT_EQ(store.wait(), 0);

  safari.send("validate");
  safari.send("wait");
  EXPECT_EQ(safari.readLine(), "badge enabled=true text=\"3\"");
  EXPECT_EQ(safari.readLine(), "idle");

  safari.send("validate 2");  // another window, within the minute: throttled
  github->send("count 12");
  EXPECT_EQ(github->readLine(), "count 12");
  safari.send("wait");
  EXPECT_EQ(safari.readLine(), "idle");

  safari.send("advance 61");
  safari.send("validate");
  safari.send("wait");
  EXPECT_EQ(safari.readLine(), "badge enabled=true text=\"12\"");
  EXPECT_EQ(safari.readLine(), "idle");

  ChildProcess wrong({programPath("tidingsbell-settings")}, env);
  wrong.send("type wrong");
  wrong.send("submit");
  wrong.closeInput();
  ASSERT_EQ(wrong.wait(), 0);
  safari.send("advance 61");
  safari.send("validate");
  safari.send("quit");
  EXPECT_EQ(safari.readLine(), "badge enabled=true text=\"\"");
  EXPECT_EQ(safari.readLine(), "Request failed with HTTP status 401");
  EXPECT_EQ(safari.wait(), 0);
  EXPECT_EQ(safari.remainingOutput(), "");
}

TEST_F(EndToEnd, TokenSavedInTheWindowIsTheOneTheExtensionSends) {
  startGithub("ghp_from window", 2);
  const std::string window = run("tidingsbell-settings", {"show", "type ghp_from window", "submit",
                                                          "mute off", "reopen", "show"});
  EXPECT_EQ(window,
            "window label=\"Tidingsbell\" token=\"\" mute=off focus=token\n"
            "window label=\"Tidingsbell\" token=\"•••••••••••••••\" "
            "mute=off focus=token\n");
  EXPECT_EQ(run("tidingsbell-safari", {"validate", "click"}),
            "tab window=1 url=\"https://github.com/notifications\" active=true\n"
            "badge enabled=true text=\"2\"\n");
  std::ifstream in(requestLog);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_NE(line.find("\"Authorization\":\"Bearer ghp_from window\""), std::string::npos) << line;

  run("tidingsbell-settings", {"mute on"});
  EXPECT_EQ(run("tidingsbell-safari", {"advance 61", "validate"}),
            "badge enabled=true text=\"\"\n");
}

TEST_F(EndToEnd, SettingsWindowCommands) {
  // The field shows a bullet per character, as a secure text field does; the keychain tells what
  // was saved.
  EXPECT_EQ(
      run("tidingsbell-settings",
          {"typejson \"  a\\nb \"", "submit", "type \xC3", "show", "mute mixed", "show", "reopen",
           "show", "type caf\xC3\xA9 \xF0\x9F\x94\x94", "show", "type", "show", "bogus"}),
      "window label=\"Tidingsbell\" token=\"••••••\" mute=off focus=token\n"
      "window label=\"Tidingsbell\" token=\"••••••\" mute=mixed focus=token\n"
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

TEST_F(EndToEnd, ASaveThatCannotBeWrittenKeepsTheTokenThatWorked) {
  run("tidingsbell-settings", {"type ghp_old", "submit"});
  // A full disk: the longer token no longer fits, the old one fits back where it was.
  run("tidingsbell-settings", {"type ghp_a much longer token", "submit"},
      {{"TIDINGSBELL_STANDIN_KEYCHAIN_ADD_FAILS", "1"}});
  EXPECT_EQ(findToken(), "6768705f6f6c64\n");  // "ghp_old"
}

// No session bus to ask: the file keychain, which the settings window names once on standard
// error, and the keychain tool's help names too.
TEST_F(EndToEnd, WithoutASessionBusTheFileKeychainIsUsedAndTheWindowSaysWhere) {
  env["TIDINGSBELL_STANDIN_KEYCHAIN"] = "";
  env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (folder.path() / "no-bus").string();
  run("tidingsbell-settings", {"type ghp_filed", "submit", "show"});
  const auto file = folder.path() / "data" / "tidingsbell" / "keychain.json";
  EXPECT_EQ(lastErrors, "tidingsbell-settings: the settings are kept in the file " + file.string() +
                            " (not encrypted): no Secret Service answers on the session bus\n");
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
          {"notify default", "notify show", "notify  show", "notify dismiss", "present",
           "page none", R"x(message {"name":"a%b(c)"})x", "page https://x.example/p%41",
           R"(message {"name":"m","userInfo":{"k":[1]}})", "validate 0", "frobnicate", "message [",
           "wait"});
  EXPECT_EQ(
      out,
      "open app=\"com.apple.Safari\" options=0x10000 url=\"https://github.com/notifications\"\n"
      "notification-done\n"
      "open app=\"com.apple.Safari\" options=0x10000 url=\"https://github.com/notifications\"\n"
      "notification-done\nnotification-done\nnotification-done\npresent options=4\nidle\n");
  EXPECT_NE(lastErrors.find(" tidingsbell-safari["), std::string::npos) << lastErrors;
  EXPECT_NE(lastErrors.find("] The extension received a message (a%b(c)) from a script injected "
                            "into (nil) with userInfo ([:])\n"),
            std::string::npos);
  EXPECT_NE(lastErrors.find("] The extension received a message (m) from a script injected into "
                            "(Optional(https://x.example/p%41)) with userInfo ([\"k\": [1]])\n"),
            std::string::npos);
  EXPECT_EQ(std::count(lastErrors.begin(), lastErrors.end(), '\n'), 5) << lastErrors;
}

}  // namespace
}  // namespace tidingsbell
