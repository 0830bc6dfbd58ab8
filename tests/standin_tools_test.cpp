#include <curl/curl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "standin/github_server.hpp"
#include "tests/process.hpp"
#include "tests/temp_folder.hpp"

namespace tidingsbell {
namespace {

using testing::ChildProcess;
using testing::programPath;

using ToolRun = testing::Finished;
using testing::runToEnd;

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
  const std::string domain = "com.marblequail.Tidingsbell.Extension";
  EXPECT_EQ(defaults({"write", domain, "last-check", "-date", "2026-12-06T19:00:00Z"}).status, 0);
  EXPECT_EQ(defaults({"read", domain, "last-check"}).out, "date 2026-12-06T19:00:00Z\n");
  EXPECT_EQ(defaults({"write", domain, "last-check", "-date", "2026-12-06T20:30:00+01:30"}).status,
            0);
  EXPECT_EQ(defaults({"read", domain, "last-check"}).out, "date 2026-12-06T19:00:00Z\n");
  EXPECT_EQ(defaults({"write", domain, "s", "-string", "say \"hi\"\n"}).status, 0);
  EXPECT_EQ(defaults({"read", domain, "s"}).out, "string \"say \\\"hi\\\"\\n\"\n");
  EXPECT_EQ(defaults({"write", domain, "n", "-int", "-5"}).status, 0);
  EXPECT_EQ(defaults({"read", domain, "n"}).out, "int -5\n");
  EXPECT_EQ(defaults({"delete", domain, "n"}).status, 0);
  const ToolRun missing = defaults({"read", domain, "n"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1);
  EXPECT_EQ(defaults({"delete", domain, "n"}).status, 1);
}

// Each program as a command-line tool: help and version on standard output, and every usage
// error (not a failure of the work itself) as exit 2 with the usage on standard error.
TEST_F(ToolTest, EveryProgramAnswersHelpVersionAndUsageErrors) {
  const std::vector<std::string> programs = {"tidingsbell-safari", "tidingsbell-settings",
                                             "tidingsbell-github", "tidingsbell-keychain",
                                             "tidingsbell-defaults"};
  for (const auto& name : programs) {
    SCOPED_TRACE(name);
    const ToolRun help = run(name, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("usage: " + name)) << help.out;
    EXPECT_EQ(help.err, "");
    const ToolRun version = run(name, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, name + " " + kTidingsbellVersionForTests + "\n");
  }
  const std::string domain = "com.marblequail.Tidingsbell.Extension";
  const std::vector<std::vector<std::string>> usageErrors = {
      {"tidingsbell-safari", "--verbose"},
      {"tidingsbell-settings", "extra"},
      {"tidingsbell-github", "--certs"},
      {"tidingsbell-github", "--certs", "dir", "--frobnicate"},
      {"tidingsbell-keychain"},
      {"tidingsbell-keychain", "frobnicate"},
      {"tidingsbell-keychain", "find", "-s", "svc"},
      {"tidingsbell-keychain", "find", "-s", "svc", "-a"},
      {"tidingsbell-keychain", "find", "-s", "svc", "-a", "acct", "-w", "secret"},
      {"tidingsbell-keychain", "add", "-s", "svc", "-a", "acct", "-x", "0"},
      {"tidingsbell-defaults", "read", domain},
      {"tidingsbell-defaults", "read", domain, "k", "extra"},
      {"tidingsbell-defaults", "write", domain, "n", "-int", "5x"},
      {"tidingsbell-defaults", "write", domain, "d", "-date", "yesterday"},
      {"tidingsbell-defaults", "write", domain, "d", "-float", "1"},
      {"tidingsbell-defaults", "read", "../escape", "k"}};
  for (auto args : usageErrors) {
    SCOPED_TRACE(args.size() > 1 ? args[0] + " " + args[1] : args[0]);
    args[0] = programPath(args[0]);
    const ToolRun run = runToEnd(args, env);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage: "), std::string::npos) << run.err;
  }
}

TEST_F(ToolTest, DefaultsToolShowsDatesWithoutAFourDigitYearAsSeconds) {
  const std::string domain = "com.marblequail.Tidingsbell.Extension";
  const auto file = home.path() / "tidingsbell" / "defaults" / (domain + ".json");
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
    EXPECT_EQ(defaults({"read", domain, "last-check"}).out, shown);
  }
}

// The stand-in GitHub, run as its program.
struct Answer {
  long status = 0;
  std::string headers, body;
};

std::size_t append(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

Answer get(const std::string& url, int port, const std::filesystem::path& ca,
           const std::string& authorization) {
  Answer answer;
  CURL* curl = curl_easy_init();
  curl_slist* connectTo =
      curl_slist_append(nullptr, ("::127.0.0.1:" + std::to_string(port)).c_str());
  // An empty value takes the header away, as if it were never set.
  curl_slist* headers = curl_slist_append(nullptr, ("Authorization: " + authorization).c_str());
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CONNECT_TO, connectTo);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, append);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &answer.headers);
  if (curl_easy_perform(curl) == CURLE_OK)
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
  curl_easy_cleanup(curl);
  curl_slist_free_all(connectTo);
  curl_slist_free_all(headers);
  return answer;
}

