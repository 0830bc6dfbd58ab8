#pragma once
// The URL loading system on libcurl. Each session has one serial callback queue of its own, as
// a platform session without a delegate queue runs its completions on a serial queue of its own,
// never on the caller's thread; here a thread of the session's own serves it. A session lives
// until it is invalidated and its tasks are done; one never invalidated lives until the factory
// (the stand-in's process) ends, as it would on the platform.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/url_session.hpp"

namespace tidingsbell::standin {

struct CurlSessionOptions {
  std::string userAgent;                   // sent with every request, as the platform does
  std::vector<std::string> connectTo;      // libcurl's HOST:PORT:CONNECT-TO-HOST:PORT entries
  std::string extraCaFile;                 // trusted in addition to the system's authorities
  std::optional<double> timeoutOverride;   // seconds; lets tests shorten the request's time-outs
  std::optional<double> lifetimeOverride;  // seconds; lets tests shorten a task's whole life
  // Starts a session's callback queue thread (std::thread when empty); lets tests make it fail,
  // as a process limit does: the session's tasks then fail with the unknown error.
  std::function<std::thread(std::function<void()>)> startThread;

  // TIDINGSBELL_STANDIN_CONNECT_TO and TIDINGSBELL_STANDIN_CA_FILE; the default User-Agent.
  static CurlSessionOptions fromEnvironment();
};

// The default User-Agent: "Tidingsbell_Extension/" and the project's version.
std::string defaultUserAgent();

class CurlSessionFactory final : public platform::UrlSessionFactory {
 public:
  explicit CurlSessionFactory(CurlSessionOptions options = CurlSessionOptions::fromEnvironment());
  CurlSessionFactory(const CurlSessionFactory&) = delete;
  CurlSessionFactory& operator=(const CurlSessionFactory&) = delete;
  // Invalidates every session still open and waits for all of them to finish.
  ~CurlSessionFactory() override;

  platform::SessionConfiguration defaultSessionConfiguration() override;
  std::shared_ptr<platform::UrlSession> sessionWithConfiguration(
      const platform::SessionConfiguration& configuration) override;

  // Waits until every resumed task has completed and its completion has returned.
  void waitIdle();
  // Sessions whose callback queue is still running.
  [[nodiscard]] std::size_t liveSessions();

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace tidingsbell::standin
