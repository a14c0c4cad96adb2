// The CryptoAPI component layer: provider flags, hash life cycle, key derivation with IV and
// salt from the reversed text, destruction notices and ownership.
#include <functional>
#include <memory>

#include "crypto/crypto.h"
#include "runtime/failure.h"
#include "tests/unit/crypt_helpers.h"

namespace dunmarrow::test {
namespace {

class CryptoLayerTest : public CryptTest {
 protected:
  void SetUp() override {
    CryptTest::SetUp();
    provider_ = std::make_unique<TKXCryptoProvider>(nullptr);
    provider_->SetNoPrivateKeys(true);
  }
  void TearDown() override {
    provider_.reset();
    CryptTest::TearDown();
  }

  static std::string KeyParam(TKXCryptoKey& key, DWORD param) {
    DWORD size = 0;
    if (!CryptGetKeyParam(key.Handle(), param, nullptr, &size, 0)) return "refused";
    std::string value(size, '\0');
    EXPECT_TRUE(
        CryptGetKeyParam(key.Handle(), param, reinterpret_cast<BYTE*>(value.data()), &size, 0));
    return value;
  }

  std::unique_ptr<TKXCryptoProvider> provider_;
};

std::string FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "no failure";
}

TEST_F(CryptoLayerTest, ProviderDefaultsAndExclusiveFlags) {
  TKXCryptoProvider p(nullptr);
  EXPECT_FALSE(p.Active());
  EXPECT_EQ(p.Handle(), 0u);
  EXPECT_EQ(p.ProviderName(), pnMSBase);
  EXPECT_EQ(p.ProviderType(), ptRSAFull);
  EXPECT_EQ(p.ContainerName(), "");
  EXPECT_EQ(p.Options(), 0);
  EXPECT_EQ(p.AcquireFlags(), 0u);
  p.SetNewKeySet(true);
  p.SetNoPrivateKeys(true);
  EXPECT_FALSE(p.NewKeySet());
  EXPECT_EQ(p.AcquireFlags(), 0xF0000000u);
  p.SetNewKeySet(true);
  EXPECT_FALSE(p.NoPrivateKeys());
  p.SetOptions((1 << poMachineKeySet) | (1 << poSilent));
  EXPECT_EQ(p.AcquireFlags(), 0x8u | 0x20u | 0x40u);
  EXPECT_STREQ(ProviderNameString(pnMSEnhancedRSAAES),
               "Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)");
  EXPECT_EQ(ProviderNameString(static_cast<TKXCryptoProviderName>(13)), nullptr);
  EXPECT_EQ(ProviderTypeValue(ptDHSChannel), 18u);
  EXPECT_EQ(ProviderTypeValue(static_cast<TKXCryptoProviderType>(9)), 1u);
  EXPECT_EQ(HashAlgorithmId(caSHA1), 0x8004u);
  EXPECT_EQ(HashAlgorithmId(static_cast<TKXCryptoHashAlgorithm>(10)), 0x8003u);
}

TEST_F(CryptoLayerTest, ActivationPassesTheContainerOnlyWithPrivateKeys) {
  // The container does not exist: opening it fails, unless no container is asked for.
  TKXCryptoProvider p(nullptr);
  p.SetContainerName("dunmarrow-layer-test");
  EXPECT_EQ(FailureOf([&] { p.SetActive(true); }),
            "System Error.  Code: -2146893802.\r\nKeyset does not exist");
  EXPECT_FALSE(p.Active());
  p.SetNoPrivateKeys(true);
  p.SetActive(true);
  EXPECT_TRUE(p.Active());
  p.SetActive(false);
  p.SetNewKeySet(true);
  p.SetActive(true);
  EXPECT_TRUE(p.Active());
  p.SetActive(false);
  // The container exists now: creating it again fails and leaves the provider inactive.
  EXPECT_EQ(FailureOf([&] { p.SetActive(true); }),
            "System Error.  Code: -2146893809.\r\nObject already exists");
  EXPECT_FALSE(p.Active());
  p.SetProviderName(pnMSEnhanced);
  p.SetNoPrivateKeys(true);
  EXPECT_EQ(FailureOf([&] { p.SetActive(true); }),
            "System Error.  Code: -2146893799.\r\nThe keyset is not defined");
}

TEST_F(CryptoLayerTest, HashDigestsAreReadOnce) {
  TKXCryptoHash hash(nullptr);
  EXPECT_EQ(FailureOf([&] { hash.HashData("abc"); }), "No crypto provider assigned to the hash");
  hash.SetProvider(provider_.get());
  hash.SetAlgorithm(caSHA);
  EXPECT_FALSE(hash.HashData(""));
  EXPECT_FALSE(hash.Active());
  EXPECT_FALSE(provider_->Active());
  EXPECT_TRUE(hash.HashData("abc"));
  EXPECT_TRUE(hash.Active());
  EXPECT_TRUE(provider_->Active());
  EXPECT_EQ(hash.GetHashValue(1), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_FALSE(hash.Active());
  // The first read ended the hash: the next is the digest of no data.
  EXPECT_EQ(LowerHex(hash.GetHashValue(0)), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  std::string digest = "stale";
  EXPECT_TRUE(hash.HashString("abc", 7, digest));
  EXPECT_EQ(digest, Sha1Of("abc"));
  EXPECT_FALSE(hash.HashString("", 1, digest));
  EXPECT_EQ(digest, "");
  // A new algorithm ends the running hash.
  EXPECT_TRUE(hash.HashData("abc"));
  hash.SetAlgorithm(caMD5);
  EXPECT_FALSE(hash.Active());
  EXPECT_EQ(hash.GetHashValue(1), "d41d8cd98f00b204e9800998ecf8427e");
  // The provider refuses an algorithm it lacks: the hash stays inactive and reading fails.
  hash.SetAlgorithm(caHMAC);
  EXPECT_FALSE(hash.HashData("abc"));
  EXPECT_FALSE(hash.Active());
  EXPECT_NE(FailureOf([&] { hash.GetHashValue(1); }), "no failure");
}

TEST_F(CryptoLayerTest, DerivedKeysTakeIvAndSaltFromTheReversedText) {
  TKXCryptoHash hash(nullptr);
  hash.SetProvider(provider_.get());
  std::unique_ptr<TKXCryptoKey> rc2(hash.DeriveKey(0x6602, 0, "xyz"));
  ASSERT_TRUE(rc2);
  EXPECT_FALSE(hash.Active());
  EXPECT_EQ(rc2->Provider(), provider_.get());
  EXPECT_EQ(rc2->GetBlockLength(), 64u);
  EXPECT_EQ(KeyParam(*rc2, KP_IV), "zyxzyxzy");
  EXPECT_EQ(KeyParam(*rc2, KP_SALT), "zyxzyxzyxzy");

  std::unique_ptr<TKXCryptoKey> rc4(hash.DeriveKey(0x6801, 0, "abcdefghijklmn"));
  ASSERT_TRUE(rc4);
  EXPECT_EQ(rc4->GetBlockLength(), 0u);
  EXPECT_EQ(KeyParam(*rc4, KP_IV), "");
  EXPECT_EQ(KeyParam(*rc4, KP_SALT), "nmlkjihgfed");

  // DES has no salt: the refused salt query means none, and the key works.
  std::unique_ptr<TKXCryptoKey> des(hash.DeriveKey(0x6601, 0, "pw"));
  ASSERT_TRUE(des);
  EXPECT_EQ(KeyParam(*des, KP_IV), "wpwpwpwp");
  std::string cipher, plain;
  ASSERT_TRUE(des->Encrypt("data", true, cipher));
  EXPECT_EQ(cipher, OracleEncrypt("DES", "pw", "data"));
  ASSERT_TRUE(des->Decrypt(cipher, true, plain));
  EXPECT_EQ(plain, "data");
  EXPECT_FALSE(des->Decrypt(cipher.substr(1), true, plain));
  EXPECT_EQ(GetLastError(), NTE_BAD_DATA);

  // An algorithm the provider lacks gives no key, with the provider's error kept.
  EXPECT_EQ(hash.DeriveKey(0x6603, 0, "pw"), nullptr);
  EXPECT_EQ(GetLastError(), NTE_BAD_ALGID);
  EXPECT_FALSE(hash.Active());
  // An empty text cannot fill an IV or a salt.
  EXPECT_EQ(FailureOf([&] { hash.DeriveKey(0x6801, 0, ""); }), "Range check error");
  EXPECT_FALSE(hash.Active());
}

TEST_F(CryptoLayerTest, EncryptSizesTheOutputByAskingFirst) {
  TKXCryptoHash hash(nullptr);
  hash.SetProvider(provider_.get());
  std::unique_ptr<TKXCryptoKey> rc2(hash.DeriveKey(0x6602, 0, "secret"));
  std::unique_ptr<TKXCryptoKey> rc4(hash.DeriveKey(0x6801, 0, "secret"));
  std::string out = "junk";
  for (const std::string& source :
       std::vector<std::string>{"", "1234567", "12345678", std::string(1000, 'q')}) {
    ASSERT_TRUE(rc2->Encrypt(source, true, out));
    EXPECT_EQ(out, OracleEncrypt("RC2", "secret", source));
    ASSERT_TRUE(rc4->Encrypt(source, true, out));
    EXPECT_EQ(out, OracleEncrypt("RC4", "secret", source));
  }
  // Not the final block: whole blocks only.
  EXPECT_FALSE(rc2->Encrypt("123", false, out));
  EXPECT_EQ(out, "");
}

TEST_F(CryptoLayerTest, NoticesUnlinkDestroyedComponents) {
  auto provider = std::make_unique<TKXCryptoProvider>(nullptr);
  provider->SetNoPrivateKeys(true);
  TKXCryptoHash hash(nullptr);
  hash.SetProvider(provider.get());
  std::unique_ptr<TKXCryptoKey> key(hash.DeriveKey(0x6801, 0, "pw"));
  ASSERT_TRUE(key);
  hash.SetKey(key.get());
  EXPECT_TRUE(hash.HashData("abc"));
  HCRYPTHASH open_hash = hash.Handle();
  // The provider goes: the key loses its handle, the hash its link; the hash handle stays.
  provider.reset();
  EXPECT_EQ(hash.Provider(), nullptr);
  EXPECT_EQ(key->Provider(), nullptr);
  EXPECT_EQ(key->Handle(), 0u);
  EXPECT_EQ(hash.Handle(), open_hash);
  EXPECT_EQ(hash.Key(), key.get());
  key.reset();
  EXPECT_EQ(hash.Key(), nullptr);
}

TEST_F(CryptoLayerTest, OwnersDestroyWhatTheyOwn) {
  struct Probe : TComponent {
    Probe(TComponent* owner, int* destroyed) : TComponent(owner), destroyed_(destroyed) {}
    ~Probe() override { ++*destroyed_; }
    int* destroyed_;
  };
  int destroyed = 0;
  auto owner = std::make_unique<TComponent>(nullptr);
  new Probe(owner.get(), &destroyed);
  auto* early = new Probe(owner.get(), &destroyed);
  EXPECT_EQ(owner->ComponentCount(), 2);
  delete early;  // leaves its owner
  EXPECT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(destroyed, 1);
  owner.reset();
  EXPECT_EQ(destroyed, 2);

  // A key derived from an owned hash belongs to the same owner.
  TComponent keeper(nullptr);
  auto* hash = new TKXCryptoHash(&keeper);
  hash->SetProvider(provider_.get());
  TKXCryptoKey* key = hash->DeriveKey(0x6602, 0, "pw");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->Owner(), &keeper);
  EXPECT_EQ(keeper.ComponentCount(), 2);
}

TEST_F(CryptoLayerTest, ReverseStringAndSharedProvider) {
  EXPECT_EQ(ReverseString(""), "");
  EXPECT_EQ(ReverseString(std::string("a\0c", 3)), std::string("c\0a", 3));
  TKXCryptoProvider* shared = SharedCryptoProvider();
  EXPECT_EQ(SharedCryptoProvider(), shared);
  EXPECT_EQ(shared->ProviderName(), pnMSBase);
  EXPECT_TRUE(shared->NoPrivateKeys());
  EXPECT_FALSE(shared->Active());
  TKXCryptoHash hash(nullptr);
  hash.SetProvider(shared);
  EXPECT_TRUE(hash.HashData("x"));
  HCRYPTPROV context = shared->Handle();
  EXPECT_NE(context, 0u);
  // Unload releases the context: it no longer serves.
  ReleaseSharedCryptoProvider();
  EXPECT_EQ(hash.Provider(), nullptr);
  HCRYPTHASH other = 0;
  EXPECT_FALSE(CryptCreateHash(context, CALG_MD5, 0, 0, &other));
  EXPECT_EQ(GetLastError(), NTE_BAD_UID);
}

}  // namespace
}  // namespace dunmarrow::test
