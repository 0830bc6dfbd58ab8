#pragma once
// The stand-in GitHub: HTTPS on 127.0.0.1 answering the notifications request with notifications
// shaped like GitHub's. It records what it is sent: it is a test server.

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "standin/certificates.hpp"

namespace tidingsbell::standin {

struct GithubServerOptions {
  CertificatePaths certificates;
  int port = 0;                      // 0: any free port
  std::optional<std::string> token;  // the only token accepted; none: any, "" included
  int count = 3;                     // notifications listed
  std::optional<int> status;         // with body: the answer instead, whatever the token
  std::string body;
  bool stall = false;  // accept connections and never answer
  // One JSON line per request, appended. start() throws when it cannot be opened for appending;
  // a line that cannot be written later calls logFailed with what went wrong, once.
  std::optional<std::filesystem::path> requestLog;
  std::function<void(const std::string& problem)> logFailed;
};

struct RecordedRequest {
  std::string method;
  std::string host;
  std::string path;                                               // with its query, if any
  std::vector<std::pair<std::string, std::string>> headers;       // as received
  [[nodiscard]] std::string header(std::string_view name) const;  // first, case-insensitive
};

inline constexpr int kNotificationsPerPage = 50;
inline constexpr const char* kBadCredentialsBody =
    R"({"message":"Bad credentials","documentation_url":"https://docs.github.com/rest","status":"401"})";

// `count` notifications as GitHub lists them.
std::string notificationsBody(int count);

class GithubServer {
 public:
  explicit GithubServer(GithubServerOptions options);
  GithubServer(const GithubServer&) = delete;
  GithubServer& operator=(const GithubServer&) = delete;
  ~GithubServer();

  // Binds and starts answering; returns the port. Throws std::runtime_error when it cannot.
  int start();
  void stop();
  void setCount(int count);
  [[nodiscard]] int port() const { return port_; }
  [[nodiscard]] std::vector<RecordedRequest> requests();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

}  // namespace tidingsbell::standin
