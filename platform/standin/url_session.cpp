#include "platform/standin/url_session.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <new>
#include <sstream>
#include <system_error>
#include <thread>

#include "platform/standin/trust_store.hpp"
#include "tidingsbell_version.hpp"

namespace tidingsbell::standin {

struct CurlSessionFactory::Shared {
  CurlSessionOptions options;
  std::unique_ptr<TrustStore> trust;  // read once, for every session's transfers
  std::mutex mutex;
  std::condition_variable changed;
  int runningTasks = 0;
  int liveSessions = 0;
  std::vector<std::weak_ptr<platform::UrlSession>> sessions;  // to invalidate at the end
  // Each session's callback queue runs on a thread of its own. Threads are joined, never
  // detached: one still running its thread-local destructors (OpenSSL's among them) while the
  // process exits would race OpenSSL's own clean-up at exit. Those that ended are joined when
  // the next session starts, so that they do not pile up over a long run.
  std::map<std::thread::id, std::thread> threads;
  std::vector<std::thread::id> ended;

  // Joins the threads whose sessions have ended; call without holding the mutex.
  void joinEnded() {
    std::vector<std::thread> done;
    {
      const std::lock_guard lock(mutex);
      for (const auto id : ended) {
        if (auto found = threads.find(id); found != threads.end()) {
          done.push_back(std::move(found->second));
          threads.erase(found);
        }
      }
      ended.clear();
    }
    for (auto& thread : done) thread.join();
  }
};

namespace {

using Clock = std::chrono::steady_clock;

struct ErrorText {
  long code;
  const char* text;
};

platform::UrlError urlError(const ErrorText& error) {
  return platform::UrlError{"Error Domain=NSURLErrorDomain Code=" + std::to_string(error.code) +
                            " \"" + error.text + "\""};
}

constexpr ErrorText kTimedOut{-1001, "The request timed out."};
constexpr ErrorText kCannotFindHost{-1003,
                                    "A server with the specified hostname could not be found."};
constexpr ErrorText kCannotConnect{-1004, "Could not connect to the server."};
constexpr ErrorText kConnectionLost{-1005, "The network connection was lost."};
constexpr ErrorText kSecureConnectionFailed{
    -1200, "An SSL error has occurred and a secure connection to the server cannot be made."};
constexpr ErrorText kUntrustedCertificate{-1202, "The certificate for this server is invalid."};
constexpr ErrorText kUnknown{-1, "An unknown error occurred."};

const ErrorText& mapCurlError(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return kTimedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kCannotFindHost;
    case CURLE_COULDNT_CONNECT:
      return kCannotConnect;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return kConnectionLost;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return kUntrustedCertificate;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
      return kSecureConnectionFailed;
    default:
      return kUnknown;
  }
}

void globalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
  platform::Bytes body;
  Clock::time_point lastActivity = Clock::now();
  curl_off_t lastBytes = -1;
  double idleLimitSeconds = 60.0;
  bool idleTimedOut = false;
  bool tooLarge = false;
  bool outOfMemory = false;
};

// A count short of what was given makes libcurl stop the transfer. Nothing may be thrown
// through libcurl's C frames.
std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* user) noexcept {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  auto& body = transfer->body;
  if (bytes > platform::kMaximumBodyBytes - body.size()) {
    transfer->tooLarge = true;
    return 0;
  }
  try {
    body.insert(body.end(), data, data + bytes);
  } catch (const std::bad_alloc&) {
    transfer->outOfMemory = true;
    return 0;
  }
  return bytes;
}

int watchIdle(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
              curl_off_t ulnow) {
  (void)dltotal;
  (void)ultotal;
  auto* transfer = static_cast<Transfer*>(user);
  const auto now = Clock::now();
  if (dlnow + ulnow != transfer->lastBytes) {
    transfer->lastBytes = dlnow + ulnow;
    transfer->lastActivity = now;
    return 0;
  }
  const std::chrono::duration<double> idle = now - transfer->lastActivity;
  if (idle.count() >= transfer->idleLimitSeconds) {
    transfer->idleTimedOut = true;
    return 1;
  }
  return 0;
}

class CurlTask;

