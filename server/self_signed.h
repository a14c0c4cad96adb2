// The server's own certificate when none is given: a self-signed one, made once and kept, as
// SQL Server makes one for itself.
#pragma once

#include <string>

namespace dunmarrow::server {

struct CertificateFiles {
  std::string certificate;  // PEM
  std::string key;          // PEM, readable by the owner alone
};

// "server.crt" and "server.key" in `directory`. When neither exists, a self-signed certificate
// (RSA 2048, SHA-256, ten years, common name the host's name) and its key are made there. When
// only one of them exists, nothing is touched: false and `error`.
bool EnsureSelfSignedCertificate(const std::string& directory, CertificateFiles& files,
                                 std::string& error);

}  // namespace dunmarrow::server
