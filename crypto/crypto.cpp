// The CryptoAPI component layer: TKXCryptoProvider (a provider context), the hash objects and
// the session keys, each holding its CryptoAPI handle only while active; and the shared provider
// the encryption procedures use, kept under the XpLock and released at module unload.
#include "crypto/crypto.h"

#include <iterator>
#include <memory>
#include <vector>

#include "runtime/failure.h"
#include "runtime/module_steps.h"
#include "runtime/xp_lock.h"

namespace dunmarrow {

namespace {

const BYTE* Bytes(const std::string& text) {
  return reinterpret_cast<const BYTE*>(text.data());
}
BYTE* Bytes(std::string& text) {
  return reinterpret_cast<BYTE*>(text.data());
}

// n bytes taken from the text in a cycle: byte i is byte (i mod length) of the text.
std::string Cycle(const std::string& text, size_t n) {
  if (text.empty()) RaiseRangeError();
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i) out[i] = text[i % text.size()];
  return out;
}

TKXCryptoProvider* shared_provider = nullptr;

}  // namespace

const char* ProviderNameString(TKXCryptoProviderName name) {
  static const char* const kNames[] = {
      nullptr,
      "Microsoft Base Cryptographic Provider v1.0",
      "Microsoft Enhanced Cryptographic Provider v1.0",
      "Microsoft Strong Cryptographic Provider",
      "Microsoft RSA Signature Cryptographic Provider",
      "Microsoft Base RSA SChannel Cryptographic Provider",
      "Microsoft Enhanced RSA SChannel Cryptographic Provider",
      "Microsoft Base DSS Cryptographic Provider",
      "Microsoft Base DSS and Diffie-Hellman Cryptographic Provider",
      "Microsoft Enhanced DSS and Diffie-Hellman Cryptographic Provider",
      "Microsoft DH SChannel Cryptographic Provider",
      "Microsoft Base Smart Card Crypto Provider",
      "Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)",
  };
  return name < std::size(kNames) ? kNames[name] : nullptr;
}

DWORD ProviderTypeValue(TKXCryptoProviderType type) {
  static const DWORD kTypes[] = {1, 2, 12, 3, 13, 18, 4, 5, 6};
  return type < std::size(kTypes) ? kTypes[type] : 1;
}

ALG_ID HashAlgorithmId(TKXCryptoHashAlgorithm algorithm) {
  static const ALG_ID kIds[] = {0x8001, 0x8002, 0x8003, 0x8004, 0x8004,
                                0x8005, 0x8008, 0x8009, 0x800A, 0x800B};
  return algorithm < std::size(kIds) ? kIds[algorithm] : 0x8003;
}

// ---- TKXCryptoProvider

TKXCryptoProvider::TKXCryptoProvider(TComponent* owner) : TComponent(owner) {}

TKXCryptoProvider::~TKXCryptoProvider() {
  Release();
}

DWORD TKXCryptoProvider::AcquireFlags() const {
  DWORD flags = 0;
  if (options_ & (1u << poMachineKeySet)) flags |= 0x20;  // CRYPT_MACHINE_KEYSET
  if (options_ & (1u << poSilent)) flags |= 0x40;         // CRYPT_SILENT
  if (no_private_keys_) flags |= 0xF0000000u;             // CRYPT_VERIFYCONTEXT
  if (new_key_set_) flags |= 0x8;                         // CRYPT_NEWKEYSET
  return flags;
}

void TKXCryptoProvider::SetActive(bool active) {
  if (active == Active()) return;
  if (active) {
    const char* container =
        container_name_.empty() || no_private_keys_ ? nullptr : container_name_.c_str();
    HCRYPTPROV handle = 0;
    CheckOsResult(CryptAcquireContextA(&handle, container, ProviderNameString(provider_name_),
                                       ProviderTypeValue(provider_type_), AcquireFlags()));
    handle_ = handle;
  } else {
    CheckOsResult(CryptReleaseContext(handle_, 0));
    handle_ = 0;
  }
}

bool TKXCryptoProvider::Release() {
  if (!handle_) return true;
  if (!CryptReleaseContext(handle_, 0)) return false;
  handle_ = 0;
  return true;
}

