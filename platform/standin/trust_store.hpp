#pragma once
// The authorities every session's transfers trust: the system's and an optional extra file,
// read once and shared, as the platform's sessions share the system's trust store. Only the
// store is shared: each connection still gets a TLS context of its own and a full handshake.

#include <curl/curl.h>

#include <mutex>
#include <string>

struct x509_store_st;

namespace tidingsbell::standin {

class TrustStore {
 public:
  explicit TrustStore(std::string extraCaFile);
  TrustStore(const TrustStore&) = delete;
  TrustStore& operator=(const TrustStore&) = delete;
  ~TrustStore();

  // The handle verifies against this store instead of reading CA files itself.
  void applyTo(CURL* curl);

 private:
  static CURLcode install(CURL* curl, void* sslContext, void* self);
  // The store, read on first use; nullptr while the extra file cannot be read (missing, not a
  // regular file, over 8 MiB, no certificate in it), so that a fixed file is picked up by the
  // next transfer.
  x509_store_st* acquire();
  [[nodiscard]] x509_store_st* build() const;

  std::string extraCaFile_;
  std::mutex mutex_;
  x509_store_st* store_ = nullptr;
};

}  // namespace tidingsbell::standin
