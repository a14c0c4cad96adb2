// The CryptoAPI component layer: a provider context, hash objects and session keys, each
// holding its CryptoAPI handle only while it is active, so that no handle outlives its object.
// Texts are byte strings (std::string holds any bytes); CryptoAPI gets their bytes and length.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/component.h"
#include "platform/windows.h"

namespace dunmarrow {

enum TKXCryptoProviderName : uint8_t {
  pnDefault,
  pnMSBase,
  pnMSEnhanced,
  pnMSStrong,
  pnMSRSASignature,
  pnMSBaseRSASChannel,
  pnMSEnhancedRSASChannel,
  pnMSBaseDSS,
  pnMSBaseDSSDH,
  pnMSEnhancedDSSDH,
  pnMSBaseDHSChannel,
  pnMSBaseSmartCard,
  pnMSEnhancedRSAAES,
};

enum TKXCryptoProviderType : uint8_t {
  ptRSAFull,
  ptRSASignature,
  ptRSASChannel,
  ptDSS,
  ptDSSDH,
  ptDHSChannel,
  ptFortezza,
  ptMSExchange,
  ptSSL,
};

enum TKXCryptoHashAlgorithm : uint8_t {
  caMD2,
  caMD4,
  caMD5,
  caSHA,
  caSHA1,
  caMAC,
  caSSL3_SHAMD5,
  caHMAC,
  caTLS1PRF,
  caHASH_REPLACE_OWF,
};

enum TKXCryptoProviderOption : uint8_t { poMachineKeySet, poSilent };
// Bit n for option n.
using TKXCryptoProviderOptions = uint8_t;

// The provider name string of a value; null for pnDefault and values outside the table.
const char* ProviderNameString(TKXCryptoProviderName name);
// The CryptoAPI provider type of a value (1 for values outside the table).
DWORD ProviderTypeValue(TKXCryptoProviderType type);
// The algorithm identifier of a hash algorithm (0x8003 for values outside the table).
ALG_ID HashAlgorithmId(TKXCryptoHashAlgorithm algorithm);

class TKXCryptoProvider : public TComponent {
 public:
  explicit TKXCryptoProvider(TComponent* owner);
  // Releases the context; a failed release is not raised from here.
  ~TKXCryptoProvider() override;

  HCRYPTPROV Handle() const { return handle_; }
  bool Active() const { return handle_ != 0; }
  // Acquires or releases the context (guarded: a failure raises the system-error failure and
  // leaves the provider as it was).
  void SetActive(bool active);

  TKXCryptoProviderName ProviderName() const { return provider_name_; }
  void SetProviderName(TKXCryptoProviderName name) { provider_name_ = name; }
  TKXCryptoProviderType ProviderType() const { return provider_type_; }
  void SetProviderType(TKXCryptoProviderType type) { provider_type_ = type; }
  const std::string& ContainerName() const { return container_name_; }
  void SetContainerName(std::string name) { container_name_ = std::move(name); }
  // Open without a key container; excludes NewKeySet.
  bool NoPrivateKeys() const { return no_private_keys_; }
  void SetNoPrivateKeys(bool value);
  // Create the key container; excludes NoPrivateKeys.
  bool NewKeySet() const { return new_key_set_; }
  void SetNewKeySet(bool value);
  TKXCryptoProviderOptions Options() const { return options_; }
  void SetOptions(TKXCryptoProviderOptions options) { options_ = options; }

  // The flags the next activation passes to CryptAcquireContextA.
  DWORD AcquireFlags() const;

 private:
  bool Release();

  HCRYPTPROV handle_ = 0;
  TKXCryptoProviderName provider_name_ = pnMSBase;
  TKXCryptoProviderType provider_type_ = ptRSAFull;
  std::string container_name_;
  bool no_private_keys_ = false;
  bool new_key_set_ = false;
  TKXCryptoProviderOptions options_ = 0;
};

class TKXCryptoComponent : public TComponent {
 public:
  explicit TKXCryptoComponent(TComponent* owner) : TComponent(owner) {}

  TKXCryptoProvider* Provider() const { return provider_; }
  // Asks the new provider for its destruction notice and withdraws the request from the old.
  void SetProvider(TKXCryptoProvider* provider);

 private:
  TKXCryptoProvider* provider_ = nullptr;
};

class TKXCryptoKey;

class TKXCryptoHash : public TKXCryptoComponent {
 public:
  explicit TKXCryptoHash(TComponent* owner);
  // Destroys the hash object (a failure is not raised from here) and unlinks the provider.
  ~TKXCryptoHash() override;

  HCRYPTHASH Handle() const { return handle_; }
  bool Active() const { return handle_ != 0; }
  // Activating activates the provider and creates the hash object; when the provider refuses
  // it, the hash stays inactive and the next guarded call on it fails. Deactivating destroys
  // the hash object (guarded).
  void SetActive(bool active);
  TKXCryptoHashAlgorithm Algorithm() const { return algorithm_; }
  // A different algorithm ends the hash first.
  void SetAlgorithm(TKXCryptoHashAlgorithm algorithm);
  TKXCryptoKey* Key() const { return key_; }
  void SetKey(TKXCryptoKey* key);

  // Feeds the bytes into the hash; an empty text gives false without activating the hash.
  bool HashData(std::string_view text);
  // The digest: lower-case hexadecimal for format 1, else the raw bytes. Reading it ends the
  // hash, so the next HashData starts a new one.
  std::string GetHashValue(int format);
  bool HashString(std::string_view text, int format, std::string& digest);
  // A session key derived from what was hashed, with IV and salt made from the text's bytes
  // in reverse order; null when the provider refuses (its last error stays set). The hash
  // ends either way. The key has the hash's owner; without one, the caller owns it.
  TKXCryptoKey* DeriveKey(ALG_ID algorithm, DWORD flags, const std::string& text);

 protected:
  void RemoveNotice(TComponent* component) override;

 private:
  bool Destroy();

  HCRYPTHASH handle_ = 0;
  TKXCryptoHashAlgorithm algorithm_ = caMD5;
  TKXCryptoKey* key_ = nullptr;
};

class TKXCryptoKey : public TKXCryptoComponent {
 public:
  explicit TKXCryptoKey(TComponent* owner) : TKXCryptoComponent(owner) {}
  ~TKXCryptoKey() override;

  HCRYPTKEY Handle() const { return handle_; }
  // Takes over a key handle (from CryptDeriveKey).
  void SetHandle(HCRYPTKEY handle) { handle_ = handle; }

  // One call each, never raising: the result tells whether the provider did it.
  bool Encrypt(const std::string& source, bool final, std::string& output);
  bool Decrypt(const std::string& source, bool final, std::string& output);
  bool SetKeyParam(DWORD param, const std::string& bytes);
  // In bits; 0 for a stream cipher (guarded).
  DWORD GetBlockLength();
  // The IV: the text repeated and cut to the block length. Nothing for a stream cipher.
  void SetIV(const std::string& text);
  // The salt: the text repeated and cut to the salt length. Nothing when the key has no salt.
  void SetSalt(const std::string& text);

 protected:
  void RemoveNotice(TComponent* component) override;

 private:
  void DestroyHandle();

  HCRYPTKEY handle_ = 0;
};

// The bytes of the text in reverse order.
std::string ReverseString(const std::string& text);

// The one provider the hash and encryption procedures use: the Base provider without key
// container, created on first use under XpLock and activated by the first hash on it.
TKXCryptoProvider* SharedCryptoProvider();
// Destroys the shared provider, if it was created, releasing its context (module unload).
void ReleaseSharedCryptoProvider();

}  // namespace dunmarrow
