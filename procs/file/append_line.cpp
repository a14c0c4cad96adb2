// xp_FileAppendLine: appends a value and a line end to a file, creating the file if needed.
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/windows.h"
#include "runtime/data_kind.h"
#include "runtime/export.h"
#include "runtime/frame.h"
#include "runtime/param_checks.h"

namespace dunmarrow {
namespace {

// A UTF-16 file name in the ANSI code page, the form every file call here takes. The size is
// asked first, so no character is cut.
std::string AnsiFileName(const WCHAR* name) {
  if (!name[0]) return std::string();
  int size = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) RaiseOsError();
  std::string out(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, name, -1, out.data(), size, nullptr, nullptr) != size) {
    RaiseOsError();
  }
  out.pop_back();  // the terminator
  return out;
}

// Opens an existing file so that others may read but not write it, or creates a new one
// that nobody else may open. A file that appears between the two steps is opened, never
// replaced, so no line that another call appended is lost.
HANDLE OpenForAppend(const char* name) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_NOT_FOUND) return file;
    file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

class FileCloser {
 public:
  explicit FileCloser(HANDLE file) : file_(file) {}
  ~FileCloser() { CloseHandle(file_); }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;

 private:
  HANDLE file_;
};

void AppendFileLine(SRV_PROC* srvproc) {
  int count = srv_rpcparams(srvproc);
  if (count != 2 && count != 3) RaiseInvalidParams();
  TxpParamBuffer name, value;
  if (!ReadParam(srvproc, 1, name) || !ReadParam(srvproc, 2, value)) RaiseInvalidParams();
  TxpDataKind name_kind = OdsTypeKind(name.Type);
  TxpDataKind value_kind = OdsTypeKind(value.Type);
  if (name_kind != dkString && name_kind != dkWideString) RaiseInvalidParams();
  if (value_kind != dkString && value_kind != dkBytes && value_kind != dkWideString) {
    RaiseInvalidParams();
  }
  // The line-feed-only switch is read before the file is touched, so that a third parameter
  // that cannot be read leaves the file as it was.
  uint32_t lf_only = 0;
  {
    TxpParamBuffer line_feed;
    if (ReadParam(srvproc, 3, line_feed)) {
      // A number is read by its value; any other kind by its first bytes, zero-filled beyond
      // ActualLen.
      int32_t number;
      if (line_feed.Null) {
        lf_only = 0;
      } else if (WholeNumberValue(line_feed.Type, line_feed.Data, line_feed.ActualLen, number)) {
        lf_only = number != 0;
      } else {
        std::memcpy(&lf_only, line_feed.Data, sizeof lf_only);
      }
    }
  }
  CheckName(name, "the file name", 1);
  if (value.ActualLen == 0) return;

  // The value exactly as it came, then the line end in the value's own width.
  static const uint8_t kWideCrLf[] = {0x0D, 0x00, 0x0A, 0x00};
  static const uint8_t kWideLf[] = {0x0A, 0x00};
  static const uint8_t kCrLf[] = {0x0D, 0x0A};
  static const uint8_t kLf[] = {0x0A};
  const uint8_t* line_end;
  DWORD line_end_size;
  if (value_kind == dkWideString) {
    line_end = lf_only ? kWideLf : kWideCrLf;
    line_end_size = lf_only ? sizeof kWideLf : sizeof kWideCrLf;
  } else {
    line_end = lf_only ? kLf : kCrLf;
    line_end_size = lf_only ? sizeof kLf : sizeof kCrLf;
  }
  uint8_t line[kParamDataSize + 4];
  std::memcpy(line, value.Data, value.ActualLen);
  std::memcpy(line + value.ActualLen, line_end, line_end_size);
  DWORD line_size = value.ActualLen + line_end_size;

  std::string file_name = name_kind == dkWideString
                              ? AnsiFileName(reinterpret_cast<const WCHAR*>(name.Data))
                              : std::string(reinterpret_cast<const char*>(name.Data));
  // A file that can be neither opened nor created (a bad name, a missing directory, no
  // access, another writer holding it) is the range failure.
  HANDLE file = OpenForAppend(file_name.c_str());
  if (file == INVALID_HANDLE_VALUE) RaiseRangeError();
  FileCloser closer(file);
  // The end is found with its high part, so that a file beyond 4 GiB is appended to and
  // never written over from its start.
  LONG end_high = 0;
  DWORD end_low = SetFilePointer(file, 0, &end_high, FILE_END);
  if (end_low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) RaiseOsError();
  DWORD written = 0;
  if (!WriteFile(file, line, line_size, &written, nullptr)) {
    // Take back a part of the line, so that the file never ends in half a line.
    DWORD error = GetLastError();
    SetFilePointer(file, static_cast<LONG>(end_low), &end_high, FILE_BEGIN);
    SetEndOfFile(file);
    SetLastError(error);
    RaiseOsError();
  }
}

}  // namespace
}  // namespace dunmarrow

using namespace dunmarrow;

XP_PROCEDURE(xp_FileAppendLine) {
  return RunDirectFrame(srvproc, "xp_FileAppendLine: ", [&] {
    AppendFileLine(srvproc);
    return 1;
  });
}