void TKXCryptoProvider::SetNoPrivateKeys(bool value) {
  if (value == no_private_keys_) return;
  no_private_keys_ = value;
  if (value) new_key_set_ = false;
}

void TKXCryptoProvider::SetNewKeySet(bool value) {
  if (value == new_key_set_) return;
  new_key_set_ = value;
  if (value) no_private_keys_ = false;
}

// ---- TKXCryptoComponent

void TKXCryptoComponent::SetProvider(TKXCryptoProvider* provider) {
  if (provider == provider_) return;
  if (provider_) RemoveFreeNotice(provider_);
  provider_ = provider;
  if (provider_) FreeNotice(provider_);
}

// ---- TKXCryptoHash

TKXCryptoHash::TKXCryptoHash(TComponent* owner) : TKXCryptoComponent(owner) {}

TKXCryptoHash::~TKXCryptoHash() {
  Destroy();
  SetKey(nullptr);
  SetProvider(nullptr);
}

void TKXCryptoHash::SetActive(bool active) {
  if (active == Active()) return;
  if (active) {
    if (!Provider()) throw Exception("No crypto provider assigned to the hash");
    Provider()->SetActive(true);
    HCRYPTHASH handle = 0;
    if (CryptCreateHash(Provider()->Handle(), HashAlgorithmId(algorithm_),
                        key_ ? key_->Handle() : 0, 0, &handle)) {
      handle_ = handle;
    }
  } else {
    CheckOsResult(CryptDestroyHash(handle_));
    handle_ = 0;
  }
}

bool TKXCryptoHash::Destroy() {
  if (!handle_) return true;
  if (!CryptDestroyHash(handle_)) return false;
  handle_ = 0;
  return true;
}

void TKXCryptoHash::SetAlgorithm(TKXCryptoHashAlgorithm algorithm) {
  if (algorithm == algorithm_) return;
  SetActive(false);
  algorithm_ = algorithm;
}

void TKXCryptoHash::SetKey(TKXCryptoKey* key) {
  if (key == key_) return;
  if (key_) RemoveFreeNotice(key_);
  key_ = key;
  if (key_) FreeNotice(key_);
}

void TKXCryptoHash::RemoveNotice(TComponent* component) {
  if (component == Provider()) SetProvider(nullptr);
  if (component == key_) SetKey(nullptr);
}

bool TKXCryptoHash::HashData(std::string_view text) {
  if (text.empty()) return false;
  SetActive(true);
  return CryptHashData(handle_, reinterpret_cast<const BYTE*>(text.data()),
                       CheckedNarrow<DWORD>(text.size()), 0) != 0;
}

std::string TKXCryptoHash::GetHashValue(int format) {
  SetActive(true);
  DWORD size = 0;
  CheckOsResult(CryptGetHashParam(handle_, HP_HASHVAL, nullptr, &size, 0));
  if (size == 0) return std::string();
  // Digests of the standard algorithms fit on the stack; a longer one gets a heap buffer.
  BYTE small[64];
  std::vector<BYTE> large(size > sizeof small ? size : 0);
  BYTE* value = large.empty() ? small : large.data();
  CheckOsResult(CryptGetHashParam(handle_, HP_HASHVAL, value, &size, 0));
  std::string digest;
  if (format == 1) {
    static const char kDigits[] = "0123456789abcdef";
    digest.resize(size_t{size} * 2);
    for (DWORD i = 0; i < size; ++i) {
      digest[2 * i] = kDigits[value[i] >> 4];
      digest[2 * i + 1] = kDigits[value[i] & 0xF];
    }
  } else {
    digest.assign(reinterpret_cast<const char*>(value), size);
  }
  SetActive(false);
  return digest;
}

bool TKXCryptoHash::HashString(std::string_view text, int format, std::string& digest) {
  digest.clear();
  bool hashed = HashData(text);
  if (hashed) digest = GetHashValue(format);
  return hashed;
}

