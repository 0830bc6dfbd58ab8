#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <system_error>
#include <thread>

#include "extension/PollNotifications.hpp"
#include "extension/SafariExtensionHandler.hpp"
#include "platform/standin/url_session.hpp"
#include "standin/github_server.hpp"
#include "tests/fakes.hpp"
#include "tests/raw_tls_server.hpp"
#include "tests/temp_folder.hpp"

namespace tidingsbell {
namespace {

using namespace std::chrono_literals;
using testing::bytes;
using Calls = std::vector<std::pair<bool, std::string>>;

const std::string kParseErrorLine =
    "Could not parse data with error: " + std::string(standin::kJsonParseErrorDescription) + "\n";

// The badge rules, on the stand-in JSON reader.
class HandleResponse : public ::testing::Test {
 protected:
  standin::SimdjsonReader json;
  testing::RecordingOutput out;
  Calls calls;
  std::string outputWhenCalled;

  std::string badge(const std::optional<platform::Bytes>& body, long status = 200,
                    std::optional<platform::UrlError> error = std::nullopt) {
    calls.clear();
    out.written.clear();
    const ValidationHandler handler = [&](bool enabled, std::string text) {
      outputWhenCalled = out.text();
      calls.emplace_back(enabled, std::move(text));
    };
    handleNotificationsResponse(json, out, handler, body, platform::UrlResponse{status}, error);
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls.empty() || calls[0].first);
    EXPECT_EQ(outputWhenCalled, "");  // the handler comes first, then the line
    return calls.empty() ? "<not called>" : calls[0].second;
  }
};

TEST_F(HandleResponse, CountsOrClearsTheBadgeAndSaysWhy) {
  const std::string failed = "Request failed with HTTP status ";
  struct Case {
    std::optional<std::string> body;
    long status;
    std::string badge, line;
  };
  std::vector<Case> cases = {
      {"[]", 200, "", ""},
      {"[{},{\"a\":1},{}]", 200, "3", ""},
      {"{}", 200, "", ""},
      {" {\"a\":1,\"b\":[]} \n", 200, "2", ""},
      {"{\"a\":1,\"a\":2,\"b\":3}", 200, "2", ""},  // a dictionary keeps one "a"
      {standin::notificationsBody(1234), 200, "1234", ""},
      {"[{},3]", 200, "", ""},  // an array holding a non-object clears the badge silently
      {"[null]", 200, "", ""},
      {"{\"a\":1,\"b\":2}", 203, "2", ""},
      {std::nullopt, 200, "", ""},
      {standin::kBadCredentialsBody, 401, "", failed + "401\n"},
      {"[{}]", 304, "", failed + "304\n"},
      {"[{}]", 199, "", failed + "199\n"}};
  for (const char* bad : {"", "not json", "\"text\"", "42", "null", "[] []", "[1,]", "{\"a\":1,}",
                          "[/*c*/]", "[\"\xFF\"]"}) {
    cases.push_back({bad, 200, "", kParseErrorLine});
  }
  for (const auto& [body, status, expected, line] : cases) {
    EXPECT_EQ(badge(body ? std::optional(bytes(*body)) : std::nullopt, status), expected)
        << body.value_or("<none>");
    EXPECT_EQ(out.text(), line) << body.value_or("<none>");
  }
  EXPECT_EQ(badge(bytes("[{}]"), 200, platform::UrlError{"Error Domain=NSURLErrorDomain"}), "");
  EXPECT_EQ(out.text(), "Error Domain=NSURLErrorDomain\n");
}

// The whole exchange through the stand-in session against an HTTPS server on loopback.
class LoopbackExchange : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new testing::TempFolder();
    certificates_ =
        standin::ensureCertificates(folder_->path() / "certs", {"api.github.com", "github.com"});
  }
  static void TearDownTestSuite() { delete folder_; }

  std::unique_ptr<standin::GithubServer> server;
  testing::RecordingOutput out;

  int startServer(standin::GithubServerOptions options) {
    options.certificates = certificates_;
    server = std::make_unique<standin::GithubServer>(std::move(options));
    return server->start();
  }
  // A poll that must time out gets 0.4 s, so that no test waits a real minute; any other gets
  // room to read the trust store under a sanitizer on a busy machine, and returns when done.
  standin::CurlSessionOptions sessionOptions(int port, bool trusted = true, double timeout = 10.0) {
    standin::CurlSessionOptions options;
    options.userAgent = standin::defaultUserAgent();
    options.connectTo = {"api.github.com:443:127.0.0.1:" + std::to_string(port)};
    if (trusted) options.extraCaFile = certificates_.caCertificate.string();
    options.timeoutOverride = timeout;
    return options;
  }
  // One poll through the stand-in session; returns once its completion has run.
  std::string poll(standin::CurlSessionOptions options, const std::string& token = "tok") {
    standin::CurlSessionFactory sessions(std::move(options));
    return poll(sessions, token);
  }
  std::string poll(standin::CurlSessionFactory& sessions, const std::string& token = "tok") {
    testing::FakeExtension fake;
    testing::HandlerProbe probe;
    out.written.clear();
    pollNotifications(fake.with(fake.defaults, sessions, out), token, probe.handler());
    sessions.waitIdle();  // the completion has run
    EXPECT_EQ(probe.calls->size(), 1u);
    return probe.calls->empty() ? "<not called>" : probe.calls->front().second;
  }

  static testing::TempFolder* folder_;
  static standin::CertificatePaths certificates_;
};
testing::TempFolder* LoopbackExchange::folder_ = nullptr;
standin::CertificatePaths LoopbackExchange::certificates_;

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\n[{}]";

