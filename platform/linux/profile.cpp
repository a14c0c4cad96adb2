// GetPrivateProfileStringA and WritePrivateProfileStringA on INI files: lines split and
// matched as Windows does, writes made in place under a lock on the file.
#include "platform/linux/profile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/linux/errno_map.h"
#include "platform/linux/errors.h"
#include "platform/linux/file_table.h"
#include "platform/linux/files.h"
#include "platform/linux/text.h"

using namespace winplatform;

namespace {

// One lock for all profile calls of the process, as Windows has.
std::mutex profile_mutex;

// Between processes: a lock on a byte of the file beyond its data and beyond the bytes of
// the share modes (file_table.h), shared while reading, exclusive while editing.
constexpr off_t kProfileLockByte = 0x7FFFFFFFFFFFFF10;

bool LockProfile(int fd, short type) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = kProfileLockByte;
  lock.l_len = 1;
  int result;
  do {
    result = fcntl(fd, F_OFD_SETLKW, &lock);
  } while (result != 0 && errno == EINTR);
  return result == 0 || errno == EINVAL || errno == ENOLCK || errno == EOPNOTSUPP;
}

// ---- The text of a profile file: 8-bit units or UTF-16 units --------------------------

template <typename Unit>
using Units = std::basic_string<Unit>;

template <typename Unit>
bool IsBlank(Unit c) {
  return c == ' ' || c == '\t' || c == '\v';
}

struct Line {
  enum Kind { kBlank, kComment, kSection, kKey };
  Kind kind = kBlank;
  size_t start = 0, end = 0, next = 0;  // the text, its end before the line break, the next line
  size_t name_start = 0, name_end = 0;  // the section name, or the key name
  bool has_value = false;               // a key line with "="
  size_t value_start = 0, value_end = 0;
};

template <typename Unit>
void Trim(const Units<Unit>& text, size_t* start, size_t* end) {
  while (*start < *end && IsBlank(text[*start])) ++*start;
  while (*end > *start && IsBlank(text[*end - 1])) --*end;
}

// Lines end with CR LF, LF or CR.
template <typename Unit>
std::vector<Line> SplitLines(const Units<Unit>& text) {
  std::vector<Line> lines;
  size_t i = 0, n = text.size();
  while (i < n) {
    Line line;
    line.start = i;
    while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
    line.end = i;
    if (i < n && text[i] == '\r') {
      ++i;
      if (i < n && text[i] == '\n') ++i;
    } else if (i < n) {
      ++i;  // LF
    }
    line.next = i;

    size_t first = line.start, last = line.end;
    Trim(text, &first, &last);
    if (first == last) {
      line.kind = Line::kBlank;
    } else if (text[first] == ';') {
      line.kind = Line::kComment;
    } else if (text[first] == '[') {
      // The name ends at the first "]"; the "]" is optional and what follows it is ignored.
      line.kind = Line::kSection;
      size_t name_end = first + 1;
      while (name_end < last && text[name_end] != ']') ++name_end;
      line.name_start = first + 1;
      line.name_end = name_end;
      Trim(text, &line.name_start, &line.name_end);
    } else {
      line.kind = Line::kKey;
      size_t equals = first;
      while (equals < last && text[equals] != '=') ++equals;
      line.name_start = first;
      line.name_end = equals;
      Trim(text, &line.name_start, &line.name_end);
      if (equals < last) {
        line.has_value = true;
        line.value_start = equals + 1;
        line.value_end = last;
        Trim(text, &line.value_start, &line.value_end);
      }
    }
    lines.push_back(line);
  }
  return lines;
}

std::u16string Folded(const std::string& text, size_t start, size_t end) {
  return FoldText(std::string_view(text).substr(start, end - start));
}

std::u16string Folded(const std::u16string& text, size_t start, size_t end) {
  return FoldText(std::u16string_view(text).substr(start, end - start));
}

// The arguments in the file's own units.
Units<char> FromAnsi(const std::string& text, char) {
  return text;
}
Units<char16_t> FromAnsi(const std::string& text, char16_t) {
  return Utf8ToUtf16(text);
}
std::string ToAnsi(const Units<char>& text) {
  return text;
}
std::string ToAnsi(const Units<char16_t>& text) {
  return Utf16ToUtf8(text);
}

// The section and key arguments lose their surrounding spaces (spaces only).
std::string TrimSpaces(const char* text) {
  std::string_view view(text);
  size_t first = view.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::string();
  size_t last = view.find_last_not_of(' ');
  return std::string(view.substr(first, last - first + 1));
}

struct Place {
  size_t section = SIZE_MAX;   // index of the first header of the section, or SIZE_MAX
  size_t key = SIZE_MAX;       // index of the first key line of that name in it, or SIZE_MAX
  size_t last_key = SIZE_MAX;  // index of the section's last key line, or SIZE_MAX
};

