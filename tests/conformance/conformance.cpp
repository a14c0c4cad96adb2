// The conformance checks' common part: the command line, the workspace and the output.
#include "tests/conformance/conformance.h"

#include <cstdio>
#include <exception>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include "platform/linux/drives.h"
#endif

namespace conformance {

namespace {

constexpr uint32_t kUntouched = 0x2000BEEFu;  // an application-defined code

void PrintLine(std::string_view input, std::string_view result, std::string_view note) {
  std::string line(input);
  line += '\t';
  line += result;
  if (!note.empty()) {
    line += '\t';
    line += note;
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
}

}  // namespace

std::filesystem::path Workspace::Host(std::string_view windows_path) const {
#ifdef _WIN32
  std::u8string utf8(windows_path.begin(), windows_path.end());
  return std::filesystem::path(utf8);
#else
  std::string mapped = winplatform::MapPath(windows_path);
  return std::filesystem::path(mapped);
#endif
}

void Check(std::string_view input, std::string_view result) {
  PrintLine(input, result, "");
}

void WineDiffers(std::string_view reason, std::string_view input, std::string_view result) {
  PrintLine(input, "~ " + std::string(result), "# Wine differs: " + std::string(reason));
}

bool UnderWine64() {
#if defined(_WIN64)
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

void ResetLastError() {
  SetLastError(kUntouched);
}

std::string LastErrorText() {
  uint32_t code = static_cast<uint32_t>(GetLastError());
  if (code == kUntouched) return "error=-";
  if (code >= 0x10000u) return "error=" + Hex(code);
  return "error=" + std::to_string(code);
}

std::string Quote(std::string_view bytes) {
  std::string out = "\"";
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '"') {
      out += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    }
  }
  return out + "\"";
}

std::string QuoteWide(const WCHAR* units, size_t count) {
  std::string out = "L\"";
  for (size_t i = 0; i < count; ++i) {
    auto unit = static_cast<uint16_t>(units[i]);
    if (unit >= 0x20 && unit < 0x7F && unit != '"') {
      out += static_cast<char>(unit);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", unit);
      out += escaped;
    }
  }
  return out + "\"";
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string HexBytes(const void* data, size_t size) {
  std::string out;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) {
    char text[4];
    std::snprintf(text, sizeof text, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += text;
  }
  return out.empty() ? "(none)" : out;
}

WideString Widen(std::string_view utf8) {
  WideString out;
  for (size_t i = 0; i < utf8.size();) {
    auto byte = static_cast<unsigned char>(utf8[i]);
    uint32_t cp = byte;
    size_t length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
    if (length > 1) {
      cp = byte & (0x7F >> length);
      for (size_t k = 1; k < length && i + k < utf8.size(); ++k) {
        cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
      }
    }
    i += length;
    if (cp >= 0x10000) {
      out += static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<WCHAR>(cp);
    }
  }
  return out;
}

}  // namespace conformance

namespace {

int Usage(const char* program) {
  std::fprintf(stderr,
#ifdef _WIN32
               "usage: %s DIR\n"
#else
               "usage: %s --drive-root ROOT DIR\n"
#endif
               "  DIR: an empty directory to work in, as a Windows path (c:\\conformance\\x)\n",
               program);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // The output is compared byte for byte with the Linux build's: no CR before LF.
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc != 2) return Usage(argv[0]);
  std::string dir = argv[1];
#else
  if (argc != 4 || std::string_view(argv[1]) != "--drive-root") return Usage(argv[0]);
  winplatform::SetDriveRoot(argv[2]);
  std::string dir = argv[3];
#endif
  while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  conformance::Workspace workspace{dir};
  try {
    std::filesystem::path host = workspace.Host(dir);
    if (!std::filesystem::is_directory(host) || !std::filesystem::is_empty(host)) {
      std::fprintf(stderr, "%s: not an empty directory\n", dir.c_str());
      return 2;
    }
    std::filesystem::current_path(host);
    RunChecks(workspace);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 2;
  }
  std::fflush(stdout);
  return 0;
}
