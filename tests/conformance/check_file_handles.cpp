// CreateFileA, SetFilePointer, WriteFile, CloseHandle and GetFileInformationByHandle: the
// share-mode conflicts between two opens of one file in this process (every pair of access
// and share mode the procedures use, and the classes around them), the dispositions, moving
// the file pointer and writing at it, and the errors of handles that are closed or lack the
// access asked for.
#include <fstream>
#include <iterator>
#include <string>

#include "tests/conformance/conformance.h"

using namespace conformance;

namespace {

const char kNoHighPart[] =
    "Wine returns the low part of a position beyond 32 bits when no high part is asked for; "
    "Windows fails";
const char kRoot[] =
    "Wine, run as root here, opens a file without write permission for writing; Windows "
    "refuses a read-only file with ERROR_ACCESS_DENIED";
const char kTruncateForReading[] =
    "Wine truncates a file opened for reading with TRUNCATE_EXISTING; Windows requires "
    "GENERIC_WRITE";

struct Mode {
  const char* name;
  DWORD value;
};

const Mode kAccess[] = {{"0", 0},
                        {"R", GENERIC_READ},
                        {"W", GENERIC_WRITE},
                        {"RW", GENERIC_READ | GENERIC_WRITE},
                        {"D", DELETE}};
const Mode kShare[] = {{"none", 0},
                       {"r", FILE_SHARE_READ},
                       {"w", FILE_SHARE_WRITE},
                       {"rw", FILE_SHARE_READ | FILE_SHARE_WRITE},
                       {"rwd", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}};

std::string Bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return in ? Quote(bytes) : "missing";
}

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

std::string Opened(HANDLE handle, const std::string& error) {
  return handle == INVALID_HANDLE_VALUE ? "INVALID_HANDLE_VALUE " + error : "a handle " + error;
}

std::string Pointer(HANDLE file, LONG distance, LONG* high, DWORD method) {
  ResetLastError();
  DWORD low = SetFilePointer(file, distance, high, method);
  std::string error = LastErrorText();
  std::string out = low == INVALID_SET_FILE_POINTER ? "INVALID_SET_FILE_POINTER" : Hex(low);
  if (high) out += " high " + Hex(static_cast<DWORD>(*high));
  return out + " " + error;
}

std::string Write(HANDLE file, const std::string& bytes) {
  DWORD written = 0xEEEEu;
  ResetLastError();
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  std::string error = LastErrorText();
  return std::string(ok ? "TRUE" : "FALSE") + " written " + std::to_string(written) + " " + error;
}

std::string Info(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  ResetLastError();
  BOOL ok = GetFileInformationByHandle(file, &info);
  std::string error = LastErrorText();
  if (!ok) return "FALSE " + error;
  return "TRUE attributes " + Hex(info.dwFileAttributes & ~0x20u) + " size " +
         std::to_string((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow) +
         " links " + std::to_string(info.nNumberOfLinks);
}

}  // namespace