class CurlSession final : public platform::UrlSession,
                          public std::enable_shared_from_this<CurlSession> {
 public:
  CurlSession(std::shared_ptr<CurlSessionFactory::Shared> shared,
              const platform::SessionConfiguration& configuration)
      : shared_(std::move(shared)), configuration_(configuration) {}

  void start() {
    {
      const std::lock_guard lock(shared_->mutex);
      try {
        // The callback queue keeps the session alive until it is invalidated and drained.
        // Recorded under the lock the thread takes to end, so that it is always found.
        std::thread thread =
            shared_->options.startThread
                ? shared_->options.startThread([self = shared_from_this()] { self->run(); })
                : std::thread([self = shared_from_this()] { self->run(); });
        const auto id = thread.get_id();
        shared_->threads.emplace(id, std::move(thread));
        ++shared_->liveSessions;
        return;
      } catch (const std::system_error&) {
        // No thread serves the queue (a process limit), nor ever will.
      }
    }
    const std::lock_guard lock(mutex_);
    unserved_ = true;  // each task fails as it is resumed
  }

  std::shared_ptr<platform::DataTask> dataTask(platform::UrlRequest request,
                                               platform::DataTaskCompletion completion) override;

  void finishTasksAndInvalidate() override {
    const std::lock_guard lock(mutex_);
    invalidated_ = true;
    wake_.notify_all();
  }

  void enqueue(platform::UrlRequest request, platform::DataTaskCompletion completion) {
    bool unserved = false;
    {
      const std::lock_guard lock(mutex_);
      unserved = unserved_;
    }
    if (unserved) {  // on the resuming thread, the only one there is
      completion(std::nullopt, std::nullopt, urlError(kUnknown));
      return;
    }
    {
      const std::lock_guard lock(shared_->mutex);
      ++shared_->runningTasks;
    }
    const std::lock_guard lock(mutex_);
    queue_.push_back({std::move(request), std::move(completion)});
    wake_.notify_all();
  }

 private:
  struct Job {
    platform::UrlRequest request;
    platform::DataTaskCompletion completion;
  };

  void run() {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return !queue_.empty() || invalidated_; });
        if (queue_.empty()) break;
        job = std::move(queue_.front());
        queue_.pop_front();
      }
      perform(job);
      job = {};  // the completion and what it holds are released here, on this queue
      const std::lock_guard lock(shared_->mutex);
      --shared_->runningTasks;
      shared_->changed.notify_all();
    }
    const std::lock_guard lock(shared_->mutex);
    --shared_->liveSessions;
    shared_->ended.push_back(std::this_thread::get_id());
    shared_->changed.notify_all();
  }

  void perform(Job& job) {
    const CurlSessionOptions& options = shared_->options;
    const double timeout = options.timeoutOverride.value_or(job.request.timeoutInterval);
    const auto timeoutMs = static_cast<long>(timeout * 1000.0);
    const double lifetime =
        options.lifetimeOverride.value_or(configuration_.timeoutIntervalForResource);
    const auto lifetimeMs = static_cast<long>(std::clamp(lifetime, 0.001, 1e6) * 1000.0);

    Transfer transfer;
    transfer.idleLimitSeconds = timeout;
    CURL* curl = curl_easy_init();  // a new connection and a full handshake, as every session
    if (curl == nullptr) {
      job.completion(std::nullopt, std::nullopt, urlError(kUnknown));
      return;
    }
    curl_slist* headers = nullptr;
    for (const auto& [field, value] : job.request.headerFields) {
      headers = curl_slist_append(headers, (field + ": " + value).c_str());
    }
    curl_slist* connectTo = nullptr;
    for (const auto& entry : options.connectTo)
      connectTo = curl_slist_append(connectTo, entry.c_str());

    curl_easy_setopt(curl, CURLOPT_URL, job.request.url.absoluteString.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, job.request.httpMethod.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, options.userAgent.c_str());
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");  // every encoding libcurl can decode
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https,http");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    shared_->trust->applyTo(curl);  // the system's authorities and the extra one
    if (connectTo != nullptr) curl_easy_setopt(curl, CURLOPT_CONNECT_TO, connectTo);
    // Connecting and the TLS handshake, then any stretch with no bytes, each get the timeout.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, lifetimeMs);  // the whole task, however busy
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, watchIdle);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);

    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    curl_slist_free_all(connectTo);

    if (result == CURLE_OK) {
      job.completion(std::move(transfer.body), platform::UrlResponse{status}, std::nullopt);
    } else if (result == CURLE_ABORTED_BY_CALLBACK && transfer.idleTimedOut) {
      job.completion(std::nullopt, std::nullopt, urlError(kTimedOut));
    } else if (result == CURLE_WRITE_ERROR && transfer.tooLarge) {
      job.completion(std::nullopt, std::nullopt, platform::dataLengthExceedsMaximumError());
    } else if (result == CURLE_WRITE_ERROR && transfer.outOfMemory) {
      job.completion(std::nullopt, std::nullopt, urlError(kUnknown));
    } else {
      job.completion(std::nullopt, std::nullopt, urlError(mapCurlError(result)));
    }
  }

  std::shared_ptr<CurlSessionFactory::Shared> shared_;
  platform::SessionConfiguration configuration_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> queue_;
  bool invalidated_ = false;
  bool unserved_ = false;  // no thread could be started for the callback queue
};

