#include "standin/github_server.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "platform/standin/text.hpp"

namespace tidingsbell::standin {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Appends the text to the file, made when missing; the error number when that failed, else 0.
// Never blocking: a FIFO nobody reads is a failure, not a wait.
int appendLine(const std::filesystem::path& file, const std::string& text) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return errno;
  std::size_t done = 0;
  int error = 0;
  while (done < text.size() && error == 0) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n >= 0) {
      done += static_cast<std::size_t>(n);
    } else if (errno != EINTR) {
      error = errno;
    }
  }
  if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
  return error;
}

std::string formatUtc(std::time_t when, const char* format) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[64];
  std::strftime(text, sizeof text, format, &utc);
  return text;
}

std::string isoDate(std::time_t when) {
  return formatUtc(when, "%Y-%m-%dT%H:%M:%SZ");
}

// One JSON object, written member by member in the order given.
class JsonObject {
 public:
  JsonObject& text(std::string_view key, std::string_view value) {
    return raw(key, jsonQuote(value));
  }
  JsonObject& number(std::string_view key, long value) { return raw(key, std::to_string(value)); }
  JsonObject& boolean(std::string_view key, bool value) {
    return raw(key, value ? "true" : "false");
  }
  // `json` is already JSON: a literal, or a nested object's close().
  JsonObject& raw(std::string_view key, std::string_view json) {
    json_ += json_.size() == 1 ? "" : ",";
    json_ += jsonQuote(key);
    json_ += ':';
    json_ += json;
    return *this;
  }
  std::string close() { return std::move(json_) + '}'; }

 private:
  std::string json_ = "{";
};

std::string notification(int index) {
  static const char* const kRepositories[] = {"octo-org/octo-repo", "octo-org/hello-world",
                                              "marblequail/tidings", "octocat/Spoon-Knife"};
  static const char* const kReasons[] = {"subscribed", "mention", "review_requested", "assign",
                                         "author",     "comment", "team_mention"};
  static const char* const kTypes[] = {"Issue", "PullRequest", "Release", "Discussion"};
  const std::string repository = kRepositories[index % 4];
  const std::string owner = repository.substr(0, repository.find('/'));
  const std::string name = repository.substr(repository.find('/') + 1);
  const std::string id = std::to_string(1000 + index);
  const std::string type = kTypes[index % 4];
  const std::string kind = type == "PullRequest" ? "pulls" : "issues";
  const std::time_t updated = 1796580000 - index * 600L;
  const std::string api = "https://api.github.com";
  const std::string repositoryApi = api + "/repos/" + repository;
  const std::string thread = api + "/notifications/threads/" + id;

  const std::string ownerJson =
      JsonObject()
          .text("login", owner)
          .number("id", 583231 + index % 4)
          .text("avatar_url", "https://github.com/images/error/" + owner + "_happy.gif")
          .text("url", api + "/users/" + owner)
          .text("html_url", "https://github.com/" + owner)
          .text("type", "Organization")
          .boolean("site_admin", false)
          .close();
  const std::string repositoryJson = JsonObject()
                                         .number("id", 1296269 + index % 4)
                                         .text("node_id", "MDEwOlJlcG9zaXRvcnkxMjk2MjY5")
                                         .text("name", name)
                                         .text("full_name", repository)
                                         .raw("owner", ownerJson)
                                         .boolean("private", false)
                                         .text("html_url", "https://github.com/" + repository)
                                         .text("description", "This your first repo!")
                                         .boolean("fork", false)
                                         .text("url", repositoryApi)
                                         .close();
  const std::string subjectJson =
      JsonObject()
          .text("title", "Greetings number " + id + " \u2014 please review")
          .text("url", repositoryApi + "/" + kind + "/" + std::to_string(1 + index % 97))
          .text("latest_comment_url",
                repositoryApi + "/issues/comments/" + std::to_string(123 + index))
          .text("type", type)
          .close();
  return JsonObject()
      .text("id", id)
      .raw("repository", repositoryJson)
      .raw("subject", subjectJson)
      .text("reason", kReasons[index % 7])
      .boolean("unread", index % 3 != 0)
      .text("updated_at", isoDate(updated))
      .raw("last_read_at", index % 2 == 0 ? "null" : jsonQuote(isoDate(updated - 3600)))
      .text("url", thread)
      .text("subscription_url", thread + "/subscription")
      .close();
}

// Accepts connections and never answers, until stopped.
class StallingListener {
 public:
  explicit StallingListener(int port) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener_ < 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 64) != 0 || ::pipe2(stopPipe_, O_CLOEXEC) != 0) {
      throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  StallingListener(const StallingListener&) = delete;
  StallingListener& operator=(const StallingListener&) = delete;
  ~StallingListener() {
    (void)!::write(stopPipe_[1], "x", 1);
    thread_.join();
    for (const int fd : accepted_) ::close(fd);
    ::close(listener_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
  }
  [[nodiscard]] int port() const { return port_; }

 private:
  void run() {
    for (;;) {
      pollfd fds[2] = {{listener_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents != 0) return;
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) accepted_.push_back(client);
    }
  }
  int listener_ = -1;
  int stopPipe_[2] = {-1, -1};
  int port_ = 0;
  std::vector<int> accepted_;
  std::thread thread_;
};

}  // namespace

