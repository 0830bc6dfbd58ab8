#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "extension/PollNotifications.hpp"
#include "extension/SafariExtensionHandler.hpp"
#include "platform/standin/callback_threads.hpp"
#include "platform/standin/url_session.hpp"
#include "standin/github_server.hpp"
#include "tests/fakes.hpp"
#include "tests/raw_tls_server.hpp"
#include "tests/temp_folder.hpp"

namespace tidingsbell {
namespace {

using testing::bytes;
using Calls = std::vector<std::pair<bool, std::string>>;

// What the request and the session look like, on recording fakes.
TEST(PollRequest, OneAuthenticatedGetOnAFreshUncachedSessionThatIsInvalidated) {
  testing::FakeExtension fake;
  testing::HandlerProbe probe;
  pollNotifications(fake.platform, " tok en ", probe.handler());

  ASSERT_EQ(fake.sessions.sessionsMade, 1);
  ASSERT_EQ(fake.sessions.tasks.size(), 1u);
  const auto& task = *fake.sessions.tasks[0];
  EXPECT_EQ(task.request.url.absoluteString, "https://api.github.com/notifications");
  EXPECT_EQ(task.request.httpMethod, "GET");
  EXPECT_EQ(task.request.cachePolicy, 0);
  EXPECT_EQ(task.request.timeoutInterval, 60.0);
  EXPECT_EQ(
      task.request.headerFields,
      (std::vector<std::pair<std::string, std::string>>{{"Authorization", "Bearer  tok en "}}));
  EXPECT_EQ(task.configuration.requestCachePolicy, 1);
  EXPECT_FALSE(task.configuration.hasUrlCache);
  EXPECT_EQ(task.configuration.timeoutIntervalForResource, 120.0);
  EXPECT_TRUE(task.resumed);
  EXPECT_TRUE(task.sessionInvalidated);
  EXPECT_TRUE(probe.calls->empty());

  task.completion(bytes("[{}]"), platform::UrlResponse{200}, std::nullopt);
  EXPECT_EQ(*probe.calls, (Calls{{true, "1"}}));
}

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
    const ValidationHandler handler = [&](bool enabled, std::string text) {
      outputWhenCalled = out.text();
      calls.emplace_back(enabled, std::move(text));
    };
    handleNotificationsResponse(json, out, handler, body, platform::UrlResponse{status}, error);
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls.empty() || calls[0].first);
    return calls.empty() ? "<not called>" : calls[0].second;
  }
};

TEST_F(HandleResponse, CountsArraysOfObjectsAndObjectMembers) {
  EXPECT_EQ(badge(bytes("[]")), "");
  EXPECT_EQ(badge(bytes("[{},{\"a\":1},{}]")), "3");
  EXPECT_EQ(badge(bytes("{}")), "");
  EXPECT_EQ(badge(bytes(" {\"a\":1,\"b\":[]} \n")), "2");
  EXPECT_EQ(badge(bytes("{\"a\":1,\"a\":2,\"b\":3}")), "2");  // a dictionary keeps one "a"
  EXPECT_EQ(badge(bytes(standin::notificationsPage(1234, 1, 1234))), "1234");
  EXPECT_EQ(out.text(), "");
}

TEST_F(HandleResponse, AnArrayHoldingANonObjectClearsTheBadgeSilently) {
  EXPECT_EQ(badge(bytes("[{},3]")), "");
  EXPECT_EQ(badge(bytes("[null]")), "");
  EXPECT_EQ(out.text(), "");
}

TEST_F(HandleResponse, BodiesThatAreNotJsonWithAnArrayOrObjectOnTopReportAParseError) {
  const std::vector<std::string> bad = {"",      "not json", "\"text\"",   "42",      "null",
                                        "[] []", "[1,]",     "{\"a\":1,}", "[/*c*/]", "[\"\xFF\"]"};
  for (const auto& body : bad) {
    out.written.clear();
    EXPECT_EQ(badge(bytes(body)), "") << body;
    EXPECT_EQ(
        out.text(),
        "Could not parse data with error: The data couldn\u2019t be read because it isn\u2019t "
        "in the correct format.\n")
        << body;
    EXPECT_EQ(outputWhenCalled, "");  // the handler comes first, then the line
  }
}

