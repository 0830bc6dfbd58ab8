#pragma once
// The URL loading system, reduced to what one poll uses: a request, a session configuration, a
// session without a delegate (its completions run on a serial queue of its own), one data task.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/bytes.hpp"
#include "platform/callback.hpp"
#include "platform/url.hpp"

namespace tidingsbell::platform {

inline constexpr int NSURLRequestUseProtocolCachePolicy = 0;
inline constexpr int NSURLRequestReloadIgnoringLocalCacheData = 1;

struct UrlRequest {
  Url url;
  int cachePolicy = NSURLRequestUseProtocolCachePolicy;
  double timeoutInterval = 60.0;
  std::string httpMethod = "GET";
  std::vector<std::pair<std::string, std::string>> headerFields;

  void addValue(std::string value, std::string field) {
    headerFields.emplace_back(std::move(field), std::move(value));
  }
};

struct SessionConfiguration {
  int requestCachePolicy = NSURLRequestUseProtocolCachePolicy;
  bool hasUrlCache = true;
  // The whole life of a task, however steadily bytes arrive; the platform's default is 7 days.
  double timeoutIntervalForResource = 7 * 24 * 3600.0;
};

struct UrlResponse {
  long statusCode = 0;  // the HTTP status, as NSHTTPURLResponse reports it
};

struct UrlError {
  std::string description;  // the error object's own description, as printing it shows
};

// The most body a completion is handed. An answer that decodes to more ends its task with
// NSURLErrorDataLengthExceedsMaximum instead, so no more than this is ever parsed. The stand-in
// stops reading there; on macOS a session without a delegate receives the whole body (within the
// resource time-out) before the completion can look at its size, so there the cap bounds the
// parsing, not the download.
inline constexpr std::size_t kMaximumBodyBytes = 8 * 1024 * 1024;

inline UrlError dataLengthExceedsMaximumError() {
  return UrlError{"Error Domain=NSURLErrorDomain Code=-1103 \"resource exceeds maximum size\""};
}

using DataTaskCompletion =
    Callback<void(std::optional<Bytes> body, std::optional<UrlResponse>, std::optional<UrlError>)>;

class DataTask {
 public:
  virtual ~DataTask() = default;
  virtual void resume() = 0;
};

class UrlSession {
 public:
  virtual ~UrlSession() = default;
  virtual std::shared_ptr<DataTask> dataTask(UrlRequest request, DataTaskCompletion completion) = 0;
  // Returns at once; running tasks finish and their completions run, then the session is freed.
  virtual void finishTasksAndInvalidate() = 0;
};

class UrlSessionFactory {
 public:
  virtual ~UrlSessionFactory() = default;
  virtual SessionConfiguration defaultSessionConfiguration() = 0;
  virtual std::shared_ptr<UrlSession> sessionWithConfiguration(const SessionConfiguration&) = 0;
};

}  // namespace tidingsbell::platform
