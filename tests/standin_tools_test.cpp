#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <system_error>

#include "platform/standin/url_session.hpp"
#include "standin/github_server.hpp"
#include "tests/process.hpp"
#include "tests/temp_folder.hpp"

namespace tidingsbell {
namespace {

using testing::ChildProcess;
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
  std::map<std::string, std::string> env{{"XDG_DATA_HOME", home.path().string()}};
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
  const std::string domain = "com.marblequail.Tidingsbell.Extension";
  const std::vector<std::vector<std::string>> usageErrors = {
      {"tidingsbell-safari", "--verbose"},
      {"tidingsbell-settings", "extra"},
      {"tidingsbell-github", "--certs"},
      {"tidingsbell-github", "--certs", "dir", "--frobnicate"},
      {"tidingsbell-github", "--certs", "dir", "--port", " 1"},
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
      {"tidingsbell-defaults", "write", domain, "d", "-date", "2024-02-31T00:00:00Z"},
      {"tidingsbell-defaults", "write", domain, "d", "-date", "2024-01-01T 1:00:00Z"},
      {"tidingsbell-defaults", "write", domain, "d", "-date", "-001-01-01T00:00:00Z"},
      {"tidingsbell-defaults", "write", domain, "d", "-date", "2024-01-01T00:00:00+99:99"},
      {"tidingsbell-defaults", "write", domain, "d", "-date", "2024-01-01T00:00:00+-1:00"},
      {"tidingsbell-defaults", "write", domain, "d", "-float", "1"},
      {"tidingsbell-defaults", "read", "../escape", "k"}};
  for (auto args : usageErrors) {
    SCOPED_TRACE(args.size() > 1 ? args[0] + " " + args[1] + " " + args.back() : args[0]);
    args[0] = programPath(args[0]);
    const ToolRun run = runToEnd(args, env);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage: "), std::string::npos) << run.err;
  }
}

// Failures of the work itself exit 1: output that could not be written, a body that is a folder.
TEST_F(ToolTest, OutputThatCannotBeWrittenAndAFolderAsTheBodyExitOne) {
  ASSERT_EQ(keychain({"add", "-s", "svc", "-a", "acct", "-w", "v"}).status, 0);
  ASSERT_EQ(defaults({"write", kDomain, "k", "-int", "1"}).status, 0);
  std::vector<std::vector<std::string>> toFullDisk = {
      {"tidingsbell-keychain", "find", "-s", "svc", "-a", "acct"},
      {"tidingsbell-defaults", "read", kDomain, "k"}};
  for (const auto& name : kPrograms) {
    toFullDisk.push_back({name, "--help"});
    toFullDisk.push_back({name, "--version"});
  }
  for (auto args : toFullDisk) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    args[0] = programPath(args[0]);
    args.insert(args.begin(), {"/bin/sh", "-c", "exec \"$@\" >/dev/full", "sh"});
    const ToolRun run = runToEnd(args, env);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot write standard output"), std::string::npos) << run.err;
  }
  const ToolRun folderBody =
      run("tidingsbell-github", {"--certs", (home.path() / "certs").string(), "--status", "200",
                                 "--body", home.path().string()});
  EXPECT_EQ(folderBody.status, 1);
  EXPECT_EQ(folderBody.out, "");
}

// What the stores' own readers would refuse is refused before anything is written: a name or
// string that is not UTF-8, a store that would pass 1 MiB, a 600 kB token typed into the
// settings window. Written, it would read back as corrupt and cost every item of the file.
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
      {{"tidingsbell-defaults", "write", kDomain, "s", "-string", "\xC3"}, {}, 1},
      {{"tidingsbell-defaults", "write", kDomain, "\xFF", "-int", "1"}, {}, 1},
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

// One request through a stand-in session: its completion's error line, or "status N".
std::future<std::string> request(standin::CurlSessionFactory& sessions, const std::string& url) {
  auto outcome = std::make_shared<std::promise<std::string>>();
  auto session = sessions.sessionWithConfiguration(sessions.defaultSessionConfiguration());
  session
      ->dataTask({.url = {url}, .headerFields = {{"Authorization", "Bearer t"}}},
                 [outcome](auto, std::optional<platform::UrlResponse> response,
                           std::optional<platform::UrlError> error) {
                   outcome->set_value(error ? error->description
                                            : "status " + std::to_string(response->statusCode));
                 })
      ->resume();
  session->finishTasksAndInvalidate();
  return outcome->get_future();
}

const std::string kUntrusted =
    "Error Domain=NSURLErrorDomain Code=-1202 \"The certificate for this server is invalid.\"";

// An extra authority file that is a FIFO fails the poll at once, as an unreadable file does,
// and the next poll looks for the file again.
TEST(StandinSession, AFifoAsTheExtraAuthorityFailsThePollAtOnce) {
  const testing::TempFolder folder;
  standin::GithubServer server(
      {.certificates = standin::ensureCertificates(folder.path() / "certs", {"api.github.com"})});
  const int port = server.start();
  const auto ca = folder.path() / "ca.pem";
  ASSERT_EQ(::mkfifo(ca.c_str(), 0600), 0);
  standin::CurlSessionFactory sessions(
      {.connectTo = {"api.github.com:443:127.0.0.1:" + std::to_string(port)},
       .extraCaFile = ca.string()});
  const std::string url = "https://api.github.com/notifications";
  auto first = request(sessions, url);
  if (first.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "the poll waits for a writer to the FIFO";
    ::close(::open(ca.c_str(), O_WRONLY | O_NONBLOCK));  // lets the reader go
  }
  EXPECT_EQ(first.get(), kUntrusted);
  std::filesystem::remove(ca);
  std::filesystem::copy_file(folder.path() / "certs" / "ca.pem", ca);
  EXPECT_EQ(request(sessions, url).get(), "status 200");
}

// A callback thread that cannot start (a process limit) costs no more than its poll: the work
// waits for a running thread or, with none, the task ends with the unknown error and the
// session counts as ended, so that the process can quit.
TEST(StandinSession, AThreadThatCannotStartWaitsForARunningOneOrFailsThePoll) {
  for (const int startable : {1, 0}) {
    SCOPED_TRACE(startable);
    std::atomic<int> left{startable};
    std::optional<standin::CurlSessionFactory> sessions(
        std::in_place,
        standin::CurlSessionOptions{.startThread = [&left](std::function<void()> body) {
          if (left-- <= 0) throw std::system_error(EAGAIN, std::generic_category());
          return std::thread(std::move(body));
        }});
    std::shared_ptr<platform::UrlSession> holder;  // keeps the one thread busy until it ends
    if (startable != 0) holder = sessions->sessionWithConfiguration({});
    auto outcome = request(*sessions, "http://127.0.0.1:1/");
    if (holder) holder->finishTasksAndInvalidate();
    EXPECT_EQ(outcome.get(),
              startable != 0
                  ? "Error Domain=NSURLErrorDomain Code=-1004 \"Could not connect to the server.\""
                  : "Error Domain=NSURLErrorDomain Code=-1 \"An unknown error occurred.\"");
    sessions.reset();  // as `quit` does: returns once every session has ended
  }
}

}  // namespace
}  // namespace tidingsbell
