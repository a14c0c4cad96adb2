// Linux stand-ins: drive-letter paths mapped below the drive root, and GetLogicalDrives.
#include "platform/linux/drives.h"

#include <dirent.h>
#include <locale.h>
#include <sys/stat.h>
#include <wctype.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

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

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Code points of UTF-8 text, upper-cased as Windows compares names; an invalid byte stands
// for itself.
std::u32string FoldCase(std::string_view name) {
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  std::u32string out;
  for (size_t i = 0; i < name.size();) {
    auto byte = static_cast<unsigned char>(name[i]);
    size_t length = byte < 0xC0 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
    char32_t cp = length == 1 ? byte : byte & (0x7F >> length);
    if (i + length > name.size()) length = 1, cp = byte;
    for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (name[i + k] & 0x3F);
    i += length;
    if (cp < 0x80) {
      if (cp >= 'a' && cp <= 'z') cp -= 'a' - 'A';
    } else if (utf8) {
      cp = static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), utf8));
    }
    out.push_back(cp);
  }
  return out;
}

// The entry of a directory whose name equals `name` but for case; the first in byte order
// when there are several. Empty when there is none.
std::string FindInAnyCase(const std::string& directory, const std::string& name) {
  DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
  if (!dir) return std::string();
  std::u32string wanted = FoldCase(name);
  std::string found;
  while (const dirent* entry = readdir(dir)) {
    std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (FoldCase(candidate) == wanted && (found.empty() || candidate < found)) found = candidate;
  }
  closedir(dir);
  return found;
}

// The elements of a path as Windows reads them: either separator; "." dropped and ".." taking
// back the element before it, by name; an element followed by a separator losing one trailing
// dot; and, unless the path ends in a separator, the last element losing its trailing dots and
// spaces.
std::vector<std::string_view> PathElements(std::string_view rest, bool keep_leading_parents) {
  std::vector<std::string_view> elements;
  elements.reserve(8);  // most paths: one allocation
  bool ends_in_separator = false;
  size_t begin = 0;
  while (begin < rest.size()) {
    size_t end = begin;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    std::string_view element = rest.substr(begin, end - begin);
    bool followed_by_separator = end < rest.size();
    begin = end + 1;
    if (element.empty()) continue;
    ends_in_separator = followed_by_separator;
    if (element == ".") continue;
    if (element == "..") {
      if (!elements.empty() && elements.back() != "..") {
        elements.pop_back();
      } else if (keep_leading_parents) {
        elements.push_back(element);
      }
      continue;
    }
    if (followed_by_separator && element.back() == '.') element.remove_suffix(1);
    elements.push_back(element);
  }
  if (!ends_in_separator && !elements.empty() && elements.back() != "..") {
    std::string_view& last = elements.back();
    while (!last.empty() && (last.back() == '.' || last.back() == ' ')) last.remove_suffix(1);
    if (last.empty()) elements.pop_back();
  }
  return elements;
}

// The drive of the current directory as Windows would have it; a Linux process has none.
constexpr char kCurrentDrive = 'c';

}  // namespace

bool IsUncPath(std::string_view path) {
  return path.size() >= 2 && path[0] == '\\' && IsSeparator(path[1]);
}

bool IsDeviceName(std::string_view path) {
  size_t start = path.find_last_of("\\/:");
  std::string_view name = path.substr(start == std::string_view::npos ? 0 : start + 1);
  name = name.substr(0, name.find('.'));
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  std::string upper;
  for (char c : name) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  if (upper == "NUL" || upper == "CON" || upper == "AUX" || upper == "PRN") return true;
  return upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) &&
         upper[3] >= '1' && upper[3] <= '9';
}

std::string MapPath(std::string_view path, bool any_case) {
  bool has_drive = path.size() >= 2 && path[1] == ':' &&
                   ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'));
  std::string base;
  std::string_view rest = path;
  if (has_drive) {
    base = GetDriveRoot() + "/" + static_cast<char>(path[0] | 0x20);
    rest = path.substr(2);
  } else if (!path.empty() && path[0] == '\\') {
    base = GetDriveRoot() + "/" + kCurrentDrive;  // rooted on the current drive
  } else if (!path.empty() && path[0] == '/') {
    base = "";  // the file system's root: elements are joined as "/name"
  } else {
    base = ".";
  }
  bool relative = !has_drive && base == ".";
  bool trailing_separator = !rest.empty() && IsSeparator(rest.back());
  std::vector<std::string_view> elements = PathElements(rest, relative);

  std::string mapped = base;
  mapped.reserve(mapped.size() + rest.size() + 2);
  for (std::string_view element : elements) {
    mapped += '/';
    mapped += element;
  }
  if (mapped.empty()) mapped = "/";

  // Names match in any case, as on Windows: an element that is not there as written is looked
  // for in its directory. Only a path that is not found as written pays for the search.
  if (any_case && !elements.empty() && !Exists(mapped)) {
    std::string resolved = base;
    size_t i = 0;
    for (; i < elements.size(); ++i) {
      std::string element(elements[i]);
      std::string next = resolved + "/" + element;
      if (element != ".." && !Exists(next)) {
        std::string found = FindInAnyCase(resolved.empty() ? "/" : resolved, element);
        if (found.empty()) break;
        next = resolved + "/" + found;
      }
      resolved = next;
    }
    for (; i < elements.size(); ++i) {
      resolved += '/';
      resolved += elements[i];
    }
    mapped = resolved;
  }
  if (relative) mapped = mapped.size() > 2 ? mapped.substr(2) : ".";  // without the "./"
  if (trailing_separator && mapped.back() != '/') mapped += '/';
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
