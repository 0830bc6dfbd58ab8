#include "platform/standin/trust_store.hpp"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace tidingsbell::standin {

TrustStore::TrustStore(std::string extraCaFile) : extraCaFile_(std::move(extraCaFile)) {}

TrustStore::~TrustStore() {
  X509_STORE_free(store_);
}

void TrustStore::applyTo(CURL* curl) {
  // libcurl would otherwise read and parse its CA bundle for every connection.
  curl_easy_setopt(curl, CURLOPT_CAINFO, nullptr);
  curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
  curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &TrustStore::install);
  curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, this);
}

CURLcode TrustStore::install(CURL* /*curl*/, void* sslContext, void* self) {
  X509_STORE* store = static_cast<TrustStore*>(self)->acquire();
  if (store == nullptr) return CURLE_SSL_CACERT_BADFILE;
  // The context takes over one reference and frees its own empty store.
  SSL_CTX_set_cert_store(static_cast<SSL_CTX*>(sslContext), store);
  return CURLE_OK;
}

X509_STORE* TrustStore::acquire() {
  const std::lock_guard lock(mutex_);
  if (store_ == nullptr) {
    X509_STORE* store = X509_STORE_new();
    if (store == nullptr) return nullptr;
    // The system's authorities where libcurl itself would look for them.
    CURL* probe = curl_easy_init();
    char* bundle = nullptr;
    char* folder = nullptr;
    if (probe != nullptr) {
      curl_easy_getinfo(probe, CURLINFO_CAINFO, &bundle);
      curl_easy_getinfo(probe, CURLINFO_CAPATH, &folder);
    }
    if (bundle != nullptr) (void)X509_STORE_load_file(store, bundle);
    if (folder != nullptr) (void)X509_STORE_load_path(store, folder);
    if (probe != nullptr) curl_easy_cleanup(probe);
    const bool extraRead =
        extraCaFile_.empty() || X509_STORE_load_file(store, extraCaFile_.c_str()) == 1;
    ERR_clear_error();  // a missing system bundle is no failure of the transfer
    if (!extraRead) {
      X509_STORE_free(store);
      return nullptr;
    }
    // The verification libcurl sets up on a store it reads itself.
    X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
    store_ = store;
  }
  X509_STORE_up_ref(store_);
  return store_;
}

}  // namespace tidingsbell::standin
