// CryptoAPI with the Microsoft Base Cryptographic Provider: digests, the hash state, key
// parameters of derived RC2, RC4 and DES keys, their cipher bytes for generated passwords and
// sources of 0 to 100 bytes, decryption of those bytes, and the errors for bad padding and bad
// lengths. Equal cipher bytes and equal decryptions on both sides mean that each side decrypts
// what the other encrypts.
#include <string>
#include <vector>

#include "tests/conformance/conformance.h"

using namespace conformance;

namespace {

const char kBase[] = "Microsoft Base Cryptographic Provider v1.0";
const char kDesSalt[] =
    "Windows refuses the salt query of a DES key (NTE_BAD_KEY); Wine answers an empty salt";
const char kEmptyDecrypt[] =
    "Windows fails a final decryption of no bytes with NTE_BAD_LEN; Wine 8.0 does not";

// A small generator of its own, so that both builds make the same inputs.
struct Generator {
  uint32_t state;
  uint32_t Next() {
    state = state * 1103515245u + 12345u;
    return state >> 8;
  }
  std::string Bytes(size_t n, bool text) {
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(text ? 1 + Next() % 255 : Next() % 256);
    return out;
  }
};

std::string Result(BOOL ok, const std::string& error) {
  return ok ? "TRUE" : "FALSE " + error;
}

std::string Digest(HCRYPTPROV provider, ALG_ID algorithm, const std::string& data) {
  HCRYPTHASH hash = 0;
  if (!CryptCreateHash(provider, algorithm, 0, 0, &hash)) return "create failed " + LastErrorText();
  CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()),
                0);
  BYTE value[64];
  DWORD size = sizeof value;
  BOOL ok = CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0);
  CryptDestroyHash(hash);
  return ok ? HexBytes(value, size) : "read failed";
}

// A key as the encryption procedures make it: derived from the MD5 hash of nothing, the IV
// and then the salt filled from the password reversed.
HCRYPTKEY PasswordKey(HCRYPTPROV provider, ALG_ID algorithm, const std::string& password) {
  HCRYPTHASH hash = 0;
  HCRYPTKEY key = 0;
  CryptCreateHash(provider, CALG_MD5, 0, 0, &hash);
  CryptDeriveKey(provider, algorithm, hash, 0, &key);
  CryptDestroyHash(hash);
  std::string reversed(password.rbegin(), password.rend());
  std::string iv, salt;
  for (size_t i = 0; i < 8; ++i) iv += reversed[i % reversed.size()];
  for (size_t i = 0; i < 11; ++i) salt += reversed[i % reversed.size()];
  if (algorithm != CALG_RC4)
    CryptSetKeyParam(key, KP_IV, reinterpret_cast<const BYTE*>(iv.data()), 0);
  if (algorithm != CALG_DES) {
    CryptSetKeyParam(key, KP_SALT, reinterpret_cast<const BYTE*>(salt.data()), 0);
  }
  return key;
}

std::string Encrypt(HCRYPTKEY key, const std::string& plain, std::string& cipher) {
  DWORD size = static_cast<DWORD>(plain.size());
  ResetLastError();
  BOOL ok = CryptEncrypt(key, 0, TRUE, 0, nullptr, &size, size);
  std::string query = "size " + std::to_string(size) + " " + Result(ok, LastErrorText());
  cipher = plain;
  cipher.resize(size);
  DWORD length = static_cast<DWORD>(plain.size());
  ResetLastError();
  ok = CryptEncrypt(key, 0, TRUE, 0, reinterpret_cast<BYTE*>(&cipher[0]), &length, size);
  cipher.resize(ok ? length : 0);
  return query + "; " + Result(ok, LastErrorText()) + " " + HexBytes(cipher.data(), cipher.size());
}

std::string Decrypt(HCRYPTKEY key, const std::string& cipher) {
  std::string out = cipher + std::string(1, '\0');  // never a null buffer
  DWORD length = static_cast<DWORD>(cipher.size());
  ResetLastError();
  BOOL ok = CryptDecrypt(key, 0, TRUE, 0, reinterpret_cast<BYTE*>(&out[0]), &length);
  std::string error = LastErrorText();
  if (!ok) return "FALSE " + error;
  return "TRUE " + HexBytes(out.data(), length);
}

std::string KeyParam(HCRYPTKEY key, DWORD param) {
  DWORD size = 0;
  ResetLastError();
  if (!CryptGetKeyParam(key, param, nullptr, &size, 0)) return "FALSE " + LastErrorText();
  std::vector<BYTE> value(size + 1);
  if (!CryptGetKeyParam(key, param, value.data(), &size, 0)) return "read FALSE " + LastErrorText();
  return "size " + std::to_string(size) + " " + HexBytes(value.data(), size);
}

}  // namespace

