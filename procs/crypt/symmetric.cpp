// xp_symmetric_quick_encode and xp_symmetric_quick_decode: RC2, RC4 or DES under a key made
// from a password, one final block through the CryptoAPI layer on the shared provider. The
// cipher bytes are exactly what the provider produces; nothing is stored with them.
#include <memory>
#include <string>
#include <string_view>

#include "crypto/crypto.h"
#include "runtime/ascii.h"
#include "runtime/context.h"
#include "runtime/export.h"
#include "runtime/failure.h"
#include "runtime/param_checks.h"
#include "runtime/xp_lock.h"

namespace dunmarrow {
namespace {

constexpr ALG_ID kRc2 = 0x6602;
constexpr ALG_ID kRc4 = 0x6801;
constexpr ALG_ID kDes = 0x6601;

ALG_ID AlgorithmOf(std::string_view name) {
  if (EqualsIgnoreAsciiCase(name, "RC2")) return kRc2;
  if (EqualsIgnoreAsciiCase(name, "RC4")) return kRc4;
  if (EqualsIgnoreAsciiCase(name, "DES")) return kDes;
  throw Exception("Invalid algorithm (1st param)");
}

int SymmetricQuick(TXProc& proc, bool encode) {
  TxpParams& params = proc.Params();
  if (params.Count() != 4) RaiseInvalidParams();
  ALG_ID algorithm = AlgorithmOf(params.Items(0)->AsString());
  if (params.Items(1)->IsNull()) throw Exception("Empty password (2nd param)");
  if (params.Items(2)->IsNull()) throw Exception("Empty source (3rd param)");
  CheckOutputKind(*params.Items(3));
  ByteString source_bytes = params.Items(2)->AsBytes();
  std::string source(source_bytes.begin(), source_bytes.end());
  std::string result;
  {
    XpLockGuard guard;
    // The key material is the MD5 hash of nothing; the password reaches the key only as its
    // IV and salt.
    TKXCryptoHash hash(nullptr);
    hash.SetProvider(SharedCryptoProvider());
    std::unique_ptr<TKXCryptoKey> key(hash.DeriveKey(algorithm, 0, params.Items(1)->AsString()));
    if (!key) RaiseOsError();
    bool done = encode ? key->Encrypt(source, true, result) : key->Decrypt(source, true, result);
    if (!done) RaiseOsError();
  }
  // Empty result bytes leave the OUTPUT parameter as it came.
  if (!result.empty()) {
    TxpItem& output = *params.Items(3);
    output.SetData(result.data(), CheckedNarrow<uint32_t>(result.size()), output.Kind());
  }
  return 1;
}

}  // namespace
}  // namespace dunmarrow

// The failure reports name "xp_quick_symmetric_encode" and "xp_quick_symmetric_decode", not the
// export names: deliberately, as the callers of the original module see and match those texts.
XP_PROCEDURE(xp_symmetric_quick_encode) {
  return dunmarrow::RunContextFrame(srvproc,
                                    "xp_quick_symmetric_encode: ", [](dunmarrow::TXProc& proc) {
                                      return dunmarrow::SymmetricQuick(proc, true);
                                    });
}

XP_PROCEDURE(xp_symmetric_quick_decode) {
  return dunmarrow::RunContextFrame(srvproc,
                                    "xp_quick_symmetric_decode: ", [](dunmarrow::TXProc& proc) {
                                      return dunmarrow::SymmetricQuick(proc, false);
                                    });
}