void RunChecks(const Workspace& ws) {
  const std::string shared = ws.dir + "\\shared.txt";
  std::ofstream(ws.Host(shared), std::ios::binary) << "shared";

  // Two opens of one file: whether the second succeeds, for every access and share mode of
  // the first and of the second.
  for (const Mode& first_access : kAccess) {
    for (const Mode& first_share : kShare) {
      HANDLE first = Open(shared, first_access.value, first_share.value, OPEN_EXISTING);
      std::string line = std::string(first_access.name) + "/" + first_share.name + " then";
      if (first == INVALID_HANDLE_VALUE) {
        Check(line, "first open failed " + LastErrorText());
        continue;
      }
      std::string results;
      for (const Mode& second_access : kAccess) {
        for (const Mode& second_share : kShare) {
          ResetLastError();
          HANDLE second = Open(shared, second_access.value, second_share.value, OPEN_EXISTING);
          std::string error = LastErrorText();
          results += " ";
          results += second_access.name;
          results += "/";
          results += second_share.name;
          results += second == INVALID_HANDLE_VALUE ? "=" + error.substr(6) : "=ok";
          if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
        }
      }
      CloseHandle(first);
      Check(line, results);
    }
  }

  // The opens of the line-appending procedure: an existing file for reading and writing,
  // sharing reads; a new file sharing nothing. A second append meets a sharing violation.
  const std::string log = ws.dir + "\\log.txt";
  ResetLastError();
  HANDLE missing = Open(log, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  Check("OPEN_EXISTING of a missing file", Opened(missing, LastErrorText()));
  ResetLastError();
  HANDLE created = Open(log, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  Check("CREATE_NEW of a missing file", Opened(created, LastErrorText()));
  ResetLastError();
  HANDLE again = Open(log, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  Check("CREATE_NEW of the file just made", Opened(again, LastErrorText()));
  ResetLastError();
  HANDLE blocked = Open(log, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  Check("OPEN_EXISTING while it is open sharing nothing", Opened(blocked, LastErrorText()));
  Check("GetFileInformationByHandle of the new file", Info(created));
  Check("SetFilePointer(0, NULL, FILE_END)", Pointer(created, 0, nullptr, FILE_END));
  Check("WriteFile(\"first\\r\\n\")", Write(created, "first\r\n"));
  Check("WriteFile(no bytes)", Write(created, ""));
  LONG high = 0;
  Check("SetFilePointer(0, &0, FILE_END)", Pointer(created, 0, &high, FILE_END));
  Check("SetFilePointer(2, NULL, FILE_BEGIN)", Pointer(created, 2, nullptr, FILE_BEGIN));
  Check("WriteFile(\"R\")", Write(created, "R"));
  Check("SetFilePointer(-1, NULL, FILE_CURRENT)", Pointer(created, -1, nullptr, FILE_CURRENT));
  Check("SetFilePointer(-100, NULL, FILE_CURRENT)", Pointer(created, -100, nullptr, FILE_CURRENT));
  high = -1;
  Check("SetFilePointer(-2, &-1, FILE_END)", Pointer(created, -2, &high, FILE_END));
  Check("SetFilePointer(10, NULL, FILE_END)", Pointer(created, 10, nullptr, FILE_END));
  Check("WriteFile(\"gap\") past the end", Write(created, "gap"));
  Check("GetFileInformationByHandle after writing", Info(created));
  high = 1;
  Check("SetFilePointer(0, &1, FILE_BEGIN)", Pointer(created, 0, &high, FILE_BEGIN));
  WineDiffers(kNoHighPart, "SetFilePointer(0, NULL, FILE_CURRENT) at 4 GiB",
              Pointer(created, 0, nullptr, FILE_CURRENT));
  Check("SetFilePointer(0, NULL, 3)", Pointer(created, 0, nullptr, 3));
  ResetLastError();
  BOOL closed = CloseHandle(created);
  Check("CloseHandle", std::string(closed ? "TRUE " : "FALSE ") + LastErrorText());
  Check("  the bytes", Bytes(ws.Host(log)));

  // The file now exists: the appending procedure's first open succeeds and a second one,
  // with the same modes, fails.
  ResetLastError();
  HANDLE append = Open(log, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  Check("OPEN_EXISTING of the file", Opened(append, LastErrorText()));
  ResetLastError();
  HANDLE second = Open(log, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  Check("the same open again", Opened(second, LastErrorText()));
  ResetLastError();
  HANDLE reader = Open(log, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  Check("a reader sharing reads and writes", Opened(reader, LastErrorText()));
  Check("  WriteFile through the reader", Write(reader, "x"));
  Check("  GetFileInformationByHandle of the reader", Info(reader));
  CloseHandle(reader);
  high = 0;
  Check("SetFilePointer(0, &0, FILE_END)", Pointer(append, 0, &high, FILE_END));
  Check("WriteFile(\"second\\r\\n\")", Write(append, "second\r\n"));
  CloseHandle(append);
  Check("  the bytes", Bytes(ws.Host(log)));

  // Dispositions of an existing file, and the last error they leave.
  for (const auto& [name, disposition] : {std::pair<const char*, DWORD>{"OPEN_ALWAYS", OPEN_ALWAYS},
                                          {"CREATE_ALWAYS", CREATE_ALWAYS},
                                          {"TRUNCATE_EXISTING", TRUNCATE_EXISTING},
                                          {"OPEN_EXISTING", OPEN_EXISTING},
                                          {"CREATE_NEW", CREATE_NEW}}) {
    std::ofstream(ws.Host(shared), std::ios::binary) << "shared";
    ResetLastError();
    HANDLE file = Open(shared, GENERIC_READ | GENERIC_WRITE, 0, disposition);
    std::string result = Opened(file, LastErrorText());
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    Check(std::string(name) + " of an existing file", result + ", " + Bytes(ws.Host(shared)));
  }
  for (const auto& [name, disposition] : {std::pair<const char*, DWORD>{"OPEN_ALWAYS", OPEN_ALWAYS},
                                          {"CREATE_ALWAYS", CREATE_ALWAYS},
                                          {"TRUNCATE_EXISTING", TRUNCATE_EXISTING}}) {
    std::string path = ws.dir + "\\new-" + name;
    ResetLastError();
    HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE, 0, disposition);
    std::string result = Opened(file, LastErrorText());
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    Check(std::string(name) + " of a missing file", result + ", " + Bytes(ws.Host(path)));
  }

  // Opens that fail: missing directories, directories, read-only files, bad names.
  std::filesystem::create_directory(ws.Host(ws.dir + "\\dir"));
  std::ofstream(ws.Host(ws.dir + "\\readonly.txt")) << "r";
  std::filesystem::permissions(ws.Host(ws.dir + "\\readonly.txt"),
                               std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  for (const auto& [name, access, disposition] :
       {std::tuple<const char*, DWORD, DWORD>{"missing\\log.txt", GENERIC_WRITE, OPEN_ALWAYS},
        {"missing\\log.txt", GENERIC_READ, OPEN_EXISTING},
        {"dir", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS},
        {"dir", GENERIC_READ | GENERIC_WRITE, CREATE_NEW},
        {"readonly.txt", GENERIC_READ, OPEN_EXISTING},
        {"log.txt\\x", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS},
        {"a*b.txt", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS},
        {"a?b.txt", GENERIC_READ, OPEN_EXISTING},
        {"a|b.txt", GENERIC_READ | GENERIC_WRITE, CREATE_NEW},
        {"log.txt", GENERIC_READ, 0},
        {"log.txt", GENERIC_READ, 6}}) {
    std::string path = ws.dir + "\\" + name;
    ResetLastError();
    HANDLE file = Open(path, access, 0, disposition);
    std::string result = Opened(file, LastErrorText());
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    Check("CreateFileA(" + Quote(name) + ", " + Hex(access) + ", " + std::to_string(disposition) +
              ")",
          result);
  }
  ResetLastError();
  HANDLE read_only =
      Open(ws.dir + "\\readonly.txt", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
  WineDiffers(kRoot, "CreateFileA(\"readonly.txt\", 0xC0000000, 3)",
              Opened(read_only, LastErrorText()));
  if (read_only != INVALID_HANDLE_VALUE) CloseHandle(read_only);
  const std::string truncated = ws.dir + "\\truncated.txt";
  std::ofstream(ws.Host(truncated), std::ios::binary) << "bytes";
  ResetLastError();
  HANDLE truncating = Open(truncated, GENERIC_READ, 0, TRUNCATE_EXISTING);
  WineDiffers(kTruncateForReading, "CreateFileA(\"truncated.txt\", 0x80000000, 5)",
              Opened(truncating, LastErrorText()));
  if (truncating != INVALID_HANDLE_VALUE) CloseHandle(truncating);
  WineDiffers(kTruncateForReading, "  the bytes", Bytes(ws.Host(truncated)));
  ResetLastError();
  HANDLE empty = Open("", GENERIC_READ, 0, OPEN_EXISTING);
  Check("CreateFileA(\"\")", Opened(empty, LastErrorText()));

  // A handle that was closed.
  HANDLE closed_handle = Open(log, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
  CloseHandle(closed_handle);
  ResetLastError();
  closed = CloseHandle(closed_handle);
  Check("CloseHandle again", std::string(closed ? "TRUE " : "FALSE ") + LastErrorText());
  Check("WriteFile to a closed handle", Write(closed_handle, "x"));
  Check("SetFilePointer of a closed handle", Pointer(closed_handle, 0, nullptr, FILE_END));
  Check("GetFileInformationByHandle of a closed handle", Info(closed_handle));
  Check("GetFileInformationByHandle(INVALID_HANDLE_VALUE)", Info(INVALID_HANDLE_VALUE));
  Check("  the bytes", Bytes(ws.Host(log)));
}