std::size_t countOf(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class GithubProgramTest : public ::testing::Test {
 protected:
  testing::TempFolder folder;
  std::filesystem::path certs = folder.path() / "certs";
  std::unique_ptr<ChildProcess> server;
  int port = 0;

  void start(std::vector<std::string> args) {
    args.insert(args.begin(), {programPath("tidingsbell-github"), "--certs", certs.string()});
    server = std::make_unique<ChildProcess>(args, std::map<std::string, std::string>{});
    const auto line = server->readLine();
    ASSERT_TRUE(line && line->starts_with("listening 127.0.0.1:")) << line.value_or("<nothing>");
    port = std::stoi(line->substr(20));
  }
  void stop() {
    ::kill(server->pid(), SIGTERM);
    EXPECT_EQ(server->wait(), 0);
  }
  Answer api(const std::string& pathAndQuery, const std::string& authorization = "Bearer t") {
    return get("https://api.github.com" + pathAndQuery, port, certs / "ca.pem", authorization);
  }
};

TEST_F(GithubProgramTest, CertificatesAreMadeOnceAndReusedAndBothHostsAnswer) {
  start({});
  std::ifstream in(certs / "ca.pem");
  const std::string ca((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  stop();
  start({});
  std::ifstream again(certs / "ca.pem");
  EXPECT_EQ(ca,
            std::string((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()));
  EXPECT_EQ(api("/notifications").status, 200);  // the reused authority still verifies
  const Answer page = get("https://github.com/notifications", port, certs / "ca.pem", "");
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("<html"), std::string::npos);
  stop();
}

// Without --token every token is accepted, with it exactly that one, and the empty token too:
// HTTP trims the header value, so it arrives as "Bearer" and must still count.
TEST_F(GithubProgramTest, WrongOrMissingTokenGetsGithubsBadCredentials) {
  const std::vector<std::tuple<std::vector<std::string>, std::string, long>> cases = {
      {{}, "Bearer ", 200},
      {{}, "Bearer any", 200},
      {{"--token", ""}, "Bearer ", 200},
      {{"--token", ""}, "Bearer any", 401},
      {{"--token", "right"}, "Bearer right", 200},
      {{"--token", "right"}, "Bearer wrong", 401},
      {{"--token", "right"}, "", 401},
      {{"--token", "right"}, "token right", 401},
      {{"--token", "right"}, "Bearer ", 401}};
  for (const auto& [args, authorization, status] : cases) {
    start(args);
    const Answer answer = api("/notifications", authorization);
    EXPECT_EQ(answer.status, status) << authorization;
    EXPECT_EQ(answer.body == standin::kBadCredentialsBody, status == 401);
    stop();
  }
}

TEST_F(GithubProgramTest, PagesBeyondFiftyWithGithubsLinkHeader) {
  start({"--count", "120"});
  const Answer first = api("/notifications");
  EXPECT_EQ(countOf(first.body, "\"subscription_url\""), 50u);
  EXPECT_NE(first.headers.find("Link: <https://api.github.com/notifications?page=2>; rel=\"next\", "
                               "<https://api.github.com/notifications?page=3>; rel=\"last\""),
            std::string::npos)
      << first.headers;
  const Answer last = api("/notifications?page=3");
  EXPECT_EQ(countOf(last.body, "\"subscription_url\""), 20u);
  EXPECT_EQ(last.headers.find("Link:"), std::string::npos);
  stop();
}

TEST_F(GithubProgramTest, FixedAnswerAndRequestLog) {
  const auto body = folder.path() / "body.json";
  std::ofstream(body) << "{\"message\":\"boom\"}";
  const auto log = folder.path() / "requests.jsonl";
  start({"--status", "503", "--body", body.string(), "--requests", log.string()});
  const Answer answer = api("/notifications?all=true", "Bearer x\ty");
  EXPECT_EQ(answer.status, 503);
  EXPECT_EQ(answer.body, "{\"message\":\"boom\"}");
  stop();
  std::ifstream in(log);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_TRUE(line.starts_with(
      R"({"method":"GET","host":"api.github.com","path":"/notifications?all=true","headers":{)"))
      << line;
  EXPECT_NE(line.find(R"("Authorization":"Bearer x\ty")"), std::string::npos) << line;
  EXPECT_FALSE(std::getline(in, line));
}

TEST_F(GithubProgramTest, StallingServerStillStopsAtOnce) {
  start({"--stall"});
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, ("https://127.0.0.1:" + std::to_string(port) + "/").c_str());
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 300L);
  EXPECT_EQ(curl_easy_perform(curl), CURLE_OPERATION_TIMEDOUT);
  curl_easy_cleanup(curl);
  stop();
}

}  // namespace
}  // namespace tidingsbell
