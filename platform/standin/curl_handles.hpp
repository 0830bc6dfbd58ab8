#pragma once
// libcurl easy handles kept from one session to the next. A handle is handed out reset, with
// every connection closed after its transfer and no TLS session kept, so the session that takes
// it starts as a new one does: a new connection and a full handshake. What carries over is only
// libcurl's own set-up of the handle, which would otherwise be made and torn down every poll.

#include <curl/curl.h>

#include <mutex>
#include <vector>

namespace tidingsbell::standin {

class CurlHandles {
 public:
  CurlHandles() = default;
  CurlHandles(const CurlHandles&) = delete;
  CurlHandles& operator=(const CurlHandles&) = delete;
  ~CurlHandles();

  // A handle for one transfer, used by one thread until it is released; nullptr when libcurl
  // cannot make one.
  CURL* acquire();
  void release(CURL* curl);

 private:
  std::mutex mutex_;
  std::vector<CURL*> idle_;
};

}  // namespace tidingsbell::standin
