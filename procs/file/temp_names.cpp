// xp_GetTempDir and xp_GetTempFile: the temporary directory and new, unique temporary files.
#include <algorithm>
#include <cstdint>

#include "platform/windows.h"
#include "runtime/data_kind.h"
#include "runtime/export.h"
#include "runtime/frame.h"

namespace dunmarrow {
namespace {

// The path goes straight into the parameter's data area and back to the server, cut to the
// parameter's maximum length; the status is the path's full length in characters.
int GetTempDir(SRV_PROC* srvproc) {
  if (srv_rpcparams(srvproc) != 1) RaiseInvalidParams();
  TxpParamBuffer param;
  if (!ReadParam(srvproc, 1, param)) return -1;
  uint32_t length = 0, bytes = 0;
  switch (OdsTypeKind(param.Type)) {
    case dkString: {
      constexpr DWORD kCapacity = kParamDataSize - 1;
      length = GetTempPathA(kCapacity, reinterpret_cast<LPSTR>(param.Data));
      if (length == 0) RaiseOsError();
      // A larger result is the size the path would need: nothing was written.
      if (length > kCapacity) RaiseRangeError();
      bytes = length;
      break;
    }
    case dkWideString: {
      constexpr DWORD kCapacity = kParamDataSize / 2 - 1;
      length = GetTempPathW(kCapacity, reinterpret_cast<LPWSTR>(param.Data));
      if (length == 0) RaiseOsError();
      if (length > kCapacity) RaiseRangeError();
      bytes = length * 2;
      break;
    }
    default:
      RaiseInvalidParams();
  }
  srv_paramsetoutput(srvproc, 1, param.Data, std::min(bytes, param.MaxLen), 0);
  return CheckedNarrow<int32_t>(length);
}

}  // namespace
}  // namespace dunmarrow

using namespace dunmarrow;

XP_PROCEDURE(xp_GetTempDir) {
  return RunDirectFrame(srvproc, "xp_GetTempDir: ", [&] { return GetTempDir(srvproc); });
}