TEST_F(LoopbackExchange, SendsExactlyTheRequestWithTheTokenByteForByte) {
  for (const std::string& token : std::vector<std::string>{"", " padded\t", "caf\xC3\xA9"}) {
    testing::RawTlsServer raw(certificates_, kOk);
    EXPECT_EQ(poll(sessionOptions(raw.port()), token), "1");
    ASSERT_EQ(raw.requests().size(), 1u);
    const std::string request = raw.requests()[0];
    EXPECT_TRUE(request.starts_with("GET /notifications HTTP/1.1\r\nHost: api.github.com\r\n"))
        << request;
    for (const std::string& header :
         {"Authorization: Bearer " + token,
          "User-Agent: Tidingsbell_Extension/" + std::string(kTidingsbellVersionForTests)}) {
      EXPECT_NE(request.find("\r\n" + header + "\r\n"), std::string::npos) << request;
    }
    EXPECT_EQ(out.text(), "");
  }
}

// The stand-in GitHub's rules, through the extension's own poll: with a token option exactly
// that token (the empty one arrives stripped to "Bearer", as its request log shows), without one
// any; one page of at most 50; a fixed answer, whose empty body must reach the rules as one.
TEST_F(LoopbackExchange, TheStandInGithubsTokenRuleOnePageAndFixedAnswer) {
  const auto log = folder_->path() / "requests.jsonl";
  const std::vector<std::tuple<std::optional<std::string>, std::string, std::string>> cases = {
      {std::nullopt, "any", "50"}, {"", "", "50"}, {"right", "wrong", ""}};
  for (const auto& [accepted, token, badge] : cases) {
    const int port = startServer({.token = accepted, .count = 120, .requestLog = log});
    EXPECT_EQ(poll(sessionOptions(port), token), badge) << token;
    EXPECT_EQ(out.text(), badge.empty() ? "Request failed with HTTP status 401\n" : "");
    server->stop();
  }
  std::ifstream in(log);
  std::string line;
  ASSERT_TRUE(std::getline(in, line) && std::getline(in, line));  // the empty token's
  EXPECT_TRUE(line.starts_with(
      R"({"method":"GET","host":"api.github.com","path":"/notifications","headers":{)"))
      << line;
  EXPECT_NE(line.find(R"("Authorization":"Bearer")"), std::string::npos) << line;

  EXPECT_EQ(poll(sessionOptions(startServer({.status = 200, .body = ""}))), "");
  EXPECT_EQ(out.text(), kParseErrorLine);
}