// Only the first section of a name is searched, and the first key of a name in it wins.
template <typename Unit>
Place Locate(const Units<Unit>& text, const std::vector<Line>& lines, const std::string& section,
             const std::string& key) {
  std::u16string wanted_section = FoldText(section);
  std::u16string wanted_key = FoldText(key);
  Place place;
  for (size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (place.section == SIZE_MAX) {
      if (line.kind == Line::kSection &&
          Folded(text, line.name_start, line.name_end) == wanted_section) {
        place.section = i;
      }
      continue;
    }
    if (line.kind == Line::kSection) break;
    if (line.kind != Line::kKey) continue;
    place.last_key = i;
    if (place.key == SIZE_MAX && Folded(text, line.name_start, line.name_end) == wanted_key) {
      place.key = i;
    }
  }
  return place;
}

template <typename Unit>
std::optional<std::string> ReadValue(const Units<Unit>& text, const std::string& section,
                                     const std::string& key) {
  std::vector<Line> lines = SplitLines(text);
  Place place = Locate(text, lines, section, key);
  if (place.key == SIZE_MAX || !lines[place.key].has_value) return std::nullopt;
  const Line& line = lines[place.key];
  size_t start = line.value_start, end = line.value_end;
  // One outer pair of matching quotes is removed.
  if (end - start >= 2 && (text[start] == '"' || text[start] == '\'') &&
      text[end - 1] == text[start]) {
    ++start, --end;
  }
  return ToAnsi(text.substr(start, end - start));
}

template <typename Unit>
Units<Unit> Literal(const char* ascii) {
  Units<Unit> out;
  for (const char* c = ascii; *c; ++c) out.push_back(static_cast<Unit>(*c));
  return out;
}

// The text after setting key=value in the section.
template <typename Unit>
Units<Unit> EditText(const Units<Unit>& text, const std::string& section, const std::string& key,
                     const std::string& value) {
  std::vector<Line> lines = SplitLines(text);
  Place place = Locate(text, lines, section, key);
  const Units<Unit> crlf = Literal<Unit>("\r\n");
  Units<Unit> out = text;
  if (place.section == SIZE_MAX) {
    // A new section goes at the end, after a line break when the file lacks a final one. A
    // UTF-16 file holding only its mark counts as lacking one: Windows writes CR LF after the
    // mark before the header.
    bool mark_only = std::is_same_v<Unit, char16_t> && out.empty();
    if (mark_only || (!out.empty() && out.back() != '\r' && out.back() != '\n')) out += crlf;
    out += Literal<Unit>("[") + FromAnsi(section, Unit()) + Literal<Unit>("]") + crlf;
    out += FromAnsi(key, Unit()) + Literal<Unit>("=") + FromAnsi(value, Unit()) + crlf;
    return out;
  }
  if (place.key != SIZE_MAX) {
    // The key keeps the spelling of its name; its line is rewritten and ends in CR LF.
    const Line& line = lines[place.key];
    Units<Unit> replacement = text.substr(line.name_start, line.name_end - line.name_start) +
                              Literal<Unit>("=") + FromAnsi(value, Unit()) + crlf;
    return out.replace(line.start, line.next - line.start, replacement);
  }
  // A new key goes after the section's last key line, or after its header.
  const Line& after = lines[place.last_key != SIZE_MAX ? place.last_key : place.section];
  Units<Unit> insertion;
  if (after.next == after.end) insertion = crlf;  // the line has no line break
  insertion += FromAnsi(key, Unit()) + Literal<Unit>("=") + FromAnsi(value, Unit()) + crlf;
  return out.insert(after.next, insertion);
}

// ---- Bytes of the file -------------------------------------------------------------------

bool IsUtf16File(const std::string& bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xFE;
}

std::u16string DecodeUtf16(const std::string& bytes) {
  std::u16string units;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return units;
}

