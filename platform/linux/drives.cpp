#include "platform/linux/drives.h"

#include <sys/stat.h>

#include <cstdlib>
#include <mutex>

#include "platform/linux/codepage.h"
#include "platform/linux/errors.h"
#include "platform/linux/files.h"

namespace winplatform {

namespace {
std::mutex root_mutex;
std::string drive_root;  // empty: not chosen yet, the default applies
}  // namespace

void SetDriveRoot(const std::string& directory) {
  std::lock_guard<std::mutex> lock(root_mutex);
  drive_root = directory;
  while (drive_root.size() > 1 && drive_root.back() == '/') drive_root.pop_back();
}

std::string DefaultDriveRoot() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  if (data_home && *data_home) return std::string(data_home) + "/dunmarrow/drives";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share/dunmarrow/drives";
}

std::string GetDriveRoot() {
  {
    std::lock_guard<std::mutex> lock(root_mutex);
    if (!drive_root.empty()) return drive_root;
  }
  return DefaultDriveRoot();
}

std::string MapPath(std::string_view path) {
  bool has_drive = path.size() >= 2 && path[1] == ':' &&
                   ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'));
  if (!has_drive) return std::string(path);
  char letter = static_cast<char>(path[0] | 0x20);
  std::string mapped = GetDriveRoot() + "/" + letter;
  std::string_view rest = path.substr(2);
  if (!rest.empty() && rest[0] != '\\' && rest[0] != '/') mapped += '/';
  for (char c : rest) mapped += (c == '\\') ? '/' : c;
  return mapped;
}

std::string WidePathToUtf8(const WCHAR* path) {
  if (!path || !*path) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, path, -1, out.data(), size, nullptr, nullptr);
  out.pop_back();  // the terminator
  return out;
}

}  // namespace winplatform

extern "C" {

DWORD GetLogicalDrives() {
  std::string root = winplatform::GetDriveRoot();
  DWORD mask = 0;
  for (int letter = 0; letter < 26; ++letter) {
    std::string drive = root + "/" + static_cast<char>('a' + letter);
    struct stat st;
    if (stat(drive.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) mask |= 1u << letter;
  }
  // No drive at all is no answer: Windows always has its system drive.
  if (mask == 0) SetLastError(ERROR_PATH_NOT_FOUND);
  return mask;
}

}  // extern "C"
