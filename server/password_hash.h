// Passwords as the logins file keeps them: PBKDF2-SHA-256 of the password with a random salt
// and a work factor (iterations) of its own, never the password itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace dunmarrow::server {

// About 30 ms per check on a current machine: slow for guessing, quick for a login.
inline constexpr uint32_t kDefaultIterations = 100000;
// Work factors a logins file may name: below, a hash is too cheap to guess against; above, a
// login would take minutes.
inline constexpr uint32_t kMinIterations = 1000;
inline constexpr uint32_t kMaxIterations = 10000000;
inline constexpr size_t kSaltBytes = 16;
inline constexpr size_t kHashBytes = 32;

struct PasswordHash {
  uint32_t iterations = kDefaultIterations;
  std::array<uint8_t, kSaltBytes> salt{};
  std::array<uint8_t, kHashBytes> hash{};
};

// PBKDF2 with HMAC-SHA-256 (RFC 8018), `length` bytes of output.
std::vector<uint8_t> Pbkdf2Sha256(std::string_view password, const uint8_t* salt,
                                  size_t salt_length, uint32_t iterations, size_t length);

// A new hash of the password with a fresh random salt. Raises std::runtime_error when the
// system gives no random bytes.
PasswordHash HashPassword(std::string_view password, uint32_t iterations = kDefaultIterations);

// Whether the password gives the stored hash; the comparison takes the same time whatever
// bytes differ.
bool VerifyPassword(const PasswordHash& stored, std::string_view password);

}  // namespace dunmarrow::server
