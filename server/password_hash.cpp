// PBKDF2-SHA-256 through nettle, salts from the kernel's random source.
#include "server/password_hash.h"

#include <nettle/memops.h>
#include <nettle/pbkdf2.h>
#include <sys/random.h>

#include <cerrno>
#include <stdexcept>

namespace dunmarrow::server {

std::vector<uint8_t> Pbkdf2Sha256(std::string_view password, const uint8_t* salt,
                                  size_t salt_length, uint32_t iterations, size_t length) {
  std::vector<uint8_t> out(length);
  pbkdf2_hmac_sha256(password.size(), reinterpret_cast<const uint8_t*>(password.data()), iterations,
                     salt_length, salt, length, out.data());
  return out;
}

PasswordHash HashPassword(std::string_view password, uint32_t iterations) {
  PasswordHash result;
  result.iterations = iterations;
  size_t filled = 0;
  while (filled < result.salt.size()) {
    ssize_t got = getrandom(result.salt.data() + filled, result.salt.size() - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw std::runtime_error("no random bytes for the password's salt");
    filled += static_cast<size_t>(got);
  }
  std::vector<uint8_t> hash =
      Pbkdf2Sha256(password, result.salt.data(), result.salt.size(), iterations, kHashBytes);
  std::copy(hash.begin(), hash.end(), result.hash.begin());
  return result;
}

bool VerifyPassword(const PasswordHash& stored, std::string_view password) {
  std::vector<uint8_t> hash =
      Pbkdf2Sha256(password, stored.salt.data(), stored.salt.size(), stored.iterations, kHashBytes);
  return memeql_sec(hash.data(), stored.hash.data(), kHashBytes) != 0;
}

}  // namespace dunmarrow::server
