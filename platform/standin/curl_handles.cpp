#include "platform/standin/curl_handles.hpp"

namespace tidingsbell::standin {
namespace {

// Polls rarely overlap; a few spares cover those that do.
constexpr std::size_t kMostIdle = 2;

}  // namespace

CurlHandles::~CurlHandles() {
  for (CURL* curl : idle_) curl_easy_cleanup(curl);
}

CURL* CurlHandles::acquire() {
  CURL* curl = nullptr;
  {
    const std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      curl = idle_.back();
      idle_.pop_back();
    }
  }
  if (curl == nullptr) curl = curl_easy_init();
  if (curl == nullptr) return nullptr;
  // Nothing of one session's connection may serve the next.
  curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_SESSIONID_CACHE, 0L);
  return curl;
}

void CurlHandles::release(CURL* curl) {
  if (curl == nullptr) return;
  curl_easy_reset(curl);  // every option back to its default, the pointers to our data included
  {
    const std::lock_guard lock(mutex_);
    if (idle_.size() < kMostIdle) {
      idle_.push_back(curl);
      return;
    }
  }
  curl_easy_cleanup(curl);
}

}  // namespace tidingsbell::standin
