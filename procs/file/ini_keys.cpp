// xp_IniWriteKey and xp_IniReadKey: single keys of INI files through the profile functions.
#include <cstdint>
#include <string>

#include "platform/windows.h"
#include "runtime/context.h"
#include "runtime/export.h"
#include "runtime/frame.h"
#include "runtime/param_checks.h"

namespace dunmarrow {
namespace {

// Exactly count parameters, all text, checked in order. A NULL or empty parameter is an
// empty text, never an absent argument: no key or section is ever deleted or listed.
void CheckTextParams(TxpParams& params, int count) {
  if (params.Count() != count) RaiseInvalidParams();
  for (int i = 0; i < count; ++i) {
    TxpDataKind kind = params.Items(i)->Kind();
    if (kind != dkString && kind != dkWideString) RaiseInvalidParams();
  }
  // The fourth text is the value or the default: no NUL may cut it either.
  const char* const meanings[] = {"the file name", "the section", "the key",
                                  count == 4 ? "the value" : "the default"};
  for (int i = 0; i < 4; ++i) CheckName(*params.Items(i), meanings[i], i + 1);
}

// Refuses what the profile functions would write verbatim but no read could find again, or
// what would write other lines: a line break anywhere (it injects keys and sections), a "]" in
// the section (the header ends there), a "=" in the key (the name ends there) and a key that
// starts with ";" (a comment) or "[" (a header).
void CheckIniWrite(const std::string& section, const std::string& key, const std::string& value) {
  auto has_line_break = [](const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
  };
  if (has_line_break(section)) RaiseParamError("Line break in the section", 2);
  if (section.find(']') != std::string::npos) RaiseParamError("']' in the section", 2);
  if (has_line_break(key)) RaiseParamError("Line break in the key", 3);
  if (key.find('=') != std::string::npos) RaiseParamError("'=' in the key", 3);
  size_t first = key.find_first_not_of(" \t\v");
  if (first != std::string::npos && (key[first] == ';' || key[first] == '[')) {
    RaiseParamError("The key starts with ';' or '['", 3);
  }
  if (has_line_break(value)) RaiseParamError("Line break in the value", 4);
}

int IniWriteKey(TXProc& proc) {
  TxpParams& params = proc.Params();
  CheckTextParams(params, 4);
  std::string file_name = params.Items(0)->AsString();
  std::string value = params.Items(3)->AsString();
  std::string key = params.Items(2)->AsString();
  std::string section = params.Items(1)->AsString();
  CheckIniWrite(section, key, value);
  if (!WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file_name.c_str())) {
    RaiseOsError();
  }
  return 1;
}

// The value (or the default) goes into parameter 5; the status is its length.
int IniReadKey(TXProc& proc) {
  constexpr DWORD kBufferSize = 2048;
  char buffer[kBufferSize] = {};
  TxpParams& params = proc.Params();
  CheckTextParams(params, 5);
  std::string file_name = params.Items(0)->AsString();
  std::string fallback = params.Items(3)->AsString();
  std::string key = params.Items(2)->AsString();
  std::string section = params.Items(1)->AsString();
  SetLastError(ERROR_SUCCESS);
  DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer,
                                          kBufferSize, file_name.c_str());
  // The default stands for a missing file, section or key; a file that is there but is no
  // file to read (a FIFO, a device, one too large, a network path) is a failure.
  DWORD error = GetLastError();
  if (error == ERROR_OPEN_FAILED || error == ERROR_FILE_TOO_LARGE || error == ERROR_BAD_NETPATH) {
    RaiseOsError();
  }
  params.Items(4)->SetAsString(buffer);
  return CheckedNarrow<int32_t>(length);
}

}  // namespace
}  // namespace dunmarrow

using namespace dunmarrow;

XP_PROCEDURE(xp_IniWriteKey) {
  return RunContextFrame(srvproc, "xp_IniWriteKey: ", IniWriteKey);
}

XP_PROCEDURE(xp_IniReadKey) {
  return RunContextFrame(srvproc, "xp_IniReadKey: ", IniReadKey);
}
