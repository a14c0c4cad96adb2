// xp_FileSize, xp_FileDelete and xp_FileCopy: the size of a file (by name or by handle),
// deleting and copying files.
#include <cstdint>
#include <cstring>

#include "platform/windows.h"
#include "runtime/context.h"
#include "runtime/data_kind.h"
#include "runtime/export.h"
#include "runtime/frame.h"
#include "runtime/param_checks.h"

namespace dunmarrow {
namespace {

uint64_t SizeOf(DWORD high, DWORD low) {
  return (static_cast<uint64_t>(high) << 32) | low;
}

// The size of the file a path names (its first match, wildcards included), or of the file
// open under a handle value. The whole 64-bit size is read: a file of 2 GiB or more does not
// fit the status and fails with the range failure, also beyond 4 GiB.
int FileSize(SRV_PROC* srvproc) {
  if (srv_rpcparams(srvproc) != 1) RaiseInvalidParams();
  TxpParamBuffer param;
  if (!ReadParam(srvproc, 1, param)) return -1;
  uint64_t size = 0;
  switch (OdsTypeKind(param.Type)) {
    case dkString: {
      CheckName(param, "the file name", 1);
      WIN32_FIND_DATAA data;
      HANDLE search = FindFirstFileA(reinterpret_cast<LPCSTR>(param.Data), &data);
      if (search == INVALID_HANDLE_VALUE) RaiseOsError();
      FindClose(search);
      size = SizeOf(data.nFileSizeHigh, data.nFileSizeLow);
      break;
    }
    case dkWideString: {
      CheckName(param, "the file name", 1);
      WIN32_FIND_DATAW data;
      HANDLE search = FindFirstFileW(reinterpret_cast<LPCWSTR>(param.Data), &data);
      if (search == INVALID_HANDLE_VALUE) RaiseOsError();
      FindClose(search);
      size = SizeOf(data.nFileSizeHigh, data.nFileSizeLow);
      break;
    }
    case dkInteger: {
      // A handle value: the first four bytes, the zero fill completing a shorter integer.
      // Sign-extended to the width of a HANDLE: a 64-bit process's kernel handles have 32
      // significant bits and are sign-extended (INVALID_HANDLE_VALUE stays -1).
      int32_t value;
      std::memcpy(&value, param.Data, sizeof value);
      HANDLE file = reinterpret_cast<HANDLE>(static_cast<intptr_t>(value));
      BY_HANDLE_FILE_INFORMATION info;
      if (!GetFileInformationByHandle(file, &info)) RaiseOsError();
      size = SizeOf(info.nFileSizeHigh, info.nFileSizeLow);
      break;
    }
    default:
      RaiseInvalidParams();
  }
  return CheckedNarrow<int32_t>(size);
}

int FileDelete(SRV_PROC* srvproc) {
  if (srv_rpcparams(srvproc) != 1) RaiseInvalidParams();
  TxpParamBuffer param;
  if (ReadParam(srvproc, 1, param)) {
    switch (OdsTypeKind(param.Type)) {
      case dkString:
        CheckName(param, "the file name", 1);
        if (!DeleteFileA(reinterpret_cast<LPCSTR>(param.Data))) RaiseOsError();
        break;
      case dkWideString:
        CheckName(param, "the file name", 1);
        if (!DeleteFileW(reinterpret_cast<LPCWSTR>(param.Data))) RaiseOsError();
        break;
      default:
        RaiseInvalidParams();
    }
  }
  return 1;
}

bool IsText(const TxpItem* item) {
  return item->Kind() == dkString || item->Kind() == dkWideString;
}

// Copies parameter 1 to parameter 2. The target is replaced only when exactly three
// parameters come and the lowest byte of the third is 1.
int FileCopy(TXProc& proc) {
  TxpParams& params = proc.Params();
  if (params.Count() < 2 || !IsText(params.Items(0)) || !IsText(params.Items(1))) {
    RaiseInvalidParams();
  }
  CheckName(*params.Items(0), "the source", 1);
  CheckName(*params.Items(1), "the target", 2);
  BOOL fail_if_exists = TRUE;
  if (params.Count() == 3 && (IntegerOf(*params.Items(2)) & 0xFF) == 1) fail_if_exists = FALSE;
  std::string target = params.Items(1)->AsString();
  std::string source = params.Items(0)->AsString();
  if (!CopyFileA(source.c_str(), target.c_str(), fail_if_exists)) RaiseOsError();
  return 1;
}

}  // namespace
}  // namespace dunmarrow

using namespace dunmarrow;

XP_PROCEDURE(xp_FileSize) {
  return RunDirectFrame(srvproc, "xp_FileSize: ", [&] { return FileSize(srvproc); });
}

XP_PROCEDURE(xp_FileDelete) {
  return RunDirectFrame(srvproc, "xp_FileDelete: ", [&] { return FileDelete(srvproc); });
}

XP_PROCEDURE(xp_FileCopy) {
  return RunContextFrame(srvproc, "xp_FileCopy: ", FileCopy);
}
