// GetTempPathA/W and GetTempFileNameA: the temporary folder (TMPDIR, else /tmp) and unique
// temporary names made as Windows makes them.
#include "platform/linux/tempfiles.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/drives.h"
#include "platform/linux/errno_map.h"
#include "platform/linux/errors.h"
#include "platform/linux/file_table.h"
#include "platform/linux/text.h"

using namespace winplatform;

namespace {

std::string TempPath() {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string path = tmpdir && *tmpdir ? tmpdir : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

// The first three characters of the prefix; a character outside the basic plane counts as
// two, as in UTF-16, and is never split.
std::string PrefixOf(std::string_view prefix) {
  std::u16string wide = Utf8ToUtf16(prefix);
  size_t length = std::min<size_t>(wide.size(), 3);
  if (length == 3 && wide[2] >= 0xD800 && wide[2] <= 0xDBFF) length = 2;
  return Utf16ToUtf8(std::u16string_view(wide).substr(0, length));
}

bool IsDrivePath(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'));
}

}  // namespace

extern "C" {

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
  std::string path = TempPath();
  if (path.size() + 1 > size || !buffer) {
    if (buffer && size > 0) buffer[0] = '\0';
    return static_cast<DWORD>(path.size() + 1);
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

DWORD GetTempPathW(DWORD size, LPWSTR buffer) {
  std::u16string path = Utf8ToUtf16(TempPath());
  if (path.size() + 1 > size || !buffer) {
    if (buffer && size > 0) buffer[0] = u'\0';
    return static_cast<DWORD>(path.size() + 1);
  }
  std::copy(path.begin(), path.end(), buffer);
  buffer[path.size()] = u'\0';
  return static_cast<DWORD>(path.size());
}

UINT GetTempFileNameA(LPCSTR directory, LPCSTR prefix, UINT unique, LPSTR buffer) {
  if (!directory || !prefix || !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string dir = directory;
  if (HasInvalidNameCharacters(dir) || HasInvalidNameCharacters(prefix)) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  if (IsUncPath(dir)) {
    SetLastError(ERROR_BAD_NETPATH);
    return 0;
  }
  if (Utf8ToUtf16(dir).size() > MAX_PATH - 14) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return 0;
  }
  std::string base = dir;
  if (!base.empty() && base.back() != '\\' && base.back() != '/') {
    // Windows paths take a backslash, host paths (with slashes only) a slash.
    bool host_path = !IsDrivePath(dir) && dir.find('/') != std::string::npos &&
                     dir.find('\\') == std::string::npos;
    base += host_path ? '/' : '\\';
  }
  base += PrefixOf(prefix);
  // The longest name ("FFFF.TMP") must fit the caller's MAX_PATH buffer.
  if (base.size() + 8 + 1 > MAX_PATH) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return 0;
  }
  auto name_for = [&](unsigned number) {
    char tail[16];
    std::snprintf(tail, sizeof tail, "%X.TMP", number);
    return base + tail;
  };
  // The directory must exist, even when the number is given and nothing is created.
  std::string host_directory;
  if (!MapAllowedPath(dir.empty() ? "." : dir, &host_directory)) return 0;
  struct stat st;
  if (stat(host_directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_DIRECTORY);
    return 0;
  }
  if (unique != 0) {
    std::string name = name_for(unique & 0xFFFFu);
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return unique;
  }

  auto now = std::chrono::steady_clock::now().time_since_epoch();
  unsigned start = static_cast<unsigned>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count() & 0xFFFF);
  if (start == 0) start = 1;
  unsigned number = start;
  do {
    std::string name = name_for(number);
    std::string host;
    if (!MapAllowedPath(name, &host)) return 0;
    // Created exclusively: of two callers that pick the same number, one moves on.
    int fd = open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      std::memcpy(buffer, name.c_str(), name.size() + 1);
      return number;
    }
    if (errno != EEXIST) {
      SetLastErrorFromErrno(errno, host);
      return 0;
    }
    number = number == 0xFFFF ? 1 : number + 1;
  } while (number != start);
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}

}  // extern "C"
