// Linux stand-ins: CryptoAPI (advapi32) as the Microsoft Base Cryptographic Provider answers,
// as far as the module uses it, on nettle's hashes and ciphers.
//
// Map: helpers and nettle's DES glue; the objects (Provider, Hash, Key) and their registry of
// handles; the provider functions (CryptAcquireContext, CryptReleaseContext); the hash
// functions (CryptCreateHash to CryptDestroyHash); the key functions (CryptDeriveKey,
// CryptDestroyKey, key parameters); encryption and decryption with the provider's padding.
#include "platform/linux/crypt.h"

#include <nettle/arcfour.h>
#include <nettle/arctwo.h>
#include <nettle/cbc.h>
#include <nettle/des.h>
#include <nettle/nettle-meta.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/errors.h"

namespace {

constexpr char kBaseProviderName[] = MS_DEF_PROV_A;
constexpr DWORD kMaxProviderType = 999;
constexpr DWORD kBlockBytes = 8;

// The Base provider's derived keys: 40-bit RC2 and RC4 keys with an 88-bit salt that makes
// the cipher key up to 128 bits, and 56-bit DES (8 bytes with parity, no salt).
constexpr DWORD kRcKeyBytes = 5;
constexpr DWORD kRcSaltBytes = 11;
constexpr DWORD kRcKeyBits = 40;
constexpr DWORD kDesKeyBytes = 8;
constexpr DWORD kDesDerivedBits = 56;

bool SameText(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
    char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
    if (x != y) return false;
    if (x == 0) return true;
  }
}

