// Making the self-signed certificate with OpenSSL and writing it beside the logins file. Each
// file is written under a temporary name and renamed, the key first, so that a start that is
// cut short never leaves a certificate without its key.
#include "server/self_signed.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

namespace dunmarrow::server {

namespace {

namespace fs = std::filesystem;

struct OpenSslFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  void operator()(X509* certificate) const { X509_free(certificate); }
};

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || !name[0]) return "localhost";
  return name;
}

bool AddExtension(X509* certificate, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (!extension) return false;
  bool added = X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

// A certificate for `key`, signed by it.
std::unique_ptr<X509, OpenSslFree> MakeCertificate(EVP_PKEY* key, const std::string& host) {
  std::unique_ptr<X509, OpenSslFree> certificate(X509_new());
  if (!certificate) return nullptr;
  X509* x = certificate.get();
  unsigned char serial[16];
  if (RAND_bytes(serial, sizeof serial) != 1) return nullptr;
  serial[0] &= 0x7F;  // a positive number
  BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
  bool ok = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(x));
  BN_free(number);
  X509_NAME* name = X509_get_subject_name(x);
  // A common name holds at most 64 characters; a longer host name keeps its first label
  // there, and is whole in the alternative names.
  std::string common_name = host.size() <= 64 ? host : host.substr(0, host.find('.'));
  if (common_name.size() > 64) common_name = "localhost";
  const auto* common_bytes = reinterpret_cast<const unsigned char*>(common_name.c_str());
  ok =
      ok && X509_set_version(x, 2) &&
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, common_bytes, -1, -1, 0) &&
      X509_set_issuer_name(x, name) && X509_gmtime_adj(X509_getm_notBefore(x), -3600) &&
      X509_gmtime_adj(X509_getm_notAfter(x), 3650L * 24 * 3600) && X509_set_pubkey(x, key) &&
      AddExtension(x, NID_basic_constraints, "critical,CA:FALSE") &&
      AddExtension(x, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
      AddExtension(x, NID_ext_key_usage, "serverAuth") &&
      AddExtension(x, NID_subject_alt_name, "DNS:" + host + ",DNS:localhost,IP:127.0.0.1,IP:::1") &&
      X509_sign(x, key, EVP_sha256()) > 0;
  return ok ? std::move(certificate) : nullptr;
}

// Writes `path` with `mode` through a temporary file renamed over it when complete.
bool WriteFile(const fs::path& path, mode_t mode, const std::function<bool(FILE*)>& write,
               std::string& error) {
  fs::path temporary = path;
  temporary += ".new";
  unlink(temporary.c_str());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  FILE* file = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (!file) {
    error = "cannot write " + temporary.string() + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  bool written = fchmod(fd, mode) == 0 && write(file) && std::fflush(file) == 0 && fsync(fd) == 0;
  bool closed = std::fclose(file) == 0;
  if (!written || !closed || rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path.string() + ": " + std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool EnsureSelfSignedCertificate(const std::string& directory, CertificateFiles& files,
                                 std::string& error) {
  fs::path certificate_path = fs::path(directory) / "server.crt";
  fs::path key_path = fs::path(directory) / "server.key";
  files.certificate = certificate_path.string();
  files.key = key_path.string();
  std::error_code status;
  bool have_certificate = fs::exists(certificate_path, status);
  bool have_key = fs::exists(key_path, status);
  if (have_certificate && have_key) return true;
  if (have_certificate != have_key) {
    error = (have_key ? key_path : certificate_path).string() + " exists without " +
            (have_key ? certificate_path : key_path).string() +
            "; remove it to have a new certificate made, or give --tls-cert and --tls-key";
    return false;
  }
  ERR_clear_error();
  std::unique_ptr<EVP_PKEY, OpenSslFree> key(EVP_RSA_gen(2048));
  std::unique_ptr<X509, OpenSslFree> certificate;
  if (key) certificate = MakeCertificate(key.get(), HostName());
  if (!certificate) {
    char detail[256] = "no detail";
    if (unsigned long code = ERR_get_error()) ERR_error_string_n(code, detail, sizeof detail);
    error = std::string("cannot make a self-signed certificate: ") + detail;
    return false;
  }
  auto write_key = [&](FILE* file) {
    return PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
  };
  auto write_certificate = [&](FILE* file) { return PEM_write_X509(file, certificate.get()) == 1; };
  if (!WriteFile(key_path, 0600, write_key, error)) return false;
  if (!WriteFile(certificate_path, 0644, write_certificate, error)) {
    unlink(key_path.c_str());  // a key alone would stop the next start
    return false;
  }
  return true;
}

}  // namespace dunmarrow::server