// A request log that cannot be written is reported once rather than dropped without a word.
TEST_F(LoopbackExchange, ARequestLogThatCannotBeWrittenIsReported) {
  std::vector<std::string> problems;
  const int port = startServer({.requestLog = "/dev/full",
                                .logFailed = [&](const std::string& p) { problems.push_back(p); }});
  EXPECT_EQ(poll(sessionOptions(port)), "3");
  EXPECT_EQ(poll(sessionOptions(port)), "3");
  server->stop();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("/dev/full"), std::string::npos) << problems[0];
}

// A restart in the same folder keeps the authority that clients were told to trust.
TEST_F(LoopbackExchange, CertificatesAreMadeOnceAndReused) {
  auto text = [](const std::filesystem::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string authority = text(certificates_.caCertificate);
  standin::ensureCertificates(folder_->path() / "certs", {"api.github.com", "github.com"});
  EXPECT_EQ(text(certificates_.caCertificate), authority);
}

TEST_F(LoopbackExchange, EachWayTheExchangeFailsGivesItsTransportError) {
  const std::string domain = "Error Domain=NSURLErrorDomain Code=";
  const std::string timedOut = domain + "-1001 \"The request timed out.\"\n";
  int deadPort = 0;
  {
    standin::GithubServer probe({.certificates = certificates_, .stall = true});
    deadPort = probe.start();
  }  // closed again: nothing listens there now
  EXPECT_EQ(poll(sessionOptions(deadPort)), "");
  EXPECT_EQ(out.text(), domain + "-1004 \"Could not connect to the server.\"\n");

  EXPECT_EQ(poll(sessionOptions(startServer({.stall = true}), true, 0.4)), "");  // no handshake
  EXPECT_EQ(out.text(), timedOut);
  server->stop();

  EXPECT_EQ(poll(sessionOptions(startServer({}), /*trusted=*/false)), "");
  EXPECT_EQ(out.text(), domain + "-1202 \"The certificate for this server is invalid.\"\n");
  EXPECT_TRUE(server->requests().empty());

  const std::vector<std::pair<std::string, std::string>> raw = {
      {testing::RawTlsServer::kNeverAnswer, timedOut},  // silence after the handshake
      {"", domain + "-1005 \"The network connection was lost.\"\n"}};
  for (const auto& [answer, line] : raw) {
    testing::RawTlsServer failing(certificates_, answer);
    EXPECT_EQ(poll(sessionOptions(failing.port(), true, line == timedOut ? 0.4 : 10.0)), "");
    EXPECT_EQ(out.text(), line);
  }
  // A server that trickles bytes is cut off at the poll's lifetime, never silent for the time-out.
  testing::RawTlsServer trickle(certificates_, testing::RawTlsServer::kTrickle);
  auto options = sessionOptions(trickle.port());
  options.lifetimeOverride = 1.0;
  EXPECT_EQ(poll(options), "");
  EXPECT_EQ(out.text(), timedOut);
}

// The authorities are read once for all sessions, but an extra file that could not be read is
// looked for again by the next poll rather than failing every poll until the process ends. A
// FIFO in its place (or any file that is not a regular one) fails the poll at once: reading it
// would wait for a writer, with every later poll queued behind it.
TEST_F(LoopbackExchange, AuthoritiesAreReadOnceButAnUnreadableFileIsLookedForAgain) {
  const int port = startServer({.count = 3});
  const auto late = folder_->path() / "late-ca.pem";
  ASSERT_EQ(::mkfifo(late.c_str(), 0600), 0);
  auto options = sessionOptions(port, /*trusted=*/false);
  options.extraCaFile = late.string();
  standin::CurlSessionFactory sessions(options);
  auto first = std::async(std::launch::async, [&] { return poll(sessions); });
  if (first.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "the poll waits for a writer to the FIFO";
    ::close(::open(late.c_str(), O_WRONLY | O_NONBLOCK));  // lets the reader go
  }
  EXPECT_EQ(first.get(), "");
  EXPECT_EQ(
      out.text(),
      "Error Domain=NSURLErrorDomain Code=-1202 \"The certificate for this server is invalid.\"\n");
  std::filesystem::remove(late);
  std::filesystem::copy_file(certificates_.caCertificate, late);
  EXPECT_EQ(poll(sessions), "3");
  std::filesystem::remove(late);
  EXPECT_EQ(poll(sessions), "3");  // kept from the first reading
  EXPECT_EQ(server->requests().size(), 2u);
}

// A callback queue whose thread cannot start (a process limit) costs no more than its poll: the
// task ends with the unknown error and the session counts as ended, so that the process can quit
// (the sessions' end, as `quit`'s, waits for every session to end).
TEST_F(LoopbackExchange, AThreadThatCannotStartFailsThePoll) {
  auto options = sessionOptions(1);
  options.startThread = [](std::function<void()>) -> std::thread {
    throw std::system_error(EAGAIN, std::generic_category());
  };
  EXPECT_EQ(poll(options), "");
  EXPECT_EQ(out.text(), "Error Domain=NSURLErrorDomain Code=-1 \"An unknown error occurred.\"\n");
}

std::string compressed(const std::string& text) {
  std::string packed(compressBound(text.size()), '\0');
  uLongf size = packed.size();
  compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
            reinterpret_cast<const Bytef*>(text.data()), text.size(), Z_BEST_COMPRESSION);
  return packed.substr(0, size);
}

