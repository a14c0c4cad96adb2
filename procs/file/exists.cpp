// xp_FileExists and xp_DirExists: whether a path names an existing file or directory.
#include "platform/windows.h"
#include "runtime/data_kind.h"
#include "runtime/export.h"
#include "runtime/frame.h"
#include "runtime/param_checks.h"

namespace dunmarrow {
namespace {

// The attribute word of the path in parameter 1, or INVALID_FILE_ATTRIBUTES when it cannot
// be queried. A failed query is an answer, not a failure.
DWORD QueryPathAttributes(SRV_PROC* srvproc) {
  if (srv_rpcparams(srvproc) != 1) RaiseInvalidParams();
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  TxpParamBuffer param;
  if (!ReadParam(srvproc, 1, param)) return attributes;
  switch (OdsTypeKind(param.Type)) {
    case dkString:
      CheckName(param, "the path", 1);
      attributes = GetFileAttributesA(reinterpret_cast<LPCSTR>(param.Data));
      break;
    case dkWideString:
      CheckName(param, "the path", 1);
      // The 16-bit path goes to the wide call unchanged, so names outside the ANSI code
      // page are found.
      attributes = GetFileAttributesW(reinterpret_cast<LPCWSTR>(param.Data));
      break;
    default:
      RaiseInvalidParams();
  }
  return attributes;
}

bool IsFile(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace
}  // namespace dunmarrow

using namespace dunmarrow;

XP_PROCEDURE(xp_FileExists) {
  return RunDirectFrame(
      srvproc, "xp_FileExists: ", [&] { return IsFile(QueryPathAttributes(srvproc)) ? 1 : 0; });
}

XP_PROCEDURE(xp_DirExists) {
  return RunDirectFrame(
      srvproc, "xp_DirExists: ", [&] { return IsDirectory(QueryPathAttributes(srvproc)) ? 1 : 0; });
}