// The reader keeps its parser from one poll's thread to the next; what a large answer leaves in
// its buffers must never decide a later, shorter one.
TEST_F(HandleResponse, TheKeptParserJudgesEachBodyAloneAcrossThreadsAndOverlappingPolls) {
  std::string large = "[";
  for (int i = 0; i < 3000; ++i) large += "{\"n\":" + std::to_string(i) + "},";
  large.back() = ']';
  const std::vector<std::pair<std::string, std::string>> sequence = {
      {large, "3000"}, {"[{}]", "1"},   {large.substr(0, large.size() - 1), ""},
      {"[{},", ""},    {large, "3000"}, {"[{\"a\":1}]   ", "1"}};
  for (const auto& entry : sequence) {
    std::thread([&] {
      EXPECT_EQ(badge(bytes(entry.first)), entry.second) << entry.first.substr(0, 20);
    }).join();
  }
  // Polls that overlap each get a parser of their own.
  std::vector<std::thread> polls;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    polls.emplace_back([&, t] {
      const platform::Bytes mine = bytes(t % 2 == 0 ? large : "[{},{}]");
      const std::size_t count = t % 2 == 0 ? 3000 : 2;
      for (int i = 0; i < 50; ++i) {
        const auto summary = json.summarize(mine);
        const auto* array = std::get_if<platform::JsonArraySummary>(&summary);
        if (array == nullptr || array->elementCount != count) ++wrong;
      }
    });
  }
  for (auto& thread : polls) thread.join();
  EXPECT_EQ(wrong, 0);
}

TEST_F(HandleResponse, TransportErrorsAndErrorStatusesClearTheBadgeAndSayWhy) {
  EXPECT_EQ(
      badge(bytes("[{}]"), 200, platform::UrlError{"Error Domain=NSURLErrorDomain Code=-1009"}),
      "");
  EXPECT_EQ(out.text(), "Error Domain=NSURLErrorDomain Code=-1009\n");
  EXPECT_EQ(outputWhenCalled, "");

  for (const long status : {401L, 404L, 500L, 304L, 199L}) {
    out.written.clear();
    EXPECT_EQ(badge(bytes(standin::kBadCredentialsBody), status), "");
    EXPECT_EQ(out.text(), "Request failed with HTTP status " + std::to_string(status) + "\n");
  }
  out.written.clear();
  EXPECT_EQ(badge(std::nullopt), "");
  EXPECT_EQ(badge(bytes("{\"a\":1,\"b\":2}"), 203), "2");
  EXPECT_EQ(out.text(), "");
}