// The units back as bytes, with the mark and an odd last byte kept as they were.
std::string EncodeUtf16(const std::u16string& units, const std::string& original) {
  std::string bytes = original.substr(0, 2);
  for (char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  if (original.size() % 2 == 1) bytes.push_back(original.back());
  return bytes;
}

// A profile file is read whole: a larger one is refused (ERROR_FILE_TOO_LARGE) rather than
// read into memory.
constexpr size_t kProfileSizeLimit = 16 * 1024 * 1024;

bool ReadAll(int fd, std::string* bytes) {
  bytes->clear();
  struct stat st;
  if (fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) > kProfileSizeLimit) {
    errno = EFBIG;
    return false;
  }
  char buffer[65536];
  off_t offset = 0;
  for (;;) {
    ssize_t n = pread(fd, buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (bytes->size() + static_cast<size_t>(n) > kProfileSizeLimit) {
      errno = EFBIG;  // it grew while being read
      return false;
    }
    bytes->append(buffer, static_cast<size_t>(n));
    offset += n;
  }
}

bool WriteAt(int fd, const std::string& bytes, size_t from) {
  for (size_t done = from; done < bytes.size();) {
    ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes only what changed: the bytes from the first difference on.
bool Rewrite(int fd, const std::string& old_bytes, const std::string& new_bytes) {
  size_t same = 0;
  while (same < old_bytes.size() && same < new_bytes.size() && old_bytes[same] == new_bytes[same]) {
    ++same;
  }
  if (same == old_bytes.size() && same == new_bytes.size()) return true;
  if (WriteAt(fd, new_bytes, same) && (new_bytes.size() >= old_bytes.size() ||
                                       ftruncate(fd, static_cast<off_t>(new_bytes.size())) == 0)) {
    return true;
  }
  // Put the old text back so that a failed write (a full disk) loses nothing.
  int error = errno;
  WriteAt(fd, old_bytes, same);
  if (ftruncate(fd, static_cast<off_t>(old_bytes.size())) != 0) {
    // Nothing more can be done; the error of the write is the one reported.
  }
  errno = error;
  return false;
}

// The host path of a profile file: a name without a directory part is in the Windows
// directory.
bool ProfileHostPath(const char* file_name, std::string* host) {
  std::string name = file_name;
  if (name.find_first_of("\\/") == std::string::npos) name = "c:\\windows\\" + name;
  return HostPathOf(name, host);
}

}  // namespace

extern "C" {

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR buffer,
                               DWORD size, LPCSTR file_name) {
  if (!section || !key || !file_name || (!buffer && size > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::optional<std::string> value;
  {
    std::lock_guard<std::mutex> lock(profile_mutex);
    std::string host;
    int fd =
        ProfileHostPath(file_name, &host)
            ? OpenHostFile(host, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING)
            : -1;
    std::string bytes;
    if (fd >= 0) {
      bool read = LockProfile(fd, F_RDLCK) && ReadAll(fd, &bytes);
      int error = errno;
      CloseHostFile(fd);
      if (!read) SetLastErrorFromErrno(error, host);
      if (read) {
        std::string wanted_section = TrimSpaces(section), wanted_key = TrimSpaces(key);
        value = IsUtf16File(bytes) ? ReadValue(DecodeUtf16(bytes), wanted_section, wanted_key)
                                   : ReadValue(bytes, wanted_section, wanted_key);
      }
    }
  }
  if (!value) {
    // The default loses its trailing spaces only.
    std::string fallback = default_value ? default_value : "";
    size_t last = fallback.find_last_not_of(' ');
    value = last == std::string::npos ? std::string() : fallback.substr(0, last + 1);
  }
  if (size == 0) return 0;
  size_t length = std::min<size_t>(value->size(), size - 1);
  if (length < value->size()) {
    // Cut between characters, never inside a UTF-8 sequence.
    size_t start = length;
    while (start > 0 && length - start < 3 &&
           (static_cast<unsigned char>((*value)[start]) & 0xC0) == 0x80) {
      --start;
    }
    unsigned char lead = static_cast<unsigned char>((*value)[start]);
    size_t sequence = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (start < length && start + sequence > length) length = start;
  }
  std::memcpy(buffer, value->data(), length);
  buffer[length] = '\0';
  return static_cast<DWORD>(length);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file_name) {
  if (!section || !key || !value || !file_name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(profile_mutex);
  std::string host;
  if (!ProfileHostPath(file_name, &host)) return FALSE;
  int fd = OpenHostFile(host, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        OPEN_ALWAYS);
  if (fd < 0) {
    // A name that ends in a separator names a directory.
    if (GetLastError() == ERROR_INVALID_NAME && !host.empty() && host.back() == '/') {
      SetLastError(ERROR_ACCESS_DENIED);
    }
    return FALSE;
  }
  bool created = GetLastError() != ERROR_ALREADY_EXISTS;
  std::string old_bytes;
  bool done = LockProfile(fd, F_WRLCK) && ReadAll(fd, &old_bytes);
  if (done) {
    std::string wanted_section = TrimSpaces(section), wanted_key = TrimSpaces(key);
    std::string new_bytes =
        IsUtf16File(old_bytes)
            ? EncodeUtf16(EditText(DecodeUtf16(old_bytes), wanted_section, wanted_key, value),
                          old_bytes)
            : EditText(old_bytes, wanted_section, wanted_key, std::string(value));
    done = Rewrite(fd, old_bytes, new_bytes);
  }
  int error = errno;
  CloseHostFile(fd);
  if (!done) {
    // A file made by this call and left empty goes again.
    if (created) unlink(host.c_str());
    SetLastErrorFromErrno(error, host);
    return FALSE;
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // extern "C"
