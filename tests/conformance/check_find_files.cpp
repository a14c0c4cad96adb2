// FindFirstFileA/W and FindClose: names without wildcards, the wildcards * and ? in the last
// path element (case, dots, names without an extension), listings that start with "." and
// "..", and the errors of missing files and directories, files used as directories, trailing
// separators and wildcards on the way.
#include <fstream>
#include <string>

#include "tests/conformance/conformance.h"

using namespace conformance;

namespace {

void MakeFile(const std::filesystem::path& path, size_t size) {
  std::ofstream(path, std::ios::binary) << std::string(size, 'f');
}

void SetUp(const Workspace& ws) {
  const std::string& d = ws.dir;
  MakeFile(ws.Host(d + "\\alpha.txt"), 5);
  MakeFile(ws.Host(d + "\\gamma"), 7);
  MakeFile(ws.Host(d + "\\a.b.c"), 1);
  MakeFile(ws.Host(d + "\\\xC3\xBCml\xC3\xA4ut.dat"), 3);  // "ümläut.dat"
  std::filesystem::create_directory(ws.Host(d + "\\sub"));
  MakeFile(ws.Host(d + "\\sub\\Inner.DAT"), 11);
  std::filesystem::create_directory(ws.Host(d + "\\sub\\deeper"));
  std::filesystem::create_directory(ws.Host(d + "\\one"));
  MakeFile(ws.Host(d + "\\one\\Beta.TXT"), 2);
  std::filesystem::create_directory(ws.Host(d + "\\empty"));
}

// The first entry: its name, attributes (without the archive bit, which depends on how the
// file was made) and size.
std::string Entry(DWORD attributes, DWORD size_high, DWORD size_low, const std::string& name) {
  return name + " attributes " + Hex(attributes & ~0x20u) + " size " +
         std::to_string((static_cast<uint64_t>(size_high) << 32) | size_low);
}

// Windows answers ERROR_DIRECTORY for a file searched as a directory; Wine answers
// ERROR_INVALID_NAME.
constexpr const char* kFileAsDirectory = "a file used as a directory gives 123, not 267";

void Report(const char* wine_differs, const std::string& input, const std::string& result) {
  if (wine_differs) {
    WineDiffers(wine_differs, input, result);
  } else {
    Check(input, result);
  }
}

void Find(const std::string& path, const char* wine_differs = nullptr) {
  WIN32_FIND_DATAA data{};
  ResetLastError();
  HANDLE search = FindFirstFileA(path.c_str(), &data);
  std::string error = LastErrorText();
  std::string result;
  if (search == INVALID_HANDLE_VALUE) {
    result = "INVALID_HANDLE_VALUE " + error;
  } else {
    result =
        Entry(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, Quote(data.cFileName));
    ResetLastError();
    BOOL closed = FindClose(search);
    result += closed ? "; FindClose TRUE" : "; FindClose FALSE " + LastErrorText();
  }
  Report(wine_differs, "FindFirstFileA(" + Quote(path) + ")", result);

  WideString wide = Widen(path);
  WIN32_FIND_DATAW wide_data{};
  ResetLastError();
  search = FindFirstFileW(wide.c_str(), &wide_data);
  error = LastErrorText();
  if (search == INVALID_HANDLE_VALUE) {
    result = "INVALID_HANDLE_VALUE " + error;
  } else {
    size_t length = 0;
    while (wide_data.cFileName[length]) ++length;
    result = Entry(wide_data.dwFileAttributes, wide_data.nFileSizeHigh, wide_data.nFileSizeLow,
                   QuoteWide(wide_data.cFileName, length));
    FindClose(search);
  }
  Report(wine_differs, "FindFirstFileW(" + QuoteWide(wide.data(), wide.size()) + ")", result);
}

}  // namespace

void RunChecks(const Workspace& ws) {
  SetUp(ws);
  const std::string& d = ws.dir;

  // Names without wildcards: the entry itself, in the spelling asked for on a case-blind
  // file system only when the name is found.
  for (const char* name : {"alpha.txt", "gamma", "a.b.c", "sub", "sub\\Inner.DAT", "one\\Beta.TXT",
                           "\xC3\xBCml\xC3\xA4ut.dat", "empty"}) {
    Find(d + "\\" + name);
    Find(name);
  }

  // Patterns that match one entry each, so that the order of a listing does not matter.
  for (const char* pattern :
       {"alph*",       "*.txt",          "alpha.*",    "alpha.tx?",
        "?lpha.txt",   "al*a.t*t",       "gamma.*",    "gam*",
        "*mma",        "a.b.*",          "a.*.c",      "*.c",
        "one\\*.txt",  "one\\*.TXT",     "one\\b*",    "one\\B?TA.txt",
        "one\\beta.*", "one\\*t*",       "sub\\*.dat", "sub\\inner.*",
        "sub\\I*R.D*", "sub\\dee*",      "\xC3\x9C*",  "\xC3\x9CML\xC3\x84UT.DAT",
        "*.DAT",       "*\xC3\xA4ut.dat"}) {
    Find(d + "\\" + pattern);
  }

  // Listings: "." first, then ".." (patterns that match them); an empty directory too.
  for (const char* pattern : {"*", "*.*", "sub\\*", "sub\\*.*", "empty\\*", "empty\\*.*",
                              "empty\\.*", "empty\\..", "sub\\.", "sub\\deeper\\..\\*"}) {
    Find(d + "\\" + pattern);
  }
  Find("*");
  Find(".\\one\\*.txt");
  Find("one\\..\\one\\?eta.txt");

  // Nothing matches.
  for (const char* pattern : {"*.none", "alpha.txt?x", "zz*", "one\\*.dat", "empty\\?*",
                              "sub\\deeper\\*.*x", "one\\beta"}) {
    Find(d + "\\" + pattern);
  }

  // Errors: missing names and directories, files used as directories, trailing separators,
  // wildcards before the last element, characters no name can hold.
  for (const char* name :
       {"missing.txt", "missing\\file.txt", "missing\\*", "missing\\*.*", "sub\\missing\\*",
        "alpha.txt\\x\\*", "sub\\", "sub/", "empty\\", "alpha.txt\\", "*\\Inner.DAT",
        "s?b\\Inner.DAT", "a<b*", "a|b", "a\"b*"}) {
    Find(d + "\\" + name);
  }
  for (const char* name : {"alpha.txt\\*", "alpha.txt\\x", "alpha.txt\\*.*"}) {
    Find(d + "\\" + name, kFileAsDirectory);
  }
  Find("missing\\a|b");
  Find("sub\\a>b");
  Find("a|b\\x*");
  Find("");
  Find("c:\\");
  Find("c:/");

  // FindClose of a handle that is no search.
  ResetLastError();
  BOOL closed = FindClose(INVALID_HANDLE_VALUE);
  Check("FindClose(INVALID_HANDLE_VALUE)", closed ? "TRUE" : "FALSE " + LastErrorText());
}