std::string LowerAscii(const char* text) {
  std::string out = text ? text : "";
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The block functions in the form the CBC helpers call them.
void Rc2Encrypt(const void* ctx, size_t length, uint8_t* dst, const uint8_t* src) {
  arctwo_encrypt(static_cast<arctwo_ctx*>(const_cast<void*>(ctx)), length, dst, src);
}
void Rc2Decrypt(const void* ctx, size_t length, uint8_t* dst, const uint8_t* src) {
  arctwo_decrypt(static_cast<arctwo_ctx*>(const_cast<void*>(ctx)), length, dst, src);
}
void DesEncrypt(const void* ctx, size_t length, uint8_t* dst, const uint8_t* src) {
  des_encrypt(static_cast<const des_ctx*>(ctx), length, dst, src);
}
void DesDecrypt(const void* ctx, size_t length, uint8_t* dst, const uint8_t* src) {
  des_decrypt(static_cast<const des_ctx*>(ctx), length, dst, src);
}

struct Provider {
  bool released = false;
};

struct Hash {
  HCRYPTPROV provider;
  ALG_ID algorithm;
  const nettle_hash* meta;
  std::vector<uint8_t> context;
  bool finished = false;
  std::vector<uint8_t> value;

  void Update(const BYTE* data, size_t length) {
    if (length) meta->update(context.data(), length, data);
  }
  void Finish() {
    if (finished) return;
    value.resize(meta->digest_size);
    meta->digest(context.data(), meta->digest_size, value.data());
    finished = true;
  }
};

struct Key {
  HCRYPTPROV provider;
  ALG_ID algorithm;
  std::vector<uint8_t> key;
  std::vector<uint8_t> salt;
  uint8_t iv[kBlockBytes] = {};
  uint8_t chain[kBlockBytes] = {};
  arctwo_ctx rc2;
  arcfour_ctx rc4;
  des_ctx des;

  bool IsBlockCipher() const { return algorithm != CALG_RC4; }
  DWORD BlockBits() const { return IsBlockCipher() ? kBlockBytes * 8 : 0; }
  DWORD KeyBits() const { return algorithm == CALG_DES ? kDesKeyBytes * 8 : kRcKeyBits; }

  // The cipher state for the key and salt, with the chain back at the IV.
  void Setup() {
    std::vector<uint8_t> material = key;
    material.insert(material.end(), salt.begin(), salt.end());
    switch (algorithm) {
      case CALG_RC2:
        arctwo_set_key_ekb(&rc2, material.size(), material.data(), kRcKeyBits);
        break;
      case CALG_RC4:
        arcfour_set_key(&rc4, material.size(), material.data());
        break;
      case CALG_DES:
        // Parity bits play no part in DES; a weak key is still a key to this provider.
        des_set_key(&des, material.data());
        break;
    }
    std::memcpy(chain, iv, kBlockBytes);
  }

  void EncryptBlocks(uint8_t* data, size_t length) {
    if (algorithm == CALG_RC2) {
      cbc_encrypt(&rc2, Rc2Encrypt, kBlockBytes, chain, length, data, data);
    } else {
      cbc_encrypt(&des, DesEncrypt, kBlockBytes, chain, length, data, data);
    }
  }

  void DecryptBlocks(uint8_t* data, size_t length) {
    if (algorithm == CALG_RC2) {
      cbc_decrypt(&rc2, Rc2Decrypt, kBlockBytes, chain, length, data, data);
    } else {
      cbc_decrypt(&des, DesDecrypt, kBlockBytes, chain, length, data, data);
    }
  }
};

// Every handle of the process, by number. Handles are never reused, so a stale one fails
// instead of reaching another caller's object. One lock guards all of it: CryptoAPI calls are
// short, and an object used from two threads at once stays whole.
struct Registry {
  std::mutex lock;
  ULONG_PTR next_handle = 0x10000;
  std::map<HCRYPTPROV, Provider> providers;
  std::map<HCRYPTHASH, std::unique_ptr<Hash>> hashes;
  std::map<HCRYPTKEY, std::unique_ptr<Key>> keys;
  // Key containers: "<m|u>:<lower-case name>". They live as long as the process.
  std::set<std::string> containers;

  ULONG_PTR NewHandle() {
    next_handle += 4;
    return next_handle;
  }
};

Registry& Crypt() {
  static Registry* registry = new Registry;  // outlives every caller, also at process exit
  return *registry;
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// A live provider, or null with the error set.
Provider* FindProvider(Registry& r, HCRYPTPROV handle) {
  if (handle == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto found = r.providers.find(handle);
  if (found == r.providers.end() || found->second.released) {
    SetLastError(NTE_BAD_UID);
    return nullptr;
  }
  return &found->second;
}

// A hash or key of a table whose provider is still open, or null with the error set (the
// table's own code for an unknown handle).
template <typename Table>
typename Table::mapped_type::element_type* FindObject(Registry& r, Table& table, ULONG_PTR handle,
                                                      DWORD unknown) {
  if (handle == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto found = table.find(handle);
  if (found == table.end()) {
    SetLastError(unknown);
    return nullptr;
  }
  if (!FindProvider(r, found->second->provider)) {
    SetLastError(NTE_BAD_UID);
    return nullptr;
  }
  return found->second.get();
}

Hash* FindHash(Registry& r, HCRYPTHASH handle) {
  return FindObject(r, r.hashes, handle, static_cast<DWORD>(NTE_BAD_HASH));
}

Key* FindKey(Registry& r, HCRYPTKEY handle) {
  return FindObject(r, r.keys, handle, static_cast<DWORD>(NTE_BAD_KEY));
}

const nettle_hash* HashAlgorithm(ALG_ID algorithm) {
  switch (algorithm) {
    case CALG_MD2:
      return &nettle_md2;
    case CALG_MD4:
      return &nettle_md4;
    case CALG_MD5:
      return &nettle_md5;
    case CALG_SHA1:
      return &nettle_sha1;
    default:
      return nullptr;
  }
}

// Answers a parameter read: the size with a null buffer, ERROR_MORE_DATA with the size when
// the buffer is too small, else the bytes.
BOOL CopyParam(const void* value, DWORD size, BYTE* data, DWORD* length) {
  if (!data) {
    *length = size;
    return TRUE;
  }
  if (*length < size) {
    *length = size;
    return Fail(ERROR_MORE_DATA);
  }
  if (size) std::memcpy(data, value, size);
  *length = size;
  return TRUE;
}

BOOL CopyDword(DWORD value, BYTE* data, DWORD* length) {
  return CopyParam(&value, sizeof value, data, length);
}

// Hashes bytes into a hash given to CryptEncrypt or CryptDecrypt.
BOOL HashAlong(Registry& r, HCRYPTHASH handle, Hash** hash) {
  *hash = nullptr;
  if (handle == 0) return TRUE;
  *hash = FindHash(r, handle);
  if (!*hash) return FALSE;
  if ((*hash)->finished) return Fail(NTE_BAD_HASH_STATE);
  return TRUE;
}

}  // namespace

extern "C" {

BOOL CryptAcquireContextA(HCRYPTPROV* provider, LPCSTR container, LPCSTR provider_name,
                          DWORD provider_type, DWORD flags) {
  if (!provider) return Fail(ERROR_INVALID_PARAMETER);
  constexpr DWORD kKnownFlags = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET |
                                CRYPT_MACHINE_KEYSET | CRYPT_SILENT;
  if (provider_type < 1 || provider_type > kMaxProviderType) return Fail(NTE_BAD_PROV_TYPE);
  if (provider_name) {
    if (!SameText(provider_name, kBaseProviderName)) return Fail(NTE_KEYSET_NOT_DEF);
    if (provider_type != PROV_RSA_FULL) return Fail(NTE_PROV_TYPE_NO_MATCH);
  } else if (provider_type != PROV_RSA_FULL) {
    return Fail(NTE_PROV_TYPE_NOT_DEF);
  }
  if (flags & ~kKnownFlags) return Fail(NTE_BAD_FLAGS);
  const bool verify = (flags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT;
  const bool create = flags & CRYPT_NEWKEYSET;
  const bool remove = flags & CRYPT_DELETEKEYSET;
  if ((verify && (create || remove)) || (create && remove)) return Fail(NTE_BAD_FLAGS);

  Registry& r = Crypt();
  std::lock_guard guard(r.lock);
  if (!verify) {
    std::string name =
        std::string(flags & CRYPT_MACHINE_KEYSET ? "m:" : "u:") + LowerAscii(container);
    bool exists = r.containers.count(name) != 0;
    if (remove) {
      if (!exists) return Fail(NTE_BAD_KEYSET);
      r.containers.erase(name);
      *provider = 0;
      return TRUE;
    }
    if (create && exists) return Fail(NTE_EXISTS);
    if (!create && !exists) return Fail(NTE_BAD_KEYSET);
    r.containers.insert(name);
  }
  HCRYPTPROV handle = r.NewHandle();
  r.providers[handle] = Provider{};
  *provider = handle;
  return TRUE;
}

BOOL CryptReleaseContext(HCRYPTPROV provider, DWORD flags) {
  Registry& r = Crypt();
  std::lock_guard guard(r.lock);
  if (!FindProvider(r, provider)) return FALSE;
  if (flags) return Fail(NTE_BAD_FLAGS);
  // Hashes and keys of the context stay allocated until they are destroyed; every other
  // use of them fails from now on.
  r.providers[provider].released = true;
  return TRUE;
}

BOOL CryptCreateHash(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTKEY key, DWORD flags,
                     HCRYPTHASH* hash) {
  Registry& r = Crypt();
  std::lock_guard guard(r.lock);
  if (!hash) return Fail(ERROR_INVALID_PARAMETER);
  if (!FindProvider(r, provider)) return FALSE;
  if (key && !FindKey(r, key)) return FALSE;
  if (flags) return Fail(NTE_BAD_FLAGS);
  const nettle_hash* meta = HashAlgorithm(algorithm);
  if (!meta) return Fail(NTE_BAD_ALGID);
  auto created = std::make_unique<Hash>();
  created->provider = provider;
  created->algorithm = algorithm;
  created->meta = meta;
  created->context.resize(meta->context_size);
  meta->init(created->context.data());
  HCRYPTHASH handle = r.NewHandle();
  r.hashes[handle] = std::move(created);
  *hash = handle;
  return TRUE;
}

BOOL CryptHashData(HCRYPTHASH hash, const BYTE* data, DWORD length, DWORD flags) {
  Registry& r = Crypt();
  std::lock_guard guard(r.lock);
  Hash* h = FindHash(r, hash);
  if (!h) return FALSE;
  if (flags) return Fail(NTE_BAD_FLAGS);
  if (!data && length) return Fail(ERROR_INVALID_PARAMETER);
  if (h->finished) return Fail(NTE_BAD_HASH_STATE);
  h->Update(data, length);
  return TRUE;
}

BOOL CryptGetHashParam(HCRYPTHASH hash, DWORD param, BYTE* data, DWORD* length, DWORD flags) {
  Registry& r = Crypt();
  std::lock_guard guard(r.lock);
  Hash* h = FindHash(r, hash);
  if (!h) return FALSE;
  if (!length) return Fail(ERROR_INVALID_PARAMETER);
  if (flags) return Fail(NTE_BAD_FLAGS);
  switch (param) {
    case HP_ALGID:
      return CopyDword(h->algorithm, data, length);
    case HP_HASHSIZE:
      return CopyDword(static_cast<DWORD>(h->meta->digest_size), data, length);
    case HP_HASHVAL:
      h->Finish();
      return CopyParam(h->value.data(), static_cast<DWORD>(h->value.size()), data, length);
    default:
      return Fail(NTE_BAD_TYPE);
  }
}

BOOL CryptDestroyHash(HCRYPTHASH hash) {
  Registry& r = Crypt();
  std::lock_guard guard(r.lock);
  if (hash == 0) return Fail(ERROR_INVALID_PARAMETER);
  if (!r.hashes.erase(hash)) return Fail(NTE_BAD_HASH);
  return TRUE;
}

BOOL CryptDeriveKey(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTHASH hash, DWORD flags,
                    HCRYPTKEY* key) {
  Registry& r = Crypt();
  std::lock_guard guard(r.lock);
  if (!key) return Fail(ERROR_INVALID_PARAMETER);
  if (!FindProvider(r, provider)) return FALSE;
  Hash* h = FindHash(r, hash);
  if (!h) return FALSE;
  if (algorithm != CALG_RC2 && algorithm != CALG_RC4 && algorithm != CALG_DES) {
    return Fail(NTE_BAD_ALGID);
  }
  // The upper 16 bits ask for a key length; the provider derives its default length only.
  const DWORD bits = flags >> 16;
  const DWORD default_bits = algorithm == CALG_DES ? kDesDerivedBits : kRcKeyBits;
  if (bits != 0 && bits != default_bits) return Fail(NTE_BAD_FLAGS);
  if (flags & 0xFFFFu & ~(CRYPT_EXPORTABLE | CRYPT_CREATE_SALT | CRYPT_NO_SALT)) {
    return Fail(NTE_BAD_FLAGS);
  }

  h->Finish();
  auto created = std::make_unique<Key>();
  created->provider = provider;
  created->algorithm = algorithm;
  const DWORD key_bytes = algorithm == CALG_DES ? kDesKeyBytes : kRcKeyBytes;
  created->key.assign(h->value.begin(), h->value.begin() + key_bytes);
  if (algorithm != CALG_DES && !(flags & CRYPT_NO_SALT)) {
    created->salt.assign(kRcSaltBytes, 0);
    // The hash bits the key leaves unused become the salt.
    if (flags & CRYPT_CREATE_SALT) {
      std::memcpy(created->salt.data(), h->value.data() + key_bytes, kRcSaltBytes);
    }
  }
  created->Setup();
  HCRYPTKEY handle = r.NewHandle();
  r.keys[handle] = std::move(created);
  *key = handle;
  return TRUE;
}

BOOL CryptDestroyKey(HCRYPTKEY key) {
  Registry& r = Crypt();
  std::lock_guard guard(r.lock);
  if (key == 0) return Fail(ERROR_INVALID_PARAMETER);
  if (!r.keys.erase(key)) return Fail(NTE_BAD_KEY);
  return TRUE;
}

BOOL CryptGetKeyParam(HCRYPTKEY key, DWORD param, BYTE* data, DWORD* length, DWORD flags) {
  Registry& r = Crypt();
  std::lock_guard guard(r.lock);
  Key* k = FindKey(r, key);
  if (!k) return FALSE;
  if (!length) return Fail(ERROR_INVALID_PARAMETER);
  if (flags) return Fail(NTE_BAD_FLAGS);
  switch (param) {
    case KP_ALGID:
      return CopyDword(k->algorithm, data, length);
    case KP_BLOCKLEN:
      return CopyDword(k->BlockBits(), data, length);
    case KP_KEYLEN:
      return CopyDword(k->KeyBits(), data, length);
    case KP_IV:
      return CopyParam(k->iv, k->BlockBits() / 8, data, length);
    case KP_SALT:
      if (k->algorithm == CALG_DES) return Fail(NTE_BAD_KEY);
      return CopyParam(k->salt.data(), static_cast<DWORD>(k->salt.size()), data, length);
    case KP_MODE:
      if (!k->IsBlockCipher()) return Fail(NTE_BAD_TYPE);
      return CopyDword(CRYPT_MODE_CBC, data, length);
    case KP_PADDING:
      if (!k->IsBlockCipher()) return Fail(NTE_BAD_TYPE);
      return CopyDword(PKCS5_PADDING, data, length);
    case KP_EFFECTIVE_KEYLEN:
      if (k->algorithm != CALG_RC2) return Fail(NTE_BAD_TYPE);
      return CopyDword(kRcKeyBits, data, length);
    default:
      return Fail(NTE_BAD_TYPE);
  }
}

BOOL CryptSetKeyParam(HCRYPTKEY key, DWORD param, const BYTE* data, DWORD flags) {
  Registry& r = Crypt();
  std::lock_guard guard(r.lock);
  Key* k = FindKey(r, key);
  if (!k) return FALSE;
  if (flags) return Fail(NTE_BAD_FLAGS);
  switch (param) {
    case KP_IV:
      if (!data) return Fail(ERROR_INVALID_PARAMETER);
      // A stream cipher has no IV: accepted, nothing changes.
      if (k->IsBlockCipher()) {
        std::memcpy(k->iv, data, kBlockBytes);
        std::memcpy(k->chain, k->iv, kBlockBytes);
      }
      return TRUE;
    case KP_SALT:
      if (!data) return Fail(ERROR_INVALID_PARAMETER);
      if (k->algorithm == CALG_DES) return Fail(NTE_BAD_KEY);
      if (!k->salt.empty()) std::memcpy(k->salt.data(), data, k->salt.size());
      k->Setup();
      return TRUE;
    default:
      return Fail(NTE_BAD_TYPE);
  }
}

BOOL CryptEncrypt(HCRYPTKEY key, HCRYPTHASH hash, BOOL final, DWORD flags, BYTE* data,
                  DWORD* length, DWORD buffer_length) {
  Registry& r = Crypt();
  std::lock_guard guard(r.lock);
  Key* k = FindKey(r, key);
  if (!k) return FALSE;
  if (!length) return Fail(ERROR_INVALID_PARAMETER);
  if (flags) return Fail(NTE_BAD_FLAGS);
  Hash* h = nullptr;
  if (!HashAlong(r, hash, &h)) return FALSE;
  const DWORD n = *length;
  DWORD needed = n;
  if (k->IsBlockCipher()) {
    if (final) {
      if (n > 0xFFFFFFFFu - kBlockBytes) return Fail(NTE_BAD_LEN);
      needed = (n / kBlockBytes + 1) * kBlockBytes;
    } else if (n % kBlockBytes) {
      return Fail(NTE_BAD_DATA);
    }
  }
  if (!data) {
    *length = needed;
    return TRUE;
  }
  if (buffer_length < needed) {
    *length = needed;
    return Fail(ERROR_MORE_DATA);
  }
  if (h) h->Update(data, n);
  if (k->IsBlockCipher()) {
    // PKCS#5: 1 to 8 bytes, each holding the count.
    const uint8_t pad = static_cast<uint8_t>(needed - n);
    std::memset(data + n, pad, needed - n);
    k->EncryptBlocks(data, needed);
  } else {
    arcfour_crypt(&k->rc4, n, data, data);
  }
  if (final) k->Setup();
  *length = needed;
  return TRUE;
}

BOOL CryptDecrypt(HCRYPTKEY key, HCRYPTHASH hash, BOOL final, DWORD flags, BYTE* data,
                  DWORD* length) {
  Registry& r = Crypt();
  std::lock_guard guard(r.lock);
  Key* k = FindKey(r, key);
  if (!k) return FALSE;
  if (!length) return Fail(ERROR_INVALID_PARAMETER);
  if (flags) return Fail(NTE_BAD_FLAGS);
  Hash* h = nullptr;
  if (!HashAlong(r, hash, &h)) return FALSE;
  const DWORD n = *length;
  if (!data && n) return Fail(ERROR_INVALID_PARAMETER);
  DWORD plain = n;
  if (k->IsBlockCipher()) {
    if (n % kBlockBytes) return Fail(NTE_BAD_DATA);
    if (final && n == 0) return Fail(NTE_BAD_LEN);
    k->DecryptBlocks(data, n);
    if (final) {
      k->Setup();
      const uint8_t pad = data[n - 1];
      bool padded = pad >= 1 && pad <= kBlockBytes;
      for (DWORD i = 0; padded && i < pad; ++i) padded = data[n - 1 - i] == pad;
      if (!padded) return Fail(NTE_BAD_DATA);
      plain = n - pad;
    }
  } else {
    if (n) arcfour_crypt(&k->rc4, n, data, data);
    if (final) k->Setup();
  }
  if (h) h->Update(data, plain);
  *length = plain;
  return TRUE;
}

}  // extern "C"