TKXCryptoKey* TKXCryptoHash::DeriveKey(ALG_ID algorithm, DWORD flags, const std::string& text) {
  SetActive(true);
  HCRYPTKEY handle = 0;
  if (!CryptDeriveKey(Provider()->Handle(), algorithm, handle_, flags, &handle)) {
    // Ending the hash must not hide why the key was refused.
    DWORD refused = GetLastError();
    SetActive(false);
    SetLastError(refused);
    return nullptr;
  }
  std::unique_ptr<TKXCryptoKey> key(new TKXCryptoKey(Owner()));
  key->SetProvider(Provider());
  key->SetHandle(handle);
  try {
    key->SetIV(ReverseString(text));
    key->SetSalt(ReverseString(text));
  } catch (...) {
    key.reset();
    Destroy();
    throw;
  }
  SetActive(false);
  return key.release();
}

// ---- TKXCryptoKey

TKXCryptoKey::~TKXCryptoKey() {
  DestroyHandle();
  SetProvider(nullptr);
}

void TKXCryptoKey::DestroyHandle() {
  if (!handle_) return;
  CryptDestroyKey(handle_);
  handle_ = 0;
}

void TKXCryptoKey::RemoveNotice(TComponent* component) {
  if (component != Provider()) return;
  DestroyHandle();
  SetProvider(nullptr);
}

bool TKXCryptoKey::Encrypt(const std::string& source, bool final, std::string& output) {
  output.clear();
  const DWORD n = CheckedNarrow<DWORD>(source.size());
  DWORD size = n;
  if (!CryptEncrypt(handle_, 0, final ? TRUE : FALSE, 0, nullptr, &size, n)) return false;
  output = source;
  output.resize(size);
  DWORD length = n;
  bool done = CryptEncrypt(handle_, 0, final ? TRUE : FALSE, 0, Bytes(output), &length, size) != 0;
  if (done && length < size) output.resize(length);
  return done;
}

bool TKXCryptoKey::Decrypt(const std::string& source, bool final, std::string& output) {
  output = source;
  DWORD length = CheckedNarrow<DWORD>(source.size());
  bool done = CryptDecrypt(handle_, 0, final ? TRUE : FALSE, 0, Bytes(output), &length) != 0;
  if (done && length <= output.size()) output.resize(length);
  return done;
}

bool TKXCryptoKey::SetKeyParam(DWORD param, const std::string& bytes) {
  return CryptSetKeyParam(handle_, param, bytes.empty() ? nullptr : Bytes(bytes), 0) != 0;
}

DWORD TKXCryptoKey::GetBlockLength() {
  DWORD value = 0;
  DWORD size = sizeof value;
  CheckOsResult(CryptGetKeyParam(handle_, KP_BLOCKLEN, reinterpret_cast<BYTE*>(&value), &size, 0));
  return value;
}

void TKXCryptoKey::SetIV(const std::string& text) {
  const DWORD n = GetBlockLength() / 8;
  if (n == 0) return;
  SetKeyParam(KP_IV, Cycle(text, n));
}

void TKXCryptoKey::SetSalt(const std::string& text) {
  DWORD size = 0;
  if (!CryptGetKeyParam(handle_, KP_SALT, nullptr, &size, 0)) {
    // A cipher without salt (DES) refuses the query: it gets no salt.
    if (GetLastError() != static_cast<DWORD>(NTE_BAD_KEY)) RaiseOsError();
    size = 0;
  }
  if (size == 0) return;
  SetKeyParam(KP_SALT, Cycle(text, size));
}

// ---- Helpers

std::string ReverseString(const std::string& text) {
  return std::string(text.rbegin(), text.rend());
}

TKXCryptoProvider* SharedCryptoProvider() {
  XpLockGuard guard;
  if (!shared_provider) {
    auto* provider = new TKXCryptoProvider(nullptr);
    provider->SetProviderName(pnMSBase);
    provider->SetNoPrivateKeys(true);
    shared_provider = provider;
  }
  return shared_provider;
}

void ReleaseSharedCryptoProvider() {
  XpLockGuard guard;
  delete shared_provider;
  shared_provider = nullptr;
}

DUNMARROW_MODULE_STEPS(kCryptoProvider, nullptr, ReleaseSharedCryptoProvider)

}  // namespace dunmarrow
