// The checks every file function makes on a Windows path before touching anything: the
// characters Windows refuses, blank paths, the ANSI length limit, and the translation to a
// host path inside the allowed roots.
#include <array>
#include <string>
#include <string_view>

#include "platform/linux/drives.h"
#include "platform/linux/errors.h"
#include "platform/linux/file_table.h"
#include "platform/linux/policy.h"

namespace winplatform {

namespace {

// The bytes Windows refuses in a name, as a table: every path of every file call is scanned.
constexpr std::array<bool, 256> kInvalidNameByte = [] {
  std::array<bool, 256> table{};
  for (int c = 1; c < 0x20; ++c) table[c] = true;
  for (unsigned char c : {'*', '?', '<', '>', '|', '"'}) table[c] = true;
  return table;
}();

}  // namespace

bool HasInvalidNameCharacters(std::string_view path) {
  for (char c : path) {
    if (kInvalidNameByte[static_cast<unsigned char>(c)]) return true;
  }
  // "...\" loses one dot as an element before a separator and becomes a ".." that no file
  // system accepts as a name.
  for (size_t at = path.find("..."); at != std::string_view::npos; at = path.find("...", at + 1)) {
    bool starts = at == 0 || path[at - 1] == '\\' || path[at - 1] == '/' || path[at - 1] == ':';
    bool ends = at + 3 < path.size() && (path[at + 3] == '\\' || path[at + 3] == '/');
    if (starts && ends) return true;
  }
  return false;
}

bool IsBlankPath(std::string_view path) {
  return path.find_first_not_of(' ') == std::string_view::npos;
}

bool AnsiPathTooLong(std::string_view path) {
  // UTF-16 units: one per character, two for one of four bytes; never more than the bytes.
  if (path.size() <= MAX_PATH) return false;
  size_t units = 0;
  for (char c : path) {
    auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;
    if (byte >= 0xF0) ++units;
  }
  return units > MAX_PATH;
}
bool HostPathOf(std::string_view windows_path, std::string* host, bool any_case) {
  if (IsBlankPath(windows_path)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (IsUncPath(windows_path)) {
    SetLastError(ERROR_BAD_NETPATH);
    return false;
  }
  if (HasInvalidNameCharacters(windows_path)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  return MapAllowedPath(windows_path, host, any_case);
}

bool MapAllowedPath(std::string_view windows_path, std::string* host, bool any_case) {
  std::string mapped = MapPath(windows_path, any_case);
  bool allowed = IsAllowedHostPath(mapped);
  // A path not there as written may be there in another case, inside a root.
  if (!allowed && !any_case) {
    std::string other = MapPath(windows_path, true);
    if (other != mapped) {
      mapped = std::move(other);
      allowed = IsAllowedHostPath(mapped);
    }
  }
  if (!allowed) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  *host = std::move(mapped);
  return true;
}
}  // namespace winplatform
