#pragma once
// The authorities a session's transfers trust: the system's and an optional extra file, read
// for each connection, so that a file fixed or replaced is picked up by the next poll.

#include <curl/curl.h>

#include <string>

struct x509_store_st;

namespace tidingsbell::standin {

class TrustStore {
 public:
  explicit TrustStore(std::string extraCaFile) : extraCaFile_(std::move(extraCaFile)) {}

  // The handle verifies against these authorities instead of reading CA files itself. A transfer
  // whose extra file cannot be read (missing, not a regular file, over 8 MiB, no certificate in
  // it) fails as an untrusted certificate does.
  void applyTo(CURL* curl);

 private:
  static CURLcode install(CURL* curl, void* sslContext, void* self);
  [[nodiscard]] x509_store_st* build() const;

  std::string extraCaFile_;
};

}  // namespace tidingsbell::standin