std::string RecordedRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return {};
}

std::string notificationsBody(int count) {
  std::string body = "[";
  for (int i = 0; i < count; ++i) {
    if (i != 0) body += ',';
    body += notification(i);
  }
  body += ']';
  return body;
}

struct GithubServer::Impl {
  GithubServerOptions options;
  std::atomic<int> count{0};
  std::unique_ptr<httplib::SSLServer> server;
  std::unique_ptr<StallingListener> staller;
  std::thread thread;
  std::mutex mutex;
  std::vector<RecordedRequest> requests;
  bool logFailed = false;

  void record(const httplib::Request& request) {
    RecordedRequest recorded{request.method, "", request.target, {}};
    for (const auto& [key, value] : request.headers) {
      // The library adds the peer's addresses as headers; they were never sent.
      if (key == "REMOTE_ADDR" || key == "REMOTE_PORT" || key == "LOCAL_ADDR" ||
          key == "LOCAL_PORT") {
        continue;
      }
      recorded.headers.emplace_back(key, value);
    }
    std::string host = recorded.header("Host");
    recorded.host = host.substr(0, host.find(':'));
    const std::lock_guard lock(mutex);
    if (options.requestLog) {
      std::string line = "{\"method\":" + jsonQuote(recorded.method) +
                         ",\"host\":" + jsonQuote(recorded.host) +
                         ",\"path\":" + jsonQuote(recorded.path) + ",\"headers\":{";
      for (std::size_t i = 0; i < recorded.headers.size(); ++i) {
        if (i != 0) line += ',';
        line += jsonQuote(recorded.headers[i].first) + ":" + jsonQuote(recorded.headers[i].second);
      }
      line += "}}\n";
      const int error = logFailed ? 0 : appendLine(*options.requestLog, line);
      if (error != 0) {
        logFailed = true;
        if (options.logFailed) {
          options.logFailed("cannot write the request log " + options.requestLog->string() + ": " +
                            std::strerror(error));
        }
      }
    }
    requests.push_back(std::move(recorded));
  }

  void answer(const httplib::Request& request, httplib::Response& response) {
    if (options.status) {
      response.status = *options.status;
      response.set_content(options.body, "application/json; charset=utf-8");
      return;
    }
    // HTTP strips a header value's trailing white space, so the empty token arrives as
    // "Bearer"; the expected value is stripped the same way before comparing.
    if (options.token) {
      std::string expected = "Bearer ";
      expected += *options.token;
      expected.erase(expected.find_last_not_of(" \t") + 1);
      if (request.get_header_value("Authorization") != expected) {
        response.status = 401;
        response.set_content(kBadCredentialsBody, "application/json; charset=utf-8");
        return;
      }
    }
    // The request asks for no page: GitHub answers with the first.
    response.set_content(notificationsBody(std::min(count.load(), kNotificationsPerPage)),
                         "application/json; charset=utf-8");
  }
};

GithubServer::GithubServer(GithubServerOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->count = options.count;
  impl_->options = std::move(options);
}

GithubServer::~GithubServer() {
  stop();
}

int GithubServer::start() {
  Impl& impl = *impl_;
  if (impl.options.requestLog) {
    if (const int error = appendLine(*impl.options.requestLog, ""); error != 0) {
      throw std::runtime_error("cannot open the request log " + impl.options.requestLog->string() +
                               ": " + std::strerror(error));
    }
  }
  if (impl.options.stall) {
    impl.staller = std::make_unique<StallingListener>(impl.options.port);
    port_ = impl.staller->port();
    return port_;
  }
  const auto& certs = impl.options.certificates;
  impl.server = std::make_unique<httplib::SSLServer>(certs.serverCertificate.c_str(),
                                                     certs.serverKey.c_str());
  if (!impl.server->is_valid()) throw std::runtime_error("cannot load the server certificate");
  auto handler = [&impl](const httplib::Request& request, httplib::Response& response) {
    impl.answer(request, response);
  };
  impl.server->Get("/notifications", handler);  // any other request: 404
  // Headers and body go out in separate writes; without this each answer waits for the
  // client's delayed acknowledgement (about 40 ms).
  impl.server->set_tcp_nodelay(true);
  impl.server->set_logger(
      [&impl](const httplib::Request& request, const httplib::Response&) { impl.record(request); });
  if (impl.options.port == 0) {
    port_ = impl.server->bind_to_any_port("127.0.0.1");
  } else if (impl.server->bind_to_port("127.0.0.1", impl.options.port)) {
    port_ = impl.options.port;
  } else {
    port_ = -1;
  }
  if (port_ <= 0) throw std::runtime_error("cannot listen on 127.0.0.1");
  impl.thread = std::thread([&impl] { impl.server->listen_after_bind(); });
  // Until the loop runs, a stop would be lost and the thread never end.
  while (!impl.server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return port_;
}

void GithubServer::stop() {
  Impl& impl = *impl_;
  impl.staller.reset();
  if (impl.server) impl.server->stop();
  if (impl.thread.joinable()) impl.thread.join();
  impl.server.reset();
}

void GithubServer::setCount(int count) {
  impl_->count = count;
}

std::vector<RecordedRequest> GithubServer::requests() {
  const std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

}  // namespace tidingsbell::standin
