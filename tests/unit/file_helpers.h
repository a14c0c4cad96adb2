// Helpers of the file procedure tests: TMPDIR for one test, whole files as bytes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace dunmarrow::test {

// Sets TMPDIR (or unsets it, for nullptr) and puts the old value back.
class ScopedTmpDir {
 public:
  explicit ScopedTmpDir(const char* value) {
    const char* old = getenv("TMPDIR");
    had_ = old != nullptr;
    if (old) old_ = old;
    if (value) {
      setenv("TMPDIR", value, 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  ~ScopedTmpDir() {
    if (had_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  ScopedTmpDir(const ScopedTmpDir&) = delete;
  ScopedTmpDir& operator=(const ScopedTmpDir&) = delete;

 private:
  bool had_ = false;
  std::string old_;
};

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The transcript of a context-frame failure: the DONE (and OUTPUT write-backs) first, then the
// report.
inline std::vector<std::string> ContextFailure(const std::string& text,
                                               std::vector<std::string> write_backs = {}) {
  std::vector<std::string> lines = {"senddone status=0x0001 info=0 count=0"};
  lines.insert(lines.end(), write_backs.begin(), write_backs.end());
  lines.push_back("sendmsg type=1 number=0 severity=0 state=0 line=0 \"" + text +
                  " (Runtime Addr: $XXXXXXXX)\"");
  return lines;
}

// "0x" and the bytes in upper-case hexadecimal, as transcripts show values.
inline std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = "0x";
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// UTF-16LE bytes of a text.
inline std::string Utf16Bytes(const std::u16string& text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

}  // namespace dunmarrow::test
