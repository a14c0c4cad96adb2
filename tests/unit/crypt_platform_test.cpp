// The CryptoAPI stand-in against the facts of the Base provider: standard digests, the hash
// state, provider names and types, key parameters, cipher bytes by the published recipe,
// padding and the Windows error codes.
#include <random>

#include "platform/windows.h"
#include "runtime/failure.h"
#include "tests/unit/crypt_helpers.h"

namespace dunmarrow::test {
namespace {

class Provider {
 public:
  Provider() {
    EXPECT_TRUE(CryptAcquireContextA(&handle, nullptr, MS_DEF_PROV_A, 1, CRYPT_VERIFYCONTEXT));
  }
  ~Provider() { CryptReleaseContext(handle, 0); }
  HCRYPTPROV handle = 0;
};

std::string Digest(HCRYPTPROV provider, ALG_ID algorithm, const std::string& data) {
  HCRYPTHASH hash = 0;
  EXPECT_TRUE(CryptCreateHash(provider, algorithm, 0, 0, &hash));
  EXPECT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size()), 0));
  BYTE value[64];
  DWORD size = sizeof value;
  EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0));
  CryptDestroyHash(hash);
  return LowerHex(std::string(reinterpret_cast<char*>(value), size));
}

// A key derived from the MD5 hash of nothing, with IV and salt from the password reversed,
// as the encryption procedures make it.
HCRYPTKEY PasswordKey(HCRYPTPROV provider, ALG_ID algorithm, const std::string& password) {
  HCRYPTHASH hash = 0;
  HCRYPTKEY key = 0;
  EXPECT_TRUE(CryptCreateHash(provider, CALG_MD5, 0, 0, &hash));
  EXPECT_TRUE(CryptDeriveKey(provider, algorithm, hash, 0, &key));
  CryptDestroyHash(hash);
  std::string reversed(password.rbegin(), password.rend());
  std::string iv, salt;
  for (size_t i = 0; i < 8; ++i) iv += reversed[i % reversed.size()];
  for (size_t i = 0; i < 11; ++i) salt += reversed[i % reversed.size()];
  if (algorithm != CALG_RC4) {
    EXPECT_TRUE(CryptSetKeyParam(key, KP_IV, reinterpret_cast<const BYTE*>(iv.data()), 0));
  }
  if (algorithm != CALG_DES) {
    EXPECT_TRUE(CryptSetKeyParam(key, KP_SALT, reinterpret_cast<const BYTE*>(salt.data()), 0));
  }
  return key;
}

std::string Encrypt(HCRYPTKEY key, const std::string& plain) {
  DWORD size = static_cast<DWORD>(plain.size());
  EXPECT_TRUE(CryptEncrypt(key, 0, TRUE, 0, nullptr, &size, size));
  std::string out = plain;
  out.resize(size);
  DWORD length = static_cast<DWORD>(plain.size());
  EXPECT_TRUE(CryptEncrypt(key, 0, TRUE, 0, reinterpret_cast<BYTE*>(out.data()), &length, size));
  EXPECT_EQ(length, size);
  return out;
}

// The decrypted bytes, or the error code as text.
std::string Decrypt(HCRYPTKEY key, const std::string& cipher) {
  std::string out = cipher;
  DWORD length = static_cast<DWORD>(out.size());
  if (!CryptDecrypt(key, 0, TRUE, 0, reinterpret_cast<BYTE*>(out.data()), &length)) {
    char code[32];
    std::snprintf(code, sizeof code, "error 0x%08X", GetLastError());
    return code;
  }
  out.resize(length);
  return out;
}

DWORD KeyDword(HCRYPTKEY key, DWORD param) {
  DWORD value = 0xDEADBEEF;
  DWORD size = sizeof value;
  EXPECT_TRUE(CryptGetKeyParam(key, param, reinterpret_cast<BYTE*>(&value), &size, 0)) << param;
  EXPECT_EQ(size, 4u);
  return value;
}

std::string KeyBytes(HCRYPTKEY key, DWORD param) {
  DWORD size = 0;
  if (!CryptGetKeyParam(key, param, nullptr, &size, 0)) return "refused";
  std::string value(size, '\0');
  EXPECT_TRUE(CryptGetKeyParam(key, param, reinterpret_cast<BYTE*>(value.data()), &size, 0));
  return value;
}

