#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/standin/stored_file.hpp"
#include "tests/process.hpp"
#include "tests/temp_folder.hpp"

namespace tidingsbell {
namespace {

using testing::programPath;

using ToolRun = testing::Finished;
using testing::runToEnd;

const std::vector<std::string> kPrograms = {"tidingsbell-safari", "tidingsbell-settings",
                                            "tidingsbell-github", "tidingsbell-keychain",
                                            "tidingsbell-defaults"};
const std::string kDomain = "com.marblequail.Tidingsbell.Extension";

std::string contents(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ToolTest : public ::testing::Test {
 protected:
  testing::TempFolder home;
  std::map<std::string, std::string> env{{"XDG_DATA_HOME", home.path().string()},
                                         {"TIDINGSBELL_STANDIN_KEYCHAIN", "file"}};
  ToolRun run(const std::string& name, std::vector<std::string> args) {
    args.insert(args.begin(), programPath(name));
    return runToEnd(args, env);
  }
  ToolRun keychain(const std::vector<std::string>& args) {
    return run("tidingsbell-keychain", args);
  }
  ToolRun defaults(const std::vector<std::string>& args) {
    return run("tidingsbell-defaults", args);
  }
};

TEST_F(ToolTest, KeychainToolExitStatusesAndHexValues) {
  EXPECT_EQ(keychain({"find", "-s", "svc", "-a", "acct"}).status, 44);
  EXPECT_EQ(keychain({"add", "-s", "svc", "-a", "acct", "-w", "h\xC3\xA9"}).status, 0);
  const ToolRun duplicate = keychain({"add", "-s", "svc", "-a", "acct", "-x", "00"});
  EXPECT_EQ(duplicate.status, 45);
  EXPECT_NE(duplicate.err.find("tidingsbell-keychain: "), std::string::npos);
  EXPECT_EQ(keychain({"find", "-s", "svc", "-a", "acct"}).out, "68c3a9\n");
  EXPECT_EQ(keychain({"delete", "-s", "svc", "-a", "acct"}).status, 0);
  EXPECT_EQ(keychain({"delete", "-s", "svc", "-a", "acct"}).status, 44);
  EXPECT_EQ(keychain({"add", "-s", "svc", "-a", "m", "-x", "0001FF"}).status, 0);
  EXPECT_EQ(keychain({"find", "-s", "svc", "-a", "m"}).out, "0001ff\n");
}

TEST_F(ToolTest, DefaultsToolReadsWritesAndDeletesTypedValues) {
  EXPECT_EQ(defaults({"write", kDomain, "last-check", "-date", "2026-12-06T19:00:00Z"}).status, 0);
  EXPECT_EQ(defaults({"read", kDomain, "last-check"}).out, "date 2026-12-06T19:00:00Z\n");
  EXPECT_EQ(defaults({"write", kDomain, "last-check", "-date", "2026-12-06T20:30:00+01:30"}).status,
            0);
  EXPECT_EQ(defaults({"read", kDomain, "last-check"}).out, "date 2026-12-06T19:00:00Z\n");
  EXPECT_EQ(defaults({"write", kDomain, "s", "-string", "say \"hi\"\n"}).status, 0);
  EXPECT_EQ(defaults({"read", kDomain, "s"}).out, "string \"say \\\"hi\\\"\\n\"\n");
  EXPECT_EQ(defaults({"write", kDomain, "n", "-int", "-5"}).status, 0);
  EXPECT_EQ(defaults({"read", kDomain, "n"}).out, "int -5\n");
  EXPECT_EQ(defaults({"delete", kDomain, "n"}).status, 0);
  const ToolRun missing = defaults({"read", kDomain, "n"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1);
  EXPECT_EQ(defaults({"delete", kDomain, "n"}).status, 1);
}

// Each program as a command-line tool: help and version on standard output, and every usage
// error (not a failure of the work itself) as exit 2 with the usage on standard error.
TEST_F(ToolTest, EveryProgramAnswersHelpVersionAndUsageErrors) {
  for (const auto& name : kPrograms) {
    SCOPED_TRACE(name);
    const ToolRun help = run(name, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("usage: " + name)) << help.out;
    EXPECT_EQ(help.err, "");
    const ToolRun version = run(name, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, name + " " + kTidingsbellVersionForTests + "\n");
  }
  const std::vector<std::vector<std::string>> usageErrors = {
      {"tidingsbell-safari", "--verbose"},
      {"tidingsbell-keychain", "--help", "extra"},
      {"tidingsbell-github", "--version", "x"},
      {"tidingsbell-github", "--certs"},
      {"tidingsbell-github", "--certs", "dir", "--frobnicate"},
      {"tidingsbell-github", "--certs", "dir", "--port", " 1"},
      {"tidingsbell-keychain"},
      {"tidingsbell-keychain", "frobnicate"},
      {"tidingsbell-keychain", "find", "-s", "svc"},
      {"tidingsbell-keychain", "find", "-s", "svc", "-a"},
      {"tidingsbell-keychain", "find", "-s", "svc", "-a", "acct", "-w", "secret"},
      {"tidingsbell-keychain", "add", "-s", "svc", "-a", "acct", "-x", "0"},
      {"tidingsbell-defaults", "read", kDomain},
      {"tidingsbell-defaults", "write", kDomain, "n", "-int", "5x"},
      {"tidingsbell-defaults", "write", kDomain, "d", "-date", "yesterday"},
      {"tidingsbell-defaults", "write", kDomain, "d", "-date", "2024-02-31T00:00:00Z"},
      {"tidingsbell-defaults", "write", kDomain, "d", "-date", "2024-01-01T 1:00:00Z"},
      {"tidingsbell-defaults", "write", kDomain, "d", "-date", "-001-01-01T00:00:00Z"},
      {"tidingsbell-defaults", "write", kDomain, "d", "-date", "2024-01-01T00:00:60Z"},
      {"tidingsbell-defaults", "write", kDomain, "d", "-date", "0000-01-01T00:00:00Z"},
      {"tidingsbell-defaults", "write", kDomain, "d", "-date", "0001-01-01T00:00:00+00:01"},
      {"tidingsbell-defaults", "write", kDomain, "d", "-date", "2024-01-01T00:00:00+99:99"},
      {"tidingsbell-defaults", "write", kDomain, "d", "-date", "2024-01-01T00:00:00+-1:00"},
      {"tidingsbell-defaults", "write", kDomain, "d", "-float", "1"},
      {"tidingsbell-defaults", "read", "../escape", "k"}};
  for (auto args : usageErrors) {
    SCOPED_TRACE(args.size() > 1 ? args[0] + " " + args[1] + " " + args.back() : args[0]);
    args[0] = programPath(args[0]);
    const ToolRun run = runToEnd(args, env);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage: "), std::string::npos) << run.err;
  }
  // A misspelt command word before a token: the word alone is named, never the rest of the line.
  const ToolRun misspelt =
      runToEnd({programPath("tidingsbell-settings")}, env, {"tpye ghp_secret", "quit"});
  EXPECT_NE(misspelt.err.find("unknown command: tpye\n"), std::string::npos) << misspelt.err;
  EXPECT_EQ(misspelt.err.find("ghp_secret"), std::string::npos);
}

// Failures of the work itself exit 1: output that could not be written (the stand-in Safari's
// badge lines included), a body or request log that is a folder, a FIFO among the certificates
// (opened, it would block for good).
TEST_F(ToolTest, OutputThatCannotBeWrittenAndAFolderAsTheBodyExitOne) {
  ASSERT_EQ(keychain({"add", "-s", "svc", "-a", "acct", "-w", "v"}).status, 0);
  ASSERT_EQ(defaults({"write", kDomain, "k", "-int", "1"}).status, 0);
  std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> toFullDisk = {
      {{"tidingsbell-keychain", "find", "-s", "svc", "-a", "acct"}, {}},
      {{"tidingsbell-defaults", "read", kDomain, "k"}, {}},
      {{"tidingsbell-safari"}, {"wait", "quit"}},
      {{"tidingsbell-github", "--certs", (home.path() / "certs").string()}, {}}};
  for (const auto& name : kPrograms) {
    toFullDisk.push_back({{name, "--help"}, {}});
    toFullDisk.push_back({{name, "--version"}, {}});
  }
  for (auto [args, lines] : toFullDisk) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    args[0] = programPath(args[0]);
    args.insert(args.begin(), {"/bin/sh", "-c", "exec \"$@\" >/dev/full", "sh"});
    const ToolRun run = runToEnd(args, env, lines);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot write standard output"), std::string::npos) << run.err;
  }
  const auto fifoCerts = home.path() / "fifo-certs";
  std::filesystem::create_directory(fifoCerts);
  ASSERT_EQ(::mkfifo((fifoCerts / "ca.pem").c_str(), 0600), 0);
  const std::vector<std::vector<std::string>> unusable = {
      {"--certs", (home.path() / "certs").string(), "--status", "200", "--body",
       home.path().string()},
      {"--certs", (home.path() / "certs").string(), "--requests", home.path().string()},
      {"--certs", fifoCerts.string()}};
  for (const auto& args : unusable) {
    SCOPED_TRACE(args.back());
    const ToolRun failed = run("tidingsbell-github", args);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "");
  }
}

// What the stores' own readers would refuse is refused before anything is written: a name that
// is not UTF-8, a store that would pass 1 MiB, a 600 kB token typed into the settings window.
// Written, it would read back as corrupt and cost every item of the file.
TEST_F(ToolTest, ChangesTheReadersWouldRefuseLeaveBothStoresAsTheyWere) {
  for (int i = 0; i < 5; ++i) {  // about 1,000,000 bytes of a keychain file, in hexadecimal
    ASSERT_EQ(
        keychain({"add", "-s", "filler", "-a", std::to_string(i), "-w", std::string(100'000, 'f')})
            .status,
        0);
  }
  const std::string service = "com.marblequail.Tidingsbell";
  ASSERT_EQ(keychain({"add", "-s", service, "-a", "mute_switch", "-x", "01"}).status, 0);
  // Last, where a save that fails puts it back.
  ASSERT_EQ(keychain({"add", "-s", service, "-a", "personal_access_token", "-w", "good"}).status,
            0);
  const auto keychainFile = home.path() / "tidingsbell" / "keychain.json";
  const auto defaultsFile = home.path() / "tidingsbell" / "defaults" / (kDomain + ".json");
  std::filesystem::create_directories(defaultsFile.parent_path());
  std::ofstream(defaultsFile) << "{\"f\":{\"string\":\"" << std::string(1'000'000, 'f') << "\"}}";
  const std::string keychainBefore = contents(keychainFile);
  const std::string defaultsBefore = contents(defaultsFile);
  struct Change {
    std::vector<std::string> args;
    std::vector<std::string> lines;
    int status;
  };
  const std::vector<Change> changes = {
      {{"tidingsbell-keychain", "add", "-s", "other", "-a", "\xFF", "-w", "x"}, {}, 1},
      {{"tidingsbell-keychain", "add", "-s", "o", "-a", "a", "-w", std::string(30'000, 'x')},
       {},
       1},
      {{"tidingsbell-defaults", "write", kDomain, "s", "-string", std::string(60'000, 's')}, {}, 1},
      {{"tidingsbell-settings"}, {"type " + std::string(600'000, 't'), "submit", "quit"}, 0}};
  for (std::size_t i = 0; i < changes.size(); ++i) {
    SCOPED_TRACE("change " + std::to_string(i));
    auto args = changes[i].args;
    args[0] = programPath(args[0]);
    EXPECT_EQ(runToEnd(args, env, changes[i].lines).status, changes[i].status);
    EXPECT_TRUE(contents(keychainFile) == keychainBefore);
    EXPECT_TRUE(contents(defaultsFile) == defaultsBefore);
  }
}

TEST_F(ToolTest, DefaultsToolShowsDatesWithoutAFourDigitYearAsSeconds) {
  const auto file = home.path() / "tidingsbell" / "defaults" / (kDomain + ".json");
  std::filesystem::create_directories(file.parent_path());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"1e300", "date 1e+300s\n"},
      {"-1e300", "date -1e+300s\n"},
      {"-62135596801", "date -62135596801s\n"},
      {"-62135596800", "date 0001-01-01T00:00:00Z\n"},
      {"253402300799.5", "date 9999-12-31T23:59:59Z\n"},
      {"253402300800", "date 253402300800s\n"}};
  for (const auto& [seconds, shown] : cases) {
    std::ofstream(file, std::ios::trunc) << "{\"last-check\":{\"date\":" << seconds << "}}";
    EXPECT_EQ(defaults({"read", kDomain, "last-check"}).out, shown);
  }
}

// A process stopped while it holds a store's lock costs the others a change that fails after a
// bounded wait, never a hang.
TEST(StoredFileTest, AChangeGivesUpOnALockHeldElsewhere) {
  const testing::TempFolder folder;
  const auto path = folder.path() / "store.json";
  const int held = ::open((path.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const standin::StoredFile file(path, std::chrono::milliseconds(100));
  auto write = [](const standin::StoredFile::Contents&) { return std::optional<std::string>("x"); };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(file.update(write));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ::close(held);
  EXPECT_TRUE(file.update(write));
}

}  // namespace
}  // namespace tidingsbell
