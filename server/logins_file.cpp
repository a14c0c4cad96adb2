// Reading, checking and atomically rewriting the logins file.
#include "server/logins_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

namespace dunmarrow::server {
namespace {

constexpr size_t kMaxNameLength = 128;
constexpr const char kHashScheme[] = "pbkdf2-sha256";
bool IsAsciiAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string Hex(const uint8_t* bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

template <size_t N>
bool FromHex(std::string_view text, std::array<uint8_t, N>& out) {
  if (text.size() != 2 * N) return false;
  auto nibble = [](char c) -> int {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (size_t i = 0; i < N; ++i) {
    int high = nibble(text[2 * i]), low = nibble(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t begin = 0;
  while (true) {
    size_t end = text.find(separator, begin);
    parts.emplace_back(text.substr(begin, end - begin));
    if (end == std::string_view::npos) return parts;
    begin = end + 1;
  }
}

bool ParsePassword(std::string_view text, PasswordHash& out) {
  std::vector<std::string> parts = Split(text, ':');
  if (parts.size() != 4 || parts[0] != kHashScheme) return false;
  const std::string& digits = parts[1];
  if (digits.empty() || digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), IsDigit))
    return false;
  unsigned long iterations = std::stoul(digits);
  if (iterations < kMinIterations || iterations > kMaxIterations) return false;
  out.iterations = static_cast<uint32_t>(iterations);
  return FromHex(parts[2], out.salt) && FromHex(parts[3], out.hash);
}

// One login line; an empty text on success, else what is wrong.
std::string ParseEntry(const std::string& line, LoginEntry& entry) {
  std::istringstream fields(line);
  std::string name, grants, admin, password, extra;
  if (!(fields >> name >> grants >> admin >> password) || (fields >> extra))
    return "expected NAME GRANTS ADMIN PASSWORD-HASH";
  if (!IsValidLoginName(name)) return "bad login name";
  entry.name = name;
  if (grants == "all") {
    entry.all = true;
  } else if (grants != "-") {
    for (const std::string& procedure : Split(grants, ',')) {
      if (!IsValidProcedureName(procedure)) return "bad procedure name in the grants";
      entry.procedures.insert(LowerCase(procedure));
    }
  }
  if (admin != "admin" && admin != "-") return "the admin field is neither \"admin\" nor \"-\"";
  entry.admin = admin == "admin";
  if (!ParsePassword(password, entry.password)) return "bad password hash";
  return "";
}

std::string FormatEntry(const LoginEntry& entry) {
  std::string grants;
  if (entry.all) {
    grants = "all";
  } else {
    for (const std::string& procedure : entry.procedures) {
      if (!grants.empty()) grants += ',';
      grants += procedure;
    }
    if (grants.empty()) grants = "-";
  }
  const PasswordHash& p = entry.password;
  return entry.name + " " + grants + " " + (entry.admin ? "admin" : "-") + " " + kHashScheme + ":" +
         std::to_string(p.iterations) + ":" + Hex(p.salt.data(), p.salt.size()) + ":" +
         Hex(p.hash.data(), p.hash.size());
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && LowerCase(a) == LowerCase(b);
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

}  // namespace

bool IsValidLoginName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return IsAsciiAlpha(c) || IsDigit(c) || c == '_' || c == '.' || c == '@' || c == '-';
  });
}

bool IsValidProcedureName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength || IsDigit(name[0])) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return IsAsciiAlpha(c) || IsDigit(c) || c == '_' || c == '@' || c == '#' || c == '$';
  });
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool LoginsFile::Read(const std::string& path, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read the logins file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<LoginEntry> entries;
  std::string line;
  int number = 0;
  bool tagged = false;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!tagged) {
      if (line != kLoginsFileTag) {
        error = path + " is not a logins file of this version (its first line is not \"" +
                kLoginsFileTag + "\")";
        return false;
      }
      tagged = true;
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    LoginEntry entry;
    std::string wrong = ParseEntry(line, entry);
    if (wrong.empty()) {
      bool duplicate = std::any_of(entries.begin(), entries.end(), [&](const LoginEntry& e) {
        return EqualsNoCase(e.name, entry.name);
      });
      if (duplicate) wrong = "the login " + entry.name + " is there twice";
    }
    if (!wrong.empty()) {
      error = path + ":" + std::to_string(number) + ": " + wrong;
      return false;
    }
    entries.push_back(std::move(entry));
  }
  if (in.bad()) {
    error = "cannot read the logins file " + path;
    return false;
  }
  if (!tagged) {
    error = path + " is empty: not a logins file";
    return false;
  }
  entries_ = std::move(entries);
  return true;
}

bool LoginsFile::Write(const std::string& path, std::string& error) const {
  std::string text = std::string(kLoginsFileTag) + "\n";
  for (const LoginEntry& entry : entries_) text += FormatEntry(entry) + "\n";

  std::string temporary = path + ".XXXXXX";
  int fd = mkstemp(temporary.data());  // created with mode 0600
  if (fd < 0) {
    error = "cannot write beside the logins file " + path + ": " + std::strerror(errno);
    return false;
  }
  bool written = fchmod(fd, S_IRUSR | S_IWUSR) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
  int saved = errno;
  if (close(fd) != 0 && written) written = false, saved = errno;
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    if (written) saved = errno;
    unlink(temporary.c_str());
    error = "cannot write the logins file " + path + ": " + std::strerror(saved);
    return false;
  }
  return true;
}

const LoginEntry* LoginsFile::Find(std::string_view name) const {
  for (const LoginEntry& entry : entries_) {
    if (EqualsNoCase(entry.name, name)) return &entry;
  }
  return nullptr;
}

LoginEntry* LoginsFile::Find(std::string_view name) {
  return const_cast<LoginEntry*>(std::as_const(*this).Find(name));
}

bool LoginsFile::Add(LoginEntry entry) {
  if (Find(entry.name)) return false;
  entries_.push_back(std::move(entry));
  return true;
}

bool LoginsFile::Remove(std::string_view name) {
  auto found = std::find_if(entries_.begin(), entries_.end(),
                            [&](const LoginEntry& e) { return EqualsNoCase(e.name, name); });
  if (found == entries_.end()) return false;
  entries_.erase(found);
  return true;
}

}  // namespace dunmarrow::server
