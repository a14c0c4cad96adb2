// xp_GetTempDir and xp_GetTempFile: the temporary directory and new, unique temporary files.
#include <algorithm>
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

bool IsText(const TxpItem* item) {
  return item->Kind() == dkString || item->Kind() == dkWideString;
}

// The text of an optional text parameter, or the empty text.
std::string OptionalText(TxpParams& params, int index) {
  if (params.Count() <= index) return std::string();
  TxpItem* item = params.Items(index);
  return IsText(item) && !item->IsNull() ? item->AsString() : std::string();
}

// The bytes 8-bit text takes in a text parameter of the item's own width.
uint64_t OutputBytes(const TxpItem& item, const char* text) {
  if (item.Kind() != dkWideString) return std::strlen(text);
  int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (units <= 0) RaiseOsError();
  return 2 * static_cast<uint64_t>(units - 1);
}

// Creates a new, empty file with a unique name in the given directory (or the temporary
// directory) and returns its name in parameter 1; the status is the number in the name.
int GetTempFile(TXProc& proc) {
  TxpParams& params = proc.Params();
  if (params.Count() < 1 || !IsText(params.Items(0)) || !params.Items(0)->IsOutput()) {
    RaiseInvalidParams();
  }
  for (int i = 1; i < 3 && i < params.Count(); ++i) {
    CheckName(*params.Items(i), i == 1 ? "the directory" : "the prefix", i + 1);
  }
  std::string directory = OptionalText(params, 1);
  if (directory.empty()) {
    char temp_path[MAX_PATH + 1] = {};
    DWORD length = GetTempPathA(MAX_PATH, temp_path);
    if (length == 0) RaiseOsError();
    // A larger result is the size the path would need: nothing was written.
    if (length >= MAX_PATH) RaiseRangeError();
    directory = temp_path;
  }
  std::string prefix = OptionalText(params, 2);
  // The longest name the call can give is the one with the number FFFF, which a given number
  // makes without creating anything: the file is created only when its name fits the output.
  char name[MAX_PATH + 1] = {};
  if (GetTempFileNameA(directory.c_str(), prefix.c_str(), 0xFFFF, name) == 0) RaiseOsError();
  CheckOutputRoom(*params.Items(0), OutputBytes(*params.Items(0), name), 1);
  UINT unique = GetTempFileNameA(directory.c_str(), prefix.c_str(), 0, name);
  if (unique == 0) RaiseOsError();
  params.Items(0)->SetAsString(name);
  return CheckedNarrow<int32_t>(unique);
}

}  // namespace
}  // namespace dunmarrow

using namespace dunmarrow;

XP_PROCEDURE(xp_GetTempDir) {
  return RunDirectFrame(srvproc, "xp_GetTempDir: ", [&] { return GetTempDir(srvproc); });
}

XP_PROCEDURE(xp_GetTempFile) {
  return RunContextFrame(srvproc, "xp_GetTempFile: ", GetTempFile);
}
