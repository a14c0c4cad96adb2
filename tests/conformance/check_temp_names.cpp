// GetTempPathA/W and GetTempFileNameA. The temporary directory itself differs between the
// machines, so only its form and the return-value rules are compared: what a call returns
// and writes for buffers shorter than, as long as and longer than the path, in relation to
// the path's real length. Temporary names: the file created, the form of the name (directory,
// separator, three characters of the prefix, the number in hexadecimal, the extension),
// names built for a given number, and the errors of missing and overlong directories.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/conformance/conformance.h"

using namespace conformance;

namespace {

const char kWineLowerCase[] =
    "Wine writes the number in lower-case hexadecimal and the extension as .tmp";

const char kLongDirectory[] =
    "Wine overruns a MAX_PATH buffer for a directory longer than 246 characters (it faulted); "
    "Windows fails with ERROR_BUFFER_OVERFLOW";

bool UnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// A return value in relation to the length of the path.
std::string Relation(DWORD value, size_t length) {
  if (value == 0) return "0";
  long long delta = static_cast<long long>(value) - static_cast<long long>(length);
  if (delta == 0) return "length";
  return "length" + std::string(delta > 0 ? "+" : "") + std::to_string(delta);
}

template <typename Unit>
std::string BufferState(const std::vector<Unit>& buffer, DWORD size,
                        const std::basic_string<Unit>& path) {
  if (size == 0) return "buffer untouched";
  std::basic_string<Unit> text(buffer.data());
  if (text == path) return "buffer holds the path";
  if (text.empty()) return "buffer empty";
  if (path.compare(0, text.size(), text) == 0) {
    return "buffer holds the first " + std::to_string(text.size()) + " units";
  }
  if (buffer[0] == static_cast<Unit>('#')) return "buffer untouched";
  return "buffer holds something else";
}

void TempPathA() {
  std::vector<char> full(1024, '\0');
  DWORD length = GetTempPathA(static_cast<DWORD>(full.size()), full.data());
  std::string path(full.data());
  Check("GetTempPathA(1024): length returned", length == path.size() ? "the path's" : "another");
  Check("GetTempPathA(1024): last character",
        !path.empty() && (path.back() == '\\' || path.back() == '/')
            ? "a separator"
            : Quote(path.substr(path.size() - 1)));
  ResetLastError();
  DWORD needed = GetTempPathA(0, nullptr);
  Check("GetTempPathA(0, NULL)", Relation(needed, path.size()) + " " + LastErrorText());
  for (long long delta : {-static_cast<long long>(path.size()) + 1, -1ll, 0ll, 1ll, 2ll}) {
    DWORD size = static_cast<DWORD>(path.size() + delta);
    std::vector<char> buffer(path.size() + 8, '#');
    ResetLastError();
    DWORD result = GetTempPathA(size, buffer.data());
    std::string error = LastErrorText();
    std::string label =
        size == 1 ? "1" : "length" + std::string(delta >= 0 ? "+" : "") + std::to_string(delta);
    // What the buffer holds when it is too small is not compared: Wine leaves it alone.
    Check("GetTempPathA(" + label + ")",
          Relation(result, path.size()) + " " + error +
              (result < size ? ", " + BufferState(buffer, size, path) : ""));
  }
}

void TempPathW() {
  std::vector<WCHAR> full(1024, 0);
  DWORD length = GetTempPathW(static_cast<DWORD>(full.size()), full.data());
  WideString path(full.data());
  Check("GetTempPathW(1024): length returned", length == path.size() ? "the path's" : "another");
  Check("GetTempPathW(1024): last character",
        !path.empty() && (path.back() == '\\' || path.back() == '/') ? "a separator" : "another");
  ResetLastError();
  DWORD needed = GetTempPathW(0, nullptr);
  Check("GetTempPathW(0, NULL)", Relation(needed, path.size()) + " " + LastErrorText());
  for (long long delta : {-static_cast<long long>(path.size()) + 1, -1ll, 0ll, 1ll, 2ll}) {
    DWORD size = static_cast<DWORD>(path.size() + delta);
    std::vector<WCHAR> buffer(path.size() + 8, '#');
    ResetLastError();
    DWORD result = GetTempPathW(size, buffer.data());
    std::string error = LastErrorText();
    std::string label =
        size == 1 ? "1" : "length" + std::string(delta >= 0 ? "+" : "") + std::to_string(delta);
    Check("GetTempPathW(" + label + ")",
          Relation(result, path.size()) + " " + error + ", " + BufferState(buffer, size, path));
  }
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A temporary name: the result, then how the name is formed from the directory, the prefix
// and the number, and the file it names.
void TempName(const Workspace& ws, const std::string& directory, const std::string& prefix,
              UINT unique, const std::string& expected_start) {
  char buffer[MAX_PATH + 16];
  std::memset(buffer, '#', sizeof buffer);
  buffer[sizeof buffer - 1] = '\0';
  ResetLastError();
  UINT number = GetTempFileNameA(directory.c_str(), prefix.c_str(), unique, buffer);
  std::string error = LastErrorText();
  std::string input =
      "GetTempFileNameA(" + Quote(directory) + ", " + Quote(prefix) + ", " + Hex(unique) + ")";
  if (number == 0) {
    Check(input, "0 " + error);
    return;
  }
  std::string name = buffer;
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", number);
  std::string expected = expected_start + hex + ".TMP";
  std::string result = unique == 0        ? "a number"
                       : number == unique ? "the number given"
                                          : Hex(number);
  Check(input, result);
  Check("  the name, ignoring case",
        Lower(name) == Lower(expected) ? "directory, prefix, number, .TMP" : Quote(name));
  WineDiffers(kWineLowerCase, "  the name",
              name == expected ? "directory, prefix, number in upper case, .TMP" : Quote(name));
  std::error_code ignored;
  std::filesystem::path host = ws.Host(name);
  if (!std::filesystem::exists(host, ignored)) {
    Check("  the file", "missing");
  } else {
    Check("  the file", std::to_string(std::filesystem::file_size(host, ignored)) + " bytes");
    std::filesystem::remove(host, ignored);
  }
}

}  // namespace

void RunChecks(const Workspace& ws) {
  TempPathA();
  TempPathW();

  const std::string& d = ws.dir;
  std::filesystem::create_directory(ws.Host(d + "\\sub"));
  std::filesystem::create_directory(ws.Host(d + "\\\xC3\xBCml"));
  TempName(ws, d, "abc", 0, d + "\\abc");
  TempName(ws, d, "prefix", 0, d + "\\pre");
  TempName(ws, d, "", 0, d + "\\");
  TempName(ws, d, "x", 0, d + "\\x");
  TempName(ws, d, "X y", 0, d + "\\X y");
  TempName(ws, d + "\\", "abc", 0, d + "\\abc");
  TempName(ws, d + "\\sub", "tst", 0, d + "\\sub\\tst");
  TempName(ws, d + "\\\xC3\xBCml", "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", 0,
           d + "\\\xC3\xBCml\\\xC3\xA4\xC3\xB6\xC3\xBC");
  TempName(ws, ".", "rel", 0, ".\\rel");
  TempName(ws, "sub", "rel", 0, "sub\\rel");
  TempName(ws, d, "abc", 0x1234, d + "\\abc");
  TempName(ws, d, "abc", 1, d + "\\abc");
  TempName(ws, d, "abc", 0xFFFF, d + "\\abc");
  TempName(ws, d + "\\missing", "abc", 0xBEEF, d + "\\missing\\abc");

  // Two names in a row are different files.
  char first[MAX_PATH], second[MAX_PATH];
  UINT a = GetTempFileNameA(d.c_str(), "two", 0, first);
  UINT b = GetTempFileNameA(d.c_str(), "two", 0, second);
  Check("two names in a row", a != 0 && b != 0 && a != b && std::string(first) != second
                                  ? "different numbers and names"
                                  : "the same");
  // A name given by number that exists already is still returned.
  UINT again = GetTempFileNameA(d.c_str(), "two", a, second);
  Check("the number of an existing file given", again == a ? "returned" : Hex(again));

  // Errors: a missing directory, a file as the directory, an overlong directory.
  TempName(ws, d + "\\missing", "abc", 0, "");
  TempName(ws, d + "\\missing\\deeper", "abc", 0, "");
  std::filesystem::create_directory(ws.Host(d + "\\f"));
  char made[MAX_PATH];
  GetTempFileNameA((d + "\\f").c_str(), "fil", 0, made);
  // Under a fixed name, so that the input is the same on both sides.
  std::filesystem::rename(ws.Host(made), ws.Host(d + "\\f\\made.tmp"));
  TempName(ws, d + "\\f\\made.tmp", "abc", 0, "");
  TempName(ws, d + "\\f\\made.tmp", "abc", 0x12, "");
  // Long directories that exist (which of the two errors a long missing one gives is not
  // compared).
  for (size_t length : {200u, 240u, 246u, 247u, 250u, 259u}) {
    std::string directory = d + "\\" + std::string(length - d.size() - 1, 'L');
    std::error_code ignored;
    std::filesystem::create_directory(ws.Host(directory), ignored);
    std::string input = "directory of " + std::to_string(length) + " characters";
    if (length > 246 && UnderWine()) {
      WineDiffers(kLongDirectory, input, "not called");
      continue;
    }
    char buffer[MAX_PATH + 16];
    ResetLastError();
    UINT number = GetTempFileNameA(directory.c_str(), "abc", 0, buffer);
    std::string error = LastErrorText();
    std::string result = number == 0 ? "0 " + error : "a number";
    if (length > 246) {
      WineDiffers(kLongDirectory, input, result);
    } else {
      Check(input, result);
    }
  }
}
