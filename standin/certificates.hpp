#pragma once
// A certificate authority and a server certificate signed by it, for the stand-in GitHub and
// the tests' HTTPS servers on loopback.

#include <filesystem>
#include <string>
#include <vector>

namespace tidingsbell::standin {

struct CertificatePaths {
  std::filesystem::path caCertificate;      // ca.pem: what clients must trust
  std::filesystem::path serverCertificate;  // server.pem
  std::filesystem::path serverKey;          // server-key.pem
};

// Uses the files in `folder` when all are there, else makes them: a fresh authority and a
// server certificate for `hostNames` (and 127.0.0.1). Throws std::runtime_error on failure.
CertificatePaths ensureCertificates(const std::filesystem::path& folder,
                                    const std::vector<std::string>& hostNames);

}  // namespace tidingsbell::standin