void RunChecks(const Workspace&) {
  HCRYPTPROV provider = 0;
  ResetLastError();
  BOOL ok = CryptAcquireContextA(&provider, nullptr, kBase, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
  Check("CryptAcquireContextA(Base, PROV_RSA_FULL, VERIFYCONTEXT)", Result(ok, LastErrorText()));
  if (!ok) return;
  HCRYPTPROV other = 0;
  ResetLastError();
  ok = CryptAcquireContextA(&other, nullptr, "No Such Cryptographic Provider", PROV_RSA_FULL,
                            CRYPT_VERIFYCONTEXT);
  Check("CryptAcquireContextA(unknown name)", Result(ok, LastErrorText()));

  // Digests of generated data.
  Generator gen{1};
  for (size_t n = 0; n <= 100; n += 7) {
    std::string data = gen.Bytes(n, false);
    Check("MD5 " + HexBytes(data.data(), data.size()), Digest(provider, CALG_MD5, data));
    Check("SHA-1 " + HexBytes(data.data(), data.size()), Digest(provider, CALG_SHA1, data));
  }
  Check("SHA-256 on the Base provider", Digest(provider, CALG_SHA_256, "abc"));

  // Reading the value finishes the hash.
  HCRYPTHASH hash = 0;
  CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash);
  DWORD size = 0;
  CryptGetHashParam(hash, HP_HASHVAL, nullptr, &size, 0);
  ResetLastError();
  ok = CryptHashData(hash, reinterpret_cast<const BYTE*>("x"), 1, 0);
  Check("CryptHashData after the size query of HP_HASHVAL", Result(ok, LastErrorText()));
  CryptDestroyHash(hash);

  const struct {
    const char* name;
    ALG_ID id;
  } algorithms[] = {{"RC2", CALG_RC2}, {"RC4", CALG_RC4}, {"DES", CALG_DES}};

  // Parameters of the derived keys.
  for (const auto& algorithm : algorithms) {
    HCRYPTKEY key = PasswordKey(provider, algorithm.id, "password");
    std::string name = algorithm.name;
    Check(name + " KP_BLOCKLEN", KeyParam(key, KP_BLOCKLEN));
    Check(name + " KP_KEYLEN", KeyParam(key, KP_KEYLEN));
    Check(name + " KP_ALGID", KeyParam(key, KP_ALGID));
    Check(name + " KP_IV", KeyParam(key, KP_IV));
    if (algorithm.id == CALG_DES) {
      WineDiffers(kDesSalt, name + " KP_SALT", KeyParam(key, KP_SALT));
    } else {
      Check(name + " KP_SALT", KeyParam(key, KP_SALT));
    }
    CryptDestroyKey(key);
  }
  HCRYPTKEY refused = 0;
  CryptCreateHash(provider, CALG_MD5, 0, 0, &hash);
  ResetLastError();
  ok = CryptDeriveKey(provider, CALG_3DES, hash, 0, &refused);
  Check("CryptDeriveKey(3DES) on the Base provider", Result(ok, LastErrorText()));
  CryptDestroyHash(hash);

  // Cipher bytes for generated passwords and sources, and their decryption.
  Generator words{7};
  for (int round = 0; round < 300; ++round) {
    std::string password = words.Bytes(1 + words.Next() % 24, true);
    std::string plain = words.Bytes(static_cast<size_t>(round % 101), false);
    for (const auto& algorithm : algorithms) {
      HCRYPTKEY key = PasswordKey(provider, algorithm.id, password);
      std::string input = std::string(algorithm.name) + " password " + Quote(password) +
                          " source " + HexBytes(plain.data(), plain.size());
      std::string cipher;
      Check(input, Encrypt(key, plain, cipher));
      Check(input + " decrypted", Decrypt(key, cipher));
      CryptDestroyKey(key);
    }
  }

  // Damaged cipher bytes: bad padding, lengths that are not whole blocks, no bytes at all.
  for (const auto& algorithm : algorithms) {
    if (algorithm.id == CALG_RC4) continue;
    HCRYPTKEY key = PasswordKey(provider, algorithm.id, "pw");
    std::string name = algorithm.name;
    std::string cipher;
    Encrypt(key, "sixteen byte msg", cipher);
    Check(name + " padding block cut off", Decrypt(key, cipher.substr(0, 16)));
    Check(name + " one byte short", Decrypt(key, cipher.substr(0, cipher.size() - 1)));
    Check(name + " one byte long", Decrypt(key, cipher + "x"));
    Check(name + " zero block appended", Decrypt(key, cipher + std::string(8, '\0')));
    // 64-bit Wine reads the last byte of an empty buffer 4 GiB past it and faults.
    WineDiffers(kEmptyDecrypt, name + " no bytes",
                UnderWine64() ? "not called under 64-bit Wine" : Decrypt(key, ""));
    for (int pad : {0, 1, 2, 7, 8, 9, 15, 255}) {
      std::string block(8, static_cast<char>(pad));
      std::string encrypted;
      Encrypt(key, block, encrypted);
      Check(name + " last byte " + std::to_string(pad), Decrypt(key, encrypted.substr(0, 8)));
    }
    CryptDestroyKey(key);
  }
  CryptReleaseContext(provider, 0);
}