TEST(CryptPlatformTest, HashesGiveTheStandardDigests) {
  Provider p;
  EXPECT_EQ(Digest(p.handle, CALG_SHA1, "abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Digest(p.handle, CALG_SHA1, ""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Digest(p.handle, CALG_MD5, ""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Digest(p.handle, CALG_MD5, "abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Digest(p.handle, CALG_MD4, "abc"), "a448017aaf21d8525fc10ae87aa6729d");
  EXPECT_EQ(Digest(p.handle, CALG_MD2, "abc"), "da853b0d3f88d99b30283a69e6ded6bb");
  HCRYPTHASH hash = 0;
  for (ALG_ID refused : {CALG_SHA_256, CALG_MAC, CALG_HMAC, 0x6602u}) {
    SetLastError(0);
    EXPECT_FALSE(CryptCreateHash(p.handle, refused, 0, 0, &hash));
    EXPECT_EQ(GetLastError(), NTE_BAD_ALGID);
  }
  EXPECT_FALSE(CryptCreateHash(p.handle, CALG_MD5, 0, 1, &hash));
  EXPECT_EQ(GetLastError(), NTE_BAD_FLAGS);
}

TEST(CryptPlatformTest, ReadingTheValueFinishesTheHash) {
  Provider p;
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(CryptCreateHash(p.handle, CALG_SHA1, 0, 0, &hash));
  ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>("ab"), 2, 0));
  ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>("c"), 1, 0));
  DWORD size = 0;
  ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, nullptr, &size, 0));
  EXPECT_EQ(size, 20u);
  EXPECT_FALSE(CryptHashData(hash, reinterpret_cast<const BYTE*>("d"), 1, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_HASH_STATE);
  BYTE value[20];
  size = 4;
  EXPECT_FALSE(CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(size, 20u);
  ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0));
  EXPECT_EQ(LowerHex(std::string(reinterpret_cast<char*>(value), 20)),
            "a9993e364706816aba3e25717850c26c9cd0d89d");
  DWORD algorithm = 0;
  size = sizeof algorithm;
  ASSERT_TRUE(CryptGetHashParam(hash, HP_ALGID, reinterpret_cast<BYTE*>(&algorithm), &size, 0));
  EXPECT_EQ(algorithm, CALG_SHA1);
  EXPECT_FALSE(CryptGetHashParam(hash, 99, value, &size, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_TYPE);
  EXPECT_TRUE(CryptDestroyHash(hash));
  EXPECT_FALSE(CryptDestroyHash(hash));
  EXPECT_EQ(GetLastError(), NTE_BAD_HASH);
  EXPECT_FALSE(CryptHashData(0, value, 1, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(CryptPlatformTest, OnlyTheBaseProviderIsOffered) {
  HCRYPTPROV h = 0;
  EXPECT_TRUE(CryptAcquireContextA(&h, nullptr, "microsoft base cryptographic provider v1.0", 1,
                                   CRYPT_VERIFYCONTEXT));
  EXPECT_TRUE(CryptReleaseContext(h, 0));
  EXPECT_TRUE(CryptAcquireContextA(&h, nullptr, nullptr, 1, CRYPT_VERIFYCONTEXT));
  EXPECT_TRUE(CryptReleaseContext(h, 0));
  struct Case {
    const char* name;
    DWORD type;
    DWORD flags;
    DWORD error;
  };
  const Case cases[] = {
      {"Microsoft Enhanced Cryptographic Provider v1.0", 1, CRYPT_VERIFYCONTEXT,
       NTE_KEYSET_NOT_DEF},
      {MS_DEF_PROV_A, 12, CRYPT_VERIFYCONTEXT, NTE_PROV_TYPE_NO_MATCH},
      {nullptr, 13, CRYPT_VERIFYCONTEXT, NTE_PROV_TYPE_NOT_DEF},
      {nullptr, 0, CRYPT_VERIFYCONTEXT, NTE_BAD_PROV_TYPE},
      {MS_DEF_PROV_A, 1, 0x1000, NTE_BAD_FLAGS},
      {MS_DEF_PROV_A, 1, CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET, NTE_BAD_FLAGS},
  };
  for (const Case& c : cases) {
    h = 0;
    EXPECT_FALSE(CryptAcquireContextA(&h, nullptr, c.name, c.type, c.flags));
    EXPECT_EQ(GetLastError(), c.error) << (c.name ? c.name : "(default)") << " " << c.type;
    EXPECT_EQ(h, 0u);
  }
}

TEST(CryptPlatformTest, KeyContainersMustExistUnlessCreated) {
  HCRYPTPROV h = 0;
  const char* name = "dunmarrow-platform-test";
  EXPECT_FALSE(CryptAcquireContextA(&h, name, MS_DEF_PROV_A, 1, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
  ASSERT_TRUE(CryptAcquireContextA(&h, name, MS_DEF_PROV_A, 1, CRYPT_NEWKEYSET));
  CryptReleaseContext(h, 0);
  EXPECT_FALSE(CryptAcquireContextA(&h, name, MS_DEF_PROV_A, 1, CRYPT_NEWKEYSET));
  EXPECT_EQ(GetLastError(), NTE_EXISTS);
  ASSERT_TRUE(CryptAcquireContextA(&h, name, MS_DEF_PROV_A, 1, 0));
  CryptReleaseContext(h, 0);
  // A machine key set is another container of the same name.
  EXPECT_FALSE(CryptAcquireContextA(&h, name, MS_DEF_PROV_A, 1, CRYPT_MACHINE_KEYSET));
  EXPECT_TRUE(CryptAcquireContextA(&h, name, MS_DEF_PROV_A, 1, CRYPT_DELETEKEYSET));
  EXPECT_FALSE(CryptAcquireContextA(&h, name, MS_DEF_PROV_A, 1, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
}

TEST(CryptPlatformTest, ObjectsOfAReleasedContextNoLongerWork) {
  HCRYPTPROV h = 0;
  ASSERT_TRUE(CryptAcquireContextA(&h, nullptr, MS_DEF_PROV_A, 1, CRYPT_VERIFYCONTEXT));
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(CryptCreateHash(h, CALG_MD5, 0, 0, &hash));
  HCRYPTKEY key = PasswordKey(h, CALG_RC4, "pw");
  ASSERT_TRUE(CryptReleaseContext(h, 0));
  EXPECT_FALSE(CryptReleaseContext(h, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_UID);
  EXPECT_FALSE(CryptHashData(hash, reinterpret_cast<const BYTE*>("x"), 1, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_UID);
  DWORD length = 0;
  EXPECT_FALSE(CryptEncrypt(key, 0, TRUE, 0, nullptr, &length, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_UID);
  EXPECT_TRUE(CryptDestroyHash(hash));
  EXPECT_TRUE(CryptDestroyKey(key));
}

TEST(CryptPlatformTest, DerivedKeysHaveTheBaseProvidersParameters) {
  Provider p;
  HCRYPTHASH hash = 0;
  HCRYPTKEY rc2 = 0, rc4 = 0, des = 0;
  ASSERT_TRUE(CryptCreateHash(p.handle, CALG_MD5, 0, 0, &hash));
  ASSERT_TRUE(CryptDeriveKey(p.handle, CALG_RC2, hash, 0, &rc2));
  // Deriving finished the hash; the same hash still derives more keys.
  EXPECT_FALSE(CryptHashData(hash, reinterpret_cast<const BYTE*>("x"), 1, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_HASH_STATE);
  ASSERT_TRUE(CryptDeriveKey(p.handle, CALG_RC4, hash, 0, &rc4));
  ASSERT_TRUE(CryptDeriveKey(p.handle, CALG_DES, hash, 0, &des));
  HCRYPTKEY other = 0;
  EXPECT_FALSE(CryptDeriveKey(p.handle, CALG_3DES, hash, 0, &other));
  EXPECT_EQ(GetLastError(), NTE_BAD_ALGID);
  EXPECT_FALSE(CryptDeriveKey(p.handle, CALG_RC2, hash, 128u << 16, &other));
  EXPECT_EQ(GetLastError(), NTE_BAD_FLAGS);
  CryptDestroyHash(hash);

  EXPECT_EQ(KeyDword(rc2, KP_BLOCKLEN), 64u);
  EXPECT_EQ(KeyDword(rc4, KP_BLOCKLEN), 0u);
  EXPECT_EQ(KeyDword(des, KP_BLOCKLEN), 64u);
  EXPECT_EQ(KeyDword(rc2, KP_KEYLEN), 40u);
  EXPECT_EQ(KeyDword(rc4, KP_KEYLEN), 40u);
  EXPECT_EQ(KeyDword(des, KP_KEYLEN), 64u);
  EXPECT_EQ(KeyDword(rc2, KP_EFFECTIVE_KEYLEN), 40u);
  EXPECT_EQ(KeyDword(rc2, KP_MODE), CRYPT_MODE_CBC);
  EXPECT_EQ(KeyDword(des, KP_PADDING), PKCS5_PADDING);
  EXPECT_EQ(KeyDword(des, KP_ALGID), CALG_DES);
  EXPECT_EQ(KeyBytes(rc2, KP_SALT), std::string(11, '\0'));
  EXPECT_EQ(KeyBytes(rc4, KP_SALT), std::string(11, '\0'));
  EXPECT_EQ(KeyBytes(des, KP_SALT), "refused");
  EXPECT_EQ(GetLastError(), NTE_BAD_KEY);
  EXPECT_EQ(KeyBytes(rc2, KP_IV), std::string(8, '\0'));
  EXPECT_EQ(KeyBytes(rc4, KP_IV), "");
  EXPECT_FALSE(CryptSetKeyParam(des, KP_SALT, reinterpret_cast<const BYTE*>("12345678901"), 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEY);
  EXPECT_FALSE(CryptSetKeyParam(rc2, KP_KEYLEN, reinterpret_cast<const BYTE*>("1234"), 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_TYPE);
  // The IV of a stream cipher is accepted and changes nothing.
  std::string before = Encrypt(rc4, "stream");
  EXPECT_TRUE(CryptSetKeyParam(rc4, KP_IV, reinterpret_cast<const BYTE*>("abcdefgh"), 0));
  EXPECT_EQ(Encrypt(rc4, "stream"), before);
  // A new salt re-keys at once.
  EXPECT_TRUE(CryptSetKeyParam(rc4, KP_SALT, reinterpret_cast<const BYTE*>("saltsaltsal"), 0));
  EXPECT_NE(Encrypt(rc4, "stream"), before);
  EXPECT_EQ(KeyBytes(rc4, KP_SALT), "saltsaltsal");
  for (HCRYPTKEY key : {rc2, rc4, des}) EXPECT_TRUE(CryptDestroyKey(key));
}

TEST(CryptPlatformTest, SaltFlagsOfTheDerivation) {
  Provider p;
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(CryptCreateHash(p.handle, CALG_MD5, 0, 0, &hash));
  HCRYPTKEY no_salt = 0, hash_salt = 0;
  ASSERT_TRUE(CryptDeriveKey(p.handle, CALG_RC4, hash, CRYPT_NO_SALT, &no_salt));
  ASSERT_TRUE(CryptDeriveKey(p.handle, CALG_RC4, hash, CRYPT_CREATE_SALT, &hash_salt));
  BYTE md5[16];
  DWORD size = sizeof md5;
  ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, md5, &size, 0));
  EXPECT_EQ(KeyBytes(no_salt, KP_SALT), "");
  EXPECT_EQ(KeyBytes(hash_salt, KP_SALT), std::string(reinterpret_cast<char*>(md5) + 5, 11));
  // Without salt the cipher key is the 5 key bytes alone.
  arcfour_ctx rc4;
  arcfour_set_key(&rc4, 5, md5);
  std::string expected = "plain";
  arcfour_crypt(&rc4, expected.size(), reinterpret_cast<uint8_t*>(expected.data()),
                reinterpret_cast<const uint8_t*>(expected.data()));
  EXPECT_EQ(Encrypt(no_salt, "plain"), expected);
  CryptDestroyKey(no_salt);
  CryptDestroyKey(hash_salt);
  CryptDestroyHash(hash);
}

// Cipher bytes of the three algorithms for generated passwords and sources of 0 to 100
// bytes equal the recipe's, and decrypt to the source.
TEST(CryptPlatformTest, CipherBytesFollowTheBaseProvidersRecipe) {
  Provider p;
  std::mt19937 random(4242);
  const std::pair<const char*, ALG_ID> algorithms[] = {
      {"RC2", CALG_RC2}, {"RC4", CALG_RC4}, {"DES", CALG_DES}};
  for (int round = 0; round < 300; ++round) {
    std::string password(1 + random() % 20, '\0');
    for (char& c : password) c = static_cast<char>(1 + random() % 255);
    std::string plain(round % 101, '\0');
    for (char& c : plain) c = static_cast<char>(random());
    for (const auto& [name, algorithm] : algorithms) {
      HCRYPTKEY key = PasswordKey(p.handle, algorithm, password);
      std::string cipher = Encrypt(key, plain);
      ASSERT_EQ(Hex(cipher), Hex(OracleEncrypt(name, password, plain)))
          << name << " round " << round;
      // A final call returns the key to its start: the same bytes again, and decryption.
      EXPECT_EQ(Encrypt(key, plain), cipher);
      EXPECT_EQ(Decrypt(key, cipher), plain);
      CryptDestroyKey(key);
    }
  }
}

TEST(CryptPlatformTest, SizesPaddingAndDecryptionErrors) {
  Provider p;
  HCRYPTKEY rc2 = PasswordKey(p.handle, CALG_RC2, "secret");
  HCRYPTKEY rc4 = PasswordKey(p.handle, CALG_RC4, "secret");
  for (DWORD n : {0u, 1u, 7u, 8u, 9u, 100u}) {
    DWORD size = n;
    ASSERT_TRUE(CryptEncrypt(rc2, 0, TRUE, 0, nullptr, &size, n));
    EXPECT_EQ(size, (n / 8 + 1) * 8);
    size = n;
    ASSERT_TRUE(CryptEncrypt(rc4, 0, TRUE, 0, nullptr, &size, n));
    EXPECT_EQ(size, n);
  }
  BYTE buffer[32] = "0123456789";
  DWORD length = 10;
  EXPECT_FALSE(CryptEncrypt(rc2, 0, TRUE, 0, buffer, &length, 10));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(length, 16u);
  length = 10;
  EXPECT_FALSE(CryptEncrypt(rc2, 0, FALSE, 0, buffer, &length, sizeof buffer));
  EXPECT_EQ(GetLastError(), NTE_BAD_DATA);

  std::string cipher = Encrypt(rc2, "attack at dawn");
  ASSERT_EQ(cipher.size(), 16u);
  EXPECT_EQ(Decrypt(rc2, cipher.substr(0, 15)), "error 0x80090005");  // not whole blocks
  EXPECT_EQ(Decrypt(rc2, ""), "error 0x80090004");                    // nothing to decrypt
  EXPECT_EQ(Decrypt(rc2, cipher), "attack at dawn");
  // Padding bytes that do not all hold the count fail; the key starts over afterwards.
  for (int i = 0; i < 256; ++i) {
    std::string plain(8, static_cast<char>(i));
    std::string forged = Encrypt(rc2, plain).substr(0, 8);  // the padding block cut off
    std::string result = Decrypt(rc2, forged);
    bool valid = i >= 1 && i <= 8;
    EXPECT_EQ(result, valid ? plain.substr(0, 8 - i) : "error 0x80090005") << i;
  }
  EXPECT_EQ(Decrypt(rc2, cipher), "attack at dawn");
  EXPECT_EQ(Decrypt(rc4, Encrypt(rc4, "")), "");
  CryptDestroyKey(rc2);
  CryptDestroyKey(rc4);
}

TEST(CryptPlatformTest, ErrorTextsComeThroughFormatMessage) {
  EXPECT_EQ(OsErrorMessage(NTE_BAD_DATA), "System Error.  Code: -2146893819.\r\nBad Data");
  EXPECT_EQ(OsErrorMessage(NTE_BAD_LEN), "System Error.  Code: -2146893820.\r\nBad Length");
  EXPECT_EQ(OsErrorMessage(NTE_BAD_KEYSET),
            "System Error.  Code: -2146893802.\r\nKeyset does not exist");
  EXPECT_EQ(OsErrorMessage(NTE_BAD_HASH_STATE),
            "System Error.  Code: -2146893812.\r\nHash not valid for use in specified state");
}

}  // namespace
}  // namespace dunmarrow::test
