// Shared pieces of the CryptoAPI tests: the module's load and unload steps around each test,
// and the Base provider's cipher recipe built straight from nettle as an independent oracle.
#pragma once

#include <gtest/gtest.h>
#include <nettle/arcfour.h>
#include <nettle/arctwo.h>
#include <nettle/des.h>
#include <nettle/md5.h>
#include <nettle/sha1.h>

#include <cstring>
#include <string>

#include "crypto/crypto.h"
#include "runtime/xp_lock.h"
#include "tests/unit/call_helpers.h"

namespace dunmarrow::test {

// XpLock exists while a test runs; the shared provider is released as the module's unload
// releases it.
class CryptTest : public DriveRootTest {
 protected:
  void SetUp() override {
    DriveRootTest::SetUp();
    CreateXpLock();
  }
  void TearDown() override {
    ReleaseSharedCryptoProvider();
    DeleteXpLock();
    DriveRootTest::TearDown();
  }
};

inline std::string Sha1Of(const std::string& bytes) {
  sha1_ctx ctx;
  sha1_init(&ctx);
  sha1_update(&ctx, bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
  std::string digest(SHA1_DIGEST_SIZE, '\0');
  sha1_digest(&ctx, digest.size(), reinterpret_cast<uint8_t*>(digest.data()));
  return digest;
}

inline std::string LowerHex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

inline ods::Bytes BytesOf(const std::string& text) {
  return ods::Bytes(text.begin(), text.end());
}

// What the Base provider makes of `plain` under a password, by its published recipe: the key
// is the MD5 digest of no data (5 bytes for RC2 and RC4, 8 for DES), IV and salt are the
// reversed password repeated to 8 and 11 bytes, RC2 runs with 40 effective key bits, block
// ciphers in CBC with PKCS#5 padding.
inline std::string OracleEncrypt(const std::string& algorithm, const std::string& password,
                                 const std::string& plain) {
  uint8_t md5[MD5_DIGEST_SIZE];
  md5_ctx hash;
  md5_init(&hash);
  md5_digest(&hash, sizeof md5, md5);
  std::string reversed(password.rbegin(), password.rend());
  uint8_t iv[8];
  uint8_t key[16];
  for (int i = 0; i < 8; ++i) iv[i] = static_cast<uint8_t>(reversed[i % reversed.size()]);
  for (int i = 0; i < 16; ++i) {
    key[i] = i < 5 ? md5[i] : static_cast<uint8_t>(reversed[(i - 5) % reversed.size()]);
  }
  std::string out = plain;
  if (algorithm == "RC4") {
    arcfour_ctx rc4;
    arcfour_set_key(&rc4, 16, key);
    arcfour_crypt(&rc4, out.size(), reinterpret_cast<uint8_t*>(out.data()),
                  reinterpret_cast<const uint8_t*>(out.data()));
    return out;
  }
  size_t pad = 8 - out.size() % 8;
  out.append(pad, static_cast<char>(pad));
  arctwo_ctx rc2;
  des_ctx des;
  if (algorithm == "RC2") arctwo_set_key_ekb(&rc2, 16, key, 40);
  if (algorithm == "DES") des_set_key(&des, md5);
  uint8_t chain[8];
  std::memcpy(chain, iv, 8);
  for (size_t at = 0; at < out.size(); at += 8) {
    auto* block = reinterpret_cast<uint8_t*>(&out[at]);
    for (int i = 0; i < 8; ++i) block[i] ^= chain[i];
    if (algorithm == "RC2") arctwo_encrypt(&rc2, 8, block, block);
    if (algorithm == "DES") des_encrypt(&des, 8, block, block);
    std::memcpy(chain, block, 8);
  }
  return out;
}

}  // namespace dunmarrow::test
