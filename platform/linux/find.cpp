// FindFirstFileA/W and FindClose: the first directory entry that matches a path.
#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/drives.h"
#include "platform/linux/errno_map.h"
#include "platform/linux/errors.h"
#include "platform/linux/file_table.h"
#include "platform/linux/files.h"
#include "platform/linux/text.h"

using namespace winplatform;

namespace {

struct Entry {
  std::string name;  // UTF-8
  std::u16string folded;
  struct stat st;
};

// Open searches. A search handle is a value no descriptor can have, so that it is never
// mistaken for a file handle.
constexpr uintptr_t kSearchHandleBase = 0x4649'4E44'0000'0000ull;
std::mutex search_mutex;
std::set<uintptr_t> open_searches;
uintptr_t next_search = 1;

HANDLE NewSearchHandle() {
  std::lock_guard<std::mutex> lock(search_mutex);
  uintptr_t value = kSearchHandleBase + next_search++;
  open_searches.insert(value);
  return reinterpret_cast<HANDLE>(value);
}

bool HasWildcards(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

// Windows matches * and ? unit by unit, without regard to case. A pattern ending in ".*"
// also matches a name without that extension, so "*.*" matches names without a dot.
bool MatchFrom(const std::u16string& pattern, size_t p, const std::u16string& name, size_t n) {
  size_t star_p = std::u16string::npos, star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star_p = p++;
      star_n = n;
    } else if (star_p != std::u16string::npos) {
      p = star_p + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool WildcardMatch(const std::u16string& pattern, const std::u16string& name) {
  if (MatchFrom(pattern, 0, name, 0)) return true;
  size_t n = pattern.size();
  if (n >= 2 && pattern[n - 2] == u'.' && pattern[n - 1] == u'*') {
    return MatchFrom(pattern.substr(0, n - 2), 0, name, 0);
  }
  return false;
}

// Whether the Windows path names an element directly in a drive's root ("c:\*").
bool IsInDriveRoot(std::string_view path) {
  if (path.size() < 3 || path[1] != ':' || (path[2] != '\\' && path[2] != '/')) return false;
  return path.substr(3).find_first_of("\\/") == std::string_view::npos;
}

// The error of a path that could not be reached: a file used as a directory on the way is
// ERROR_DIRECTORY when it is the directory searched, a missing file ERROR_FILE_NOT_FOUND and
// a missing directory ERROR_PATH_NOT_FOUND.
void SetSearchError(int error, const std::string& host, const std::string& directory) {
  if (error == ENOTDIR) {
    struct stat st;
    SetLastError(stat(directory.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) ? ERROR_DIRECTORY
                                                                           : ERROR_PATH_NOT_FOUND);
    return;
  }
  SetLastErrorFromErrno(error, host);
}

// The first entry for the path, or false with the last error set.
bool FindFirst(std::string_view windows_path, Entry* first) {
  if (windows_path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  // Characters no name can hold: on the way they make the path invalid; in the last element
  // they are part of the pattern, which then matches no name.
  size_t last_separator = windows_path.find_last_of("\\/");
  std::string_view way =
      last_separator == std::string_view::npos ? "" : windows_path.substr(0, last_separator);
  if (way.find_first_of("<>|\"") != std::string_view::npos) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  bool unmatchable = windows_path.find_first_of("<>|\"") != std::string_view::npos;
  if (IsUncPath(windows_path)) {
    SetLastError(ERROR_BAD_NETPATH);
    return false;
  }
  std::string host;
  if (!MapAllowedPath(windows_path, &host)) return false;
  // A trailing separator, a drive root among them, never names an entry.
  if (host.back() == '/') {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  size_t slash = host.rfind('/');
  std::string directory = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : host.substr(0, slash);
  std::string last = slash == std::string::npos ? host : host.substr(slash + 1);
  if (HasWildcards(directory)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  if (unmatchable) {
    struct stat st;
    if (stat(directory.c_str(), &st) != 0) {
      SetSearchError(errno, host, directory);
    } else {
      SetLastError(S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_DIRECTORY);
    }
    return false;
  }

  if (!HasWildcards(last)) {
    first->name = last;
    if (stat(host.c_str(), &first->st) != 0 && lstat(host.c_str(), &first->st) != 0) {
      SetSearchError(errno, host, directory);
      return false;
    }
    return true;
  }

  DIR* dir = opendir(directory.c_str());
  if (!dir) {
    int error = errno;
    if (error == ENOENT) {
      SetLastError(ERROR_PATH_NOT_FOUND);
    } else {
      SetSearchError(error, host, directory);
    }
    return false;
  }
  std::u16string pattern = FoldText(last);
  std::vector<Entry> entries;
  while (struct dirent* item = readdir(dir)) {
    std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    std::u16string folded = FoldText(name);
    if (!WildcardMatch(pattern, folded)) continue;
    entries.push_back(Entry{name, std::move(folded), {}});
  }
  closedir(dir);
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.folded != b.folded ? a.folded < b.folded : a.name < b.name;
  });
  // A listing starts with the directory itself and its parent, except in a drive's root.
  if (!IsInDriveRoot(windows_path)) {
    for (const char* dots : {"..", "."}) {
      std::u16string folded = FoldText(dots);
      if (WildcardMatch(pattern, folded)) entries.insert(entries.begin(), Entry{dots, folded, {}});
    }
  }
  for (Entry& entry : entries) {
    std::string path = directory + "/" + entry.name;
    if (stat(path.c_str(), &entry.st) == 0 || lstat(path.c_str(), &entry.st) == 0) {
      *first = std::move(entry);
      return true;
    }
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return false;
}

template <typename FindData>
void FillCommon(const Entry& entry, FindData* data) {
  std::memset(data, 0, sizeof *data);
  uint64_t size = S_ISREG(entry.st.st_mode) ? static_cast<uint64_t>(entry.st.st_size) : 0;
  data->dwFileAttributes = AttributesOf(entry.st);
  data->ftCreationTime = FileTimeOf(entry.st.st_mtim);
  data->ftLastAccessTime = FileTimeOf(entry.st.st_atim);
  data->ftLastWriteTime = FileTimeOf(entry.st.st_mtim);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size);
}

}  // namespace

extern "C" {

HANDLE FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data) {
  if (!path || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  Entry entry;
  if (!FindFirst(path, &entry)) return INVALID_HANDLE_VALUE;
  FillCommon(entry, data);
  // Host names are at most 255 bytes, so they always fit.
  size_t length = std::min(entry.name.size(), sizeof data->cFileName - 1);
  std::memcpy(data->cFileName, entry.name.data(), length);
  return NewSearchHandle();
}

HANDLE FindFirstFileW(LPCWSTR path, LPWIN32_FIND_DATAW data) {
  if (!path || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  Entry entry;
  if (!FindFirst(WidePathToUtf8(path), &entry)) return INVALID_HANDLE_VALUE;
  FillCommon(entry, data);
  std::u16string name = Utf8ToUtf16(entry.name);
  size_t length = std::min(name.size(), std::size(data->cFileName) - 1);
  std::copy_n(name.begin(), length, data->cFileName);
  return NewSearchHandle();
}

BOOL FindClose(HANDLE search) {
  std::lock_guard<std::mutex> lock(search_mutex);
  if (open_searches.erase(reinterpret_cast<uintptr_t>(search)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
