#include "standin/certificates.hpp"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "platform/standin/stored_file.hpp"

namespace tidingsbell::standin {
namespace {

struct Free {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  void operator()(X509* cert) const { X509_free(cert); }
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Cert = std::unique_ptr<X509, Free>;
using File = std::unique_ptr<std::FILE, Free>;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("could not make the certificates: ") + what);
}

Key newKey() {
  Key key(EVP_EC_gen("P-256"));
  check(key != nullptr, "key generation");
  return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  check(extension != nullptr, "extension");
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

Cert newCertificate(EVP_PKEY* key, const std::string& commonName, long serial) {
  Cert cert(X509_new());
  check(cert != nullptr, "certificate");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600L);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 60L * 60 * 24 * 825);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Tidingsbell stand-in"), -1, -1,
                             0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  return cert;
}

void writePem(const std::filesystem::path& path, X509* cert, EVP_PKEY* key) {
  File file(std::fopen(path.c_str(), "w"));
  check(file != nullptr, "opening a file");
  ::chmod(path.c_str(), 0600);
  if (cert != nullptr) check(PEM_write_X509(file.get(), cert) == 1, "writing a certificate");
  if (key != nullptr) {
    check(PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
          "writing a key");
  }
}

}  // namespace

CertificatePaths ensureCertificates(const std::filesystem::path& folder,
                                    const std::vector<std::string>& hostNames) {
  const CertificatePaths paths{folder / "ca.pem", folder / "server.pem", folder / "server-key.pem"};
  // Read without blocking: a FIFO in a file's place would hang both the reading (OpenSSL's) and
  // the writing here for good.
  bool complete = true;
  for (const auto* path : {&paths.caCertificate, &paths.serverCertificate, &paths.serverKey}) {
    const SmallFile file = readSmallFile(*path, 1024 * 1024);
    if (file.state == SmallFile::State::Missing) {
      complete = false;
    } else if (file.state != SmallFile::State::Read) {
      throw std::runtime_error("cannot read " + path->string() + ": not a readable regular file");
    }
  }
  if (complete) return paths;
  std::filesystem::create_directories(folder);

  const Key caKey = newKey();
  const Cert ca = newCertificate(caKey.get(), "Tidingsbell stand-in authority", 1);
  X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
  addExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
  addExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  addExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
  check(X509_sign(ca.get(), caKey.get(), EVP_sha256()) > 0, "signing the authority");

  const Key serverKey = newKey();
  const Cert server =
      newCertificate(serverKey.get(), hostNames.empty() ? "localhost" : hostNames[0], 2);
  X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get()));
  std::string altNames = "IP:127.0.0.1";
  for (const auto& host : hostNames) altNames += ",DNS:" + host;
  addExtension(server.get(), ca.get(), NID_subject_alt_name, altNames);
  addExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
  addExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
  addExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
  check(X509_sign(server.get(), caKey.get(), EVP_sha256()) > 0, "signing the server certificate");

  // The authority last: its presence marks a complete set for the next run.
  writePem(paths.serverKey, nullptr, serverKey.get());
  writePem(paths.serverCertificate, server.get(), nullptr);
  writePem(paths.caCertificate, ca.get(), nullptr);
  return paths;
}

}  // namespace tidingsbell::standin