class CurlTask final : public platform::DataTask {
 public:
  CurlTask(std::shared_ptr<CurlSession> session, platform::UrlRequest request,
           platform::DataTaskCompletion completion)
      : session_(std::move(session)),
        request_(std::move(request)),
        completion_(std::move(completion)) {}

  void resume() override {
    if (!completion_) return;  // already resumed
    session_->enqueue(std::move(request_), std::move(completion_));
    completion_ = {};
  }

 private:
  std::shared_ptr<CurlSession> session_;
  platform::UrlRequest request_;
  platform::DataTaskCompletion completion_;
};

std::shared_ptr<platform::DataTask> CurlSession::dataTask(platform::UrlRequest request,
                                                          platform::DataTaskCompletion completion) {
  return std::make_shared<CurlTask>(shared_from_this(), std::move(request), std::move(completion));
}

std::vector<std::string> splitCommas(const char* text) {
  std::vector<std::string> parts;
  if (text == nullptr) return parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, ',')) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

}  // namespace

std::string defaultUserAgent() {
  return std::string("Tidingsbell_Extension/") + kTidingsbellVersion;
}

CurlSessionOptions CurlSessionOptions::fromEnvironment() {
  CurlSessionOptions options;
  options.userAgent = defaultUserAgent();
  options.connectTo = splitCommas(std::getenv("TIDINGSBELL_STANDIN_CONNECT_TO"));
  if (const char* ca = std::getenv("TIDINGSBELL_STANDIN_CA_FILE")) options.extraCaFile = ca;
  return options;
}

CurlSessionFactory::CurlSessionFactory(CurlSessionOptions options)
    : shared_(std::make_shared<Shared>()) {
  globalInit();
  if (options.userAgent.empty()) options.userAgent = defaultUserAgent();
  shared_->trust = std::make_unique<TrustStore>(options.extraCaFile);
  shared_->options = std::move(options);
}

CurlSessionFactory::~CurlSessionFactory() {
  std::vector<std::weak_ptr<platform::UrlSession>> sessions;
  {
    const std::lock_guard lock(shared_->mutex);
    sessions.swap(shared_->sessions);
  }
  for (auto& weak : sessions) {
    if (auto session = weak.lock()) session->finishTasksAndInvalidate();
  }
  {
    std::unique_lock lock(shared_->mutex);
    shared_->changed.wait(lock, [this] { return shared_->liveSessions == 0; });
  }
  shared_->joinEnded();
}

platform::SessionConfiguration CurlSessionFactory::defaultSessionConfiguration() {
  return platform::SessionConfiguration{};
}

std::shared_ptr<platform::UrlSession> CurlSessionFactory::sessionWithConfiguration(
    const platform::SessionConfiguration& configuration) {
  // libcurl keeps no cache, so both cache settings hold whatever their values.
  shared_->joinEnded();
  auto session = std::make_shared<CurlSession>(shared_, configuration);
  session->start();
  const std::lock_guard lock(shared_->mutex);
  std::erase_if(shared_->sessions, [](const auto& weak) { return weak.expired(); });
  shared_->sessions.push_back(session);
  return session;
}

void CurlSessionFactory::waitIdle() {
  std::unique_lock lock(shared_->mutex);
  shared_->changed.wait(lock, [this] { return shared_->runningTasks == 0; });
}

std::size_t CurlSessionFactory::liveSessions() {
  const std::lock_guard lock(shared_->mutex);
  return static_cast<std::size_t>(shared_->liveSessions);
}

}  // namespace tidingsbell::standin
