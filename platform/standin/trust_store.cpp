#include "platform/standin/trust_store.hpp"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include "platform/standin/stored_file.hpp"

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

namespace {

// A system bundle is about 200 kB; a file this large is not one.
constexpr std::size_t kMaximumCaFileBytes = 8 * 1024 * 1024;

// The certificates and revocation lists of a PEM text, as X509_STORE_load_file adds those of a
// file. False when the text holds none.
bool addPem(X509_STORE* store, const std::string& text) {
  BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
  if (bio == nullptr) return false;
  STACK_OF(X509_INFO)* infos = PEM_X509_INFO_read_bio(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  if (infos == nullptr) return false;
  int added = 0;
  for (int i = 0; i < sk_X509_INFO_num(infos); ++i) {
    const X509_INFO* info = sk_X509_INFO_value(infos, i);
    if (info->x509 != nullptr && X509_STORE_add_cert(store, info->x509) == 1) ++added;
    if (info->crl != nullptr && X509_STORE_add_crl(store, info->crl) == 1) ++added;
  }
  sk_X509_INFO_pop_free(infos, X509_INFO_free);
  return added > 0;
}

}  // namespace

x509_store_st* TrustStore::build() const {
  // The extra file is read as the stores read theirs: never blocking (a FIFO fails at once),
  // regular files only, within a size limit.
  std::string extra;
  if (!extraCaFile_.empty()) {
    SmallFile file = readSmallFile(extraCaFile_, kMaximumCaFileBytes);
    if (file.state != SmallFile::State::Read) return nullptr;
    extra = std::move(file.text);
  }
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
  const bool extraRead = extraCaFile_.empty() || addPem(store, extra);
  ERR_clear_error();  // a missing system bundle is no failure of the transfer
  if (!extraRead) {
    X509_STORE_free(store);
    return nullptr;
  }
  // The verification libcurl sets up on a store it reads itself.
  X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
  return store;
}

X509_STORE* TrustStore::acquire() {
  {
    const std::lock_guard lock(mutex_);
    if (store_ != nullptr) {
      X509_STORE_up_ref(store_);
      return store_;
    }
  }
  // Read without the lock, so that no transfer waits behind another's reading; two that read
  // at once keep the first store made.
  X509_STORE* store = build();
  if (store == nullptr) return nullptr;
  const std::lock_guard lock(mutex_);
  if (store_ == nullptr) {
    store_ = store;
  } else {
    X509_STORE_free(store);
  }
  X509_STORE_up_ref(store_);
  return store_;
}

}  // namespace tidingsbell::standin