TEST_F(LoopbackExchange, BodiesLargerThanEightMebibytesOnceDecodedAreRefused) {
  const std::string exact = "[{}" + std::string(platform::kMaximumBodyBytes - 4, ' ') + "]";
  const std::string bomb = compressed("[" + std::string(64 * 1024 * 1024, ' ') + "]");  // 64 kB
  auto answer = [](const std::string& body, const std::string& encoding) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + encoding +
           "Connection: close\r\n\r\n" + body;
  };
  const std::string tooLarge =
      "Error Domain=NSURLErrorDomain Code=-1103 \"resource exceeds maximum size\"\n";
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {answer(exact, ""), "1", ""},
      {answer(exact + " ", ""), "", tooLarge},
      {answer(bomb, "Content-Encoding: deflate\r\n"), "", tooLarge}};
  for (const auto& [raw, badge, line] : cases) {
    testing::RawTlsServer answering(certificates_, raw);
    EXPECT_EQ(poll(sessionOptions(answering.port())), badge);
    EXPECT_EQ(out.text(), line);
  }
}

TEST_F(LoopbackExchange, HandlerOutlivesTheExtensionHandlerAndSessionsAreFreed) {
  testing::RawTlsServer raw(certificates_, kOk);
  standin::CurlSessionFactory sessions(sessionOptions(raw.port()));
  testing::FakeExtension fake;
  fake.keychain.store("personal_access_token", bytes("t"));
  const ExtensionPlatform platform = fake.with(fake.defaults, sessions, fake.output);
  testing::NoWindow window;
  testing::HandlerProbe probe;
  {
    const auto handler = std::make_unique<SafariExtensionHandler>(platform);
    handler->validateToolbarItemInWindow(window, probe.handler());
  }  // released as soon as its entry returns, as Safari may
  sessions.waitIdle();
  EXPECT_EQ(*probe.calls, (Calls{{true, "1"}}));
  // Once its task is done the session lets go of the handler and ends its thread.
  for (int i = 0; i < 500 && (sessions.liveSessions() != 0 || !probe.released()); ++i) {
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(sessions.liveSessions(), 0u);
  EXPECT_TRUE(probe.released());
}

}  // namespace
}  // namespace tidingsbell