// Session queues run on pooled threads: later sessions reuse the threads a burst left behind,
// and stopping lets work already handed over finish first.
TEST(CallbackThreads, LaterWorkReusesThreadsAndStopFinishesHandedOverWork) {
  std::atomic<int> ran{0};
  std::mutex mutex;
  std::set<pid_t> burst, later;  // kernel thread ids: a new thread never has a recent one
  auto waitFor = [&ran](int count) {
    for (int i = 0; i < 2000 && ran < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  auto note = [&](std::set<pid_t>& ids) {
    const std::lock_guard lock(mutex);
    ids.insert(::gettid());
    ++ran;
  };
  standin::CallbackThreads threads;
  std::atomic<int> entered{0};
  for (int i = 0; i < 6; ++i) {
    threads.run([&] {
      ++entered;  // six at once, so on six threads
      for (int wait = 0; wait < 2000 && entered < 6; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      note(burst);
    });
  }
  waitFor(6);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // back to waiting
  for (int i = 0; i < 20; ++i) {
    threads.run([&] { note(later); });
    waitFor(7 + i);
  }
  EXPECT_EQ(burst.size(), 6u);
  EXPECT_TRUE(std::includes(burst.begin(), burst.end(), later.begin(), later.end()));
  for (int i = 0; i < 5; ++i) {
    threads.run([&ran] {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      ++ran;
    });
  }
  threads.stop();
  EXPECT_EQ(ran, 31);
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
  Calls calls;
  std::mutex mutex;

  int startServer(standin::GithubServerOptions options) {
    options.certificates = certificates_;
    server = std::make_unique<standin::GithubServer>(std::move(options));
    return server->start();
  }
  standin::CurlSessionOptions sessionOptions(int port, bool trusted = true) {
    standin::CurlSessionOptions options;
    options.userAgent = standin::defaultUserAgent();
    options.connectTo = {"api.github.com:443:127.0.0.1:" + std::to_string(port)};
    if (trusted) options.extraCaFile = certificates_.caCertificate.string();
    options.timeoutOverride = 0.4;  // no test waits a real minute
    return options;
  }
  // One poll through the stand-in session; returns once its completion has run.
  std::string poll(standin::CurlSessionOptions options, const std::string& token = "tok") {
    standin::CurlSessionFactory sessions(std::move(options));
    return poll(sessions, token);
  }
  std::string poll(standin::CurlSessionFactory& sessions, const std::string& token = "tok") {
    testing::FakeExtension fake;
    ExtensionPlatform platform{fake.keychain,  fake.defaults,  fake.clock, fake.urls,
                               sessions,       fake.json,      out,        out,
                               fake.workspace, fake.mainThread};
    calls.clear();
    pollNotifications(platform, token, [this](bool enabled, std::string text) {
      const std::lock_guard lock(mutex);
      calls.emplace_back(enabled, std::move(text));
    });
    sessions.waitIdle();
    EXPECT_EQ(calls.size(), 1u);
    return calls.empty() ? "<not called>" : calls[0].second;
  }

  static testing::TempFolder* folder_;
  static standin::CertificatePaths certificates_;
};
testing::TempFolder* LoopbackExchange::folder_ = nullptr;
standin::CertificatePaths LoopbackExchange::certificates_;

TEST_F(LoopbackExchange, SendsExactlyTheRequestAndCountsTheAnswer) {
  const int port = startServer({.token = "ghp_x y", .count = 7});
  EXPECT_EQ(poll(sessionOptions(port), "ghp_x y"), "7");
  const auto requests = server->requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].host, "api.github.com");
  EXPECT_EQ(requests[0].path, "/notifications");
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer ghp_x y");
  EXPECT_EQ(requests[0].header("User-Agent"),
            "Tidingsbell_Extension/" + std::string(kTidingsbellVersionForTests));
  EXPECT_EQ(out.text(), "");

  EXPECT_EQ(poll(sessionOptions(port), ""), "");  // "Bearer " alone is refused
  EXPECT_EQ(out.text(), "Request failed with HTTP status 401\n");
}

TEST_F(LoopbackExchange, AuthorizationHeaderGoesOutByteForByte) {
  for (const std::string& token : std::vector<std::string>{"", " padded\t", "caf\xC3\xA9"}) {
    testing::RawTlsServer raw(
        certificates_, "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\n[{}]");
    EXPECT_EQ(poll(sessionOptions(raw.port()), token), "1");
    const std::string request = raw.request();
    EXPECT_TRUE(request.starts_with("GET /notifications HTTP/1.1\r\n")) << request;
    EXPECT_NE(request.find("\r\nAuthorization: Bearer " + token + "\r\n"), std::string::npos)
        << request;
  }
}

TEST_F(LoopbackExchange, ErrorAnswersAndMalformedBodies) {
  const std::vector<std::tuple<int, std::string, std::string, std::string>> cases = {
      {500, "{\"message\":\"Server Error\"}", "", "Request failed with HTTP status 500\n"},
      {200, "<html>", "",
       "Could not parse data with error: The data couldn\u2019t be read because it isn\u2019t in "
       "the correct format.\n"},
      {200, "", "",
       "Could not parse data with error: The data couldn\u2019t be read because it isn\u2019t in "
       "the correct format.\n"},
      {200, "17", "",
       "Could not parse data with error: The data couldn\u2019t be read because it isn\u2019t in "
       "the correct format.\n"},
      {200, "[{},1]", "", ""},
      {200, "{\"a\":1,\"b\":2}", "2", ""}};
  for (const auto& [status, body, badge, line] : cases) {
    out.written.clear();
    const int port = startServer({.status = status, .body = body});
    EXPECT_EQ(poll(sessionOptions(port)), badge) << body;
    EXPECT_EQ(out.text(), line) << body;
    server->stop();
  }
}

TEST_F(LoopbackExchange, DeadPortStalledServerAndUntrustedCertificateGiveTransportErrors) {
  int deadPort = 0;
  {
    standin::GithubServer probe({.certificates = certificates_, .stall = true});
    deadPort = probe.start();
  }  // closed again: nothing listens there now
  EXPECT_EQ(poll(sessionOptions(deadPort)), "");
  EXPECT_EQ(out.text(),
            "Error Domain=NSURLErrorDomain Code=-1004 \"Could not connect to the server.\"\n");

  out.written.clear();
  const int stalled = startServer({.stall = true});
  EXPECT_EQ(poll(sessionOptions(stalled)), "");
  EXPECT_EQ(out.text(), "Error Domain=NSURLErrorDomain Code=-1001 \"The request timed out.\"\n");
  server->stop();

  out.written.clear();
  const int port = startServer({});
  EXPECT_EQ(poll(sessionOptions(port, /*trusted=*/false)), "");
  EXPECT_EQ(
      out.text(),
      "Error Domain=NSURLErrorDomain Code=-1202 \"The certificate for this server is invalid.\"\n");
  EXPECT_TRUE(server->requests().empty());
}

// The authorities are read once for all sessions, but an extra file that could not be read is
// looked for again by the next poll rather than failing every poll until the process ends.
TEST_F(LoopbackExchange, AuthoritiesAreReadOnceButAMissingFileIsLookedForAgain) {
  const int port = startServer({.count = 3});
  const auto late = folder_->path() / "late-ca.pem";
  auto options = sessionOptions(port, /*trusted=*/false);
  options.extraCaFile = late.string();
  standin::CurlSessionFactory sessions(options);
  EXPECT_EQ(poll(sessions), "");
  EXPECT_EQ(
      out.text(),
      "Error Domain=NSURLErrorDomain Code=-1202 \"The certificate for this server is invalid.\"\n");
  std::filesystem::copy_file(certificates_.caCertificate, late);
  EXPECT_EQ(poll(sessions), "3");
  std::filesystem::remove(late);
  EXPECT_EQ(poll(sessions), "3");  // kept from the first reading
  EXPECT_EQ(server->requests().size(), 2u);
}

// A TLS server that keeps each connection open for more requests and offers session resumption,
// noting for each connection whether its handshake resumed an earlier session.
class ResumingTlsServer {
 public:
  explicit ResumingTlsServer(const standin::CertificatePaths& certificates) {
    context_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_file(context_, certificates.serverCertificate.c_str(),
                                 SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(context_, certificates.serverKey.c_str(), SSL_FILETYPE_PEM);
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 4);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ResumingTlsServer(const ResumingTlsServer&) = delete;
  ResumingTlsServer& operator=(const ResumingTlsServer&) = delete;
  ~ResumingTlsServer() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
    SSL_CTX_free(context_);
  }
  [[nodiscard]] int port() const { return port_; }
  // One entry per connection: whether it resumed a session.
  std::vector<bool> connections() {
    const std::lock_guard lock(mutex_);
    return resumed_;
  }

 private:
  void serve() {
    for (int client; (client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
      SSL* ssl = SSL_new(context_);
      SSL_set_fd(ssl, client);
      if (SSL_accept(ssl) == 1) {
        {
          const std::lock_guard lock(mutex_);
          resumed_.push_back(SSL_session_reused(ssl) == 1);
        }
        std::string request;
        char buffer[4096];
        for (int n; (n = SSL_read(ssl, buffer, sizeof buffer)) > 0;) {
          request.append(buffer, static_cast<std::size_t>(n));
          if (request.find("\r\n\r\n") == std::string::npos) continue;
          request.clear();
          const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n[{}]";
          SSL_write(ssl, answer.data(), static_cast<int>(answer.size()));
        }
      }
      SSL_free(ssl);
      ::close(client);
    }
  }

  SSL_CTX* context_ = nullptr;
  int listener_ = -1;
  int port_ = 0;
  std::mutex mutex_;
  std::vector<bool> resumed_;
  std::thread thread_;
};

// Sessions share the process's trust store and libcurl's set-up, never a connection or a TLS
// session: each poll connects anew and makes the full handshake, as a new platform session does.
TEST_F(LoopbackExchange, EveryPollOpensItsOwnConnectionWithAFullHandshake) {
  ResumingTlsServer resuming(certificates_);
  standin::CurlSessionFactory sessions(sessionOptions(resuming.port()));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(poll(sessions), "1");
  EXPECT_EQ(resuming.connections(), (std::vector<bool>{false, false, false}));
}

TEST_F(LoopbackExchange, SilenceAfterTheHandshakeTimesOutAndAHangUpIsALostConnection) {
  {
    testing::RawTlsServer silent(certificates_, testing::RawTlsServer::kNeverAnswer);
    EXPECT_EQ(poll(sessionOptions(silent.port())), "");
  }
  {
    testing::RawTlsServer hangUp(certificates_, "");
    EXPECT_EQ(poll(sessionOptions(hangUp.port())), "");
  }
  EXPECT_EQ(out.text(),
            "Error Domain=NSURLErrorDomain Code=-1001 \"The request timed out.\"\n"
            "Error Domain=NSURLErrorDomain Code=-1005 \"The network connection was lost.\"\n");
}

std::string gzip(const std::string& text) {
  z_stream stream{};
  deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
  std::string packed(deflateBound(&stream, text.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(packed.data());
  stream.avail_out = static_cast<uInt>(packed.size());
  deflate(&stream, Z_FINISH);
  packed.resize(stream.total_out);
  deflateEnd(&stream);
  return packed;
}

TEST_F(LoopbackExchange, BodiesLargerThanEightMebibytesOnceDecodedAreRefused) {
  const std::string exact = "[{}" + std::string(platform::kMaximumBodyBytes - 4, ' ') + "]";
  const std::string bomb = gzip("[" + std::string(64 * 1024 * 1024, ' ') + "]");  // 64 kB
  auto answer = [](const std::string& body, const std::string& encoding) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + encoding +
           "Connection: close\r\n\r\n" + body;
  };
  const std::string tooLarge =
      "Error Domain=NSURLErrorDomain Code=-1103 \"resource exceeds maximum size\"\n";
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {answer(exact, ""), "1", ""},
      {answer(exact + " ", ""), "", tooLarge},
      {answer(bomb, "Content-Encoding: gzip\r\n"), "", tooLarge}};
  for (const auto& [raw, badge, line] : cases) {
    out.written.clear();
    testing::RawTlsServer answering(certificates_, raw);
    EXPECT_EQ(poll(sessionOptions(answering.port())), badge);
    EXPECT_EQ(out.text(), line);
  }
}

TEST_F(LoopbackExchange, AServerThatTricklesBytesIsCutOffAtThePollsLifetime) {
  testing::RawTlsServer trickle(certificates_, testing::RawTlsServer::kTrickle);
  auto options = sessionOptions(trickle.port());
  options.lifetimeOverride = 1.0;  // for the poll's two minutes; never silent for the time-out
  EXPECT_EQ(poll(options), "");
  EXPECT_EQ(out.text(), "Error Domain=NSURLErrorDomain Code=-1001 \"The request timed out.\"\n");
}

TEST_F(LoopbackExchange, HandlerOutlivesTheExtensionHandlerAndSessionsAreFreed) {
  const int port = startServer({.count = 2});
  standin::CurlSessionFactory sessions(sessionOptions(port));
  testing::FakeExtension fake;
  fake.keychain.store("personal_access_token", bytes("t"));
  ExtensionPlatform platform{fake.keychain,  fake.defaults,  fake.clock, fake.urls,
                             sessions,       fake.json,      out,        out,
                             fake.workspace, fake.mainThread};
  testing::NoWindow window;
  testing::HandlerProbe probe;
  {
    const auto handler = std::make_unique<SafariExtensionHandler>(platform);
    handler->validateToolbarItemInWindow(window, probe.handler());
  }  // released as soon as its entry returns, as Safari may
  sessions.waitIdle();
  EXPECT_EQ(*probe.calls, (Calls{{true, "2"}}));
  // Once its task is done the session lets go of the handler and ends its thread.
  for (int i = 0; i < 500 && (sessions.liveSessions() != 0 || !probe.released()); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(sessions.liveSessions(), 0u);
  EXPECT_TRUE(probe.released());
}

}  // namespace
}  // namespace tidingsbell
