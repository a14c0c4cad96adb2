// xp_sha_quick and xp_sha_quick_compare: the SHA-1 digest of a value, as 40 lower-case
// hexadecimal digits or as its 20 bytes, stored in an OUTPUT parameter or compared with a
// digest the caller gives. All CryptoAPI work runs under XpLock on the shared provider.
#include <cstring>
#include <string>
#include <string_view>

#include "crypto/crypto.h"
#include "runtime/ascii.h"
#include "runtime/context.h"
#include "runtime/data_kind.h"
#include "runtime/export.h"
#include "runtime/failure.h"
#include "runtime/param_checks.h"
#include "runtime/xp_lock.h"

namespace dunmarrow {
namespace {

// Form 1 is the hexadecimal text; every other form the raw digest bytes.
constexpr uint8_t kHexForm = 1;

// The value of an item as the bytes the server passed (AsBytes), without copying them.
std::string_view BytesOf(const TxpItem& item) {
  if (item.IsNull()) return std::string_view();
  return std::string_view(reinterpret_cast<const char*>(item.Data()), item.DataLen());
}

// The digest form from a parameter item (xp_sha_quick): 'bin' or '0' in any letter case give
// the raw form; an integer or binary value gives its first byte.
uint8_t GetHashFormat(const TxpItem* item) {
  if (!item) return kHexForm;
  switch (item->Kind()) {
    case dkString:
    case dkWideString: {
      std::string text = item->AsString();
      return EqualsIgnoreAsciiCase(text, "bin") || text == "0" ? 0 : kHexForm;
    }
    case dkInteger:
    case dkBytes:
      return item->IsNull() ? 0 : item->Data()[0];
    default:
      return kHexForm;
  }
}

bool IsBin(const char* text) {
  return (text[0] == 'b' || text[0] == 'B') && (text[1] == 'i' || text[1] == 'I') &&
         (text[2] == 'n' || text[2] == 'N') && text[3] == 0;
}

// The digest form read directly from parameter `number` (xp_sha_quick_compare). The data is
// read both as zero-terminated 8-bit text ('bin' in any case) and as zero-terminated UTF-16
// ("0"), so that the text "0" of either width selects the raw form.
uint8_t GetHashFormatParam(SRV_PROC* srvproc, int number) {
  if (number > srv_rpcparams(srvproc)) return kHexForm;
  TxpParamBuffer param;
  if (!ReadParam(srvproc, number, param)) return kHexForm;
  switch (OdsTypeKind(param.Type)) {
    case dkInteger:
    case dkBytes:
      return param.Data[0];
    case dkString:
    case dkWideString: {
      const char* narrow = reinterpret_cast<const char*>(param.Data);
      bool wide_zero =
          param.Data[0] == '0' && param.Data[1] == 0 && param.Data[2] == 0 && param.Data[3] == 0;
      return IsBin(narrow) || wide_zero ? 0 : kHexForm;
    }
    default:
      return kHexForm;
  }
}

// The digest of the bytes in the form; false for empty bytes (no digest).
bool MakeHashQuick(TKXCryptoHashAlgorithm algorithm, uint8_t form, std::string_view bytes,
                   std::string& digest) {
  XpLockGuard guard;
  try {
    TKXCryptoHash hash(nullptr);
    hash.SetProvider(SharedCryptoProvider());
    hash.SetAlgorithm(algorithm);
    return hash.HashString(bytes, form, digest);
  } catch (const Exception& e) {
    throw Exception("_MakeHashQuick - " + e.Message());
  } catch (const std::bad_alloc&) {
    throw Exception(std::string("_MakeHashQuick - ") + kOutOfMemoryMessage);
  }
}

int ShaQuick(TXProc& proc) {
  TxpParams& params = proc.Params();
  if (params.Count() != 2 && params.Count() != 3) RaiseInvalidParams();
  uint8_t form = GetHashFormat(params.Items(2));
  CheckOutputKind(*params.Items(1));
  std::string digest;
  if (!MakeHashQuick(caSHA, form, BytesOf(*params.Items(0)), digest)) return -1;
  TxpItem& output = *params.Items(1);
  output.SetData(digest.data(), CheckedNarrow<uint32_t>(digest.size()), output.Kind());
  return 1;
}

int ShaQuickCompare(TXProc& proc) {
  TxpParams& params = proc.Params();
  if (params.Count() != 2 && params.Count() != 3) RaiseInvalidParams();
  uint8_t form = GetHashFormatParam(proc.SrvProc(), 3);
  std::string_view expected = BytesOf(*params.Items(1));
  std::string digest;
  if (!MakeHashQuick(caSHA, form, BytesOf(*params.Items(0)), digest)) return -1;
  if (expected.empty()) RaiseRangeError();
  // Bytes after the digest's length are not looked at.
  bool equal = expected.size() >= digest.size() &&
               std::memcmp(expected.data(), digest.data(), digest.size()) == 0;
  return equal ? 1 : 0;
}

}  // namespace
}  // namespace dunmarrow

XP_PROCEDURE(xp_sha_quick) {
  return dunmarrow::RunContextFrame(srvproc, "xp_sha_quick: ", " (_xpHashQuick)",
                                    dunmarrow::ShaQuick);
}

XP_PROCEDURE(xp_sha_quick_compare) {
  return dunmarrow::RunContextFrame(srvproc, "xp_sha_quick_compare: ", " (_xpHashQuickCompare)",
                                    dunmarrow::ShaQuickCompare);
}
