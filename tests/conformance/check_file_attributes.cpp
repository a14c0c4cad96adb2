// GetFileAttributesA/W: files, directories, read-only files, names that are not there, and
// paths in every spelling a caller may use (separators, case, trailing dots, relative paths,
// wildcards, lengths past MAX_PATH).
#include <fstream>
#include <vector>

#include "tests/conformance/conformance.h"

using namespace conformance;

namespace {

void MakeFile(const std::filesystem::path& path) {
  std::ofstream(path) << "x";
}

void SetUp(const Workspace& ws) {
  const std::string& d = ws.dir;
  MakeFile(ws.Host(d + "\\file.txt"));
  MakeFile(ws.Host(d + "\\readonly.txt"));
  std::filesystem::permissions(ws.Host(d + "\\readonly.txt"),
                               std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  std::filesystem::create_directory(ws.Host(d + "\\sub"));
  MakeFile(ws.Host(d + "\\sub\\inner.txt"));
  std::filesystem::create_directory(ws.Host(d + "\\empty dir"));
  MakeFile(ws.Host(d + "\\Mixed Case.TXT"));
  MakeFile(ws.Host(d + "\\\xC3\xBCml\xC3\xA4ut.txt"));           // "ümläut.txt"
  MakeFile(ws.Host(d + "\\\xE2\x82\xAC \xF0\x9F\x98\x80.txt"));  // "€ 😀.txt"
  MakeFile(ws.Host(d + "\\.dotfile"));
  MakeFile(ws.Host(d + "\\no_extension"));
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string Slashes(std::string text) {
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  return text;
}

// Windows answers ERROR_INVALID_NAME for a file named with a trailing separator (the file
// system refuses the name); Wine answers ERROR_PATH_NOT_FOUND.
constexpr const char* kFileAsDirectory = "a file with a trailing separator gives 3, not 123";

void Query(const std::string& path, const char* wine_differs = nullptr) {
  auto report = [&](const std::string& input, const std::string& result) {
    if (wine_differs) {
      WineDiffers(wine_differs, input, result);
    } else {
      Check(input, result);
    }
  };
  ResetLastError();
  DWORD narrow = GetFileAttributesA(path.c_str());
  std::string narrow_error = LastErrorText();
  report("GetFileAttributesA(" + Quote(path) + ")", Hex(narrow) + " " + narrow_error);

  WideString wide_path = Widen(path);
  ResetLastError();
  DWORD wide = GetFileAttributesW(wide_path.c_str());
  std::string wide_error = LastErrorText();
  report("GetFileAttributesW(" + QuoteWide(wide_path.data(), wide_path.size()) + ")",
         Hex(wide) + " " + wide_error);
}

}  // namespace

void RunChecks(const Workspace& ws) {
  SetUp(ws);
  const std::string& d = ws.dir;

  // Every name of the tree and some that are not there, each spelt several ways.
  struct Name {
    std::string name;
    bool is_file;
  };
  const std::vector<Name> names = {{"file.txt", true},
                                   {"readonly.txt", true},
                                   {"sub", false},
                                   {"sub\\inner.txt", true},
                                   {"empty dir", false},
                                   {"Mixed Case.TXT", true},
                                   {"\xC3\xBCml\xC3\xA4ut.txt", true},
                                   {"\xE2\x82\xAC \xF0\x9F\x98\x80.txt", true},
                                   {".dotfile", true},
                                   {"no_extension", true},
                                   {"missing.txt", false},
                                   {"missing\\file.txt", false},
                                   {"file.txt\\inside", false},
                                   {"sub\\missing\\deeper", false},
                                   {"sub\\..\\file.txt", true},
                                   {"missing\\..\\file.txt", true},
                                   {".\\sub\\.\\inner.txt", true},
                                   {"sub.\\inner.txt", true},
                                   {"sub..\\inner.txt", false},
                                   {"sub \\inner.txt", false},
                                   {"sub\\inner.txt. .", true},
                                   {"empty dir \\", false},
                                   {"...", false},
                                   {"sub\\...", false},
                                   {" ", false}};
  for (const auto& [name, is_file] : names) {
    const char* file_as_directory = is_file ? kFileAsDirectory : nullptr;
    std::string full = d + "\\" + name;
    Query(full);
    Query(Slashes(full));
    Query(full + "\\", file_as_directory);
    Query(full + "/", file_as_directory);
    Query(full + ".");
    Query(full + " ");
    Query(full + "..");
    Query(d + "\\" + Upper(name));
    Query(d + "\\\\" + name);
    Query(name);  // relative to the current directory, the workspace
  }

  // Directories and drives themselves.
  for (const std::string& path : {std::string(""), std::string("."), std::string(".."),
                                  std::string(".\\"), std::string("c:\\"), std::string("C:/"),
                                  std::string("c:"), d, d + "\\", d + "\\.", d + "\\sub\\.."}) {
    Query(path);
  }

  // Characters a name cannot hold, and wildcards.
  for (const char* name : {"*", "*.txt", "file.tx?", "sub\\*", "*\\inner.txt", "a<b", "a>b", "a|b",
                           "a\"b", "a:b", "a\tb"}) {
    Query(d + "\\" + name);
  }

  // Lengths: a name of 255 and of 256 characters; whole paths around MAX_PATH (260), which the
  // ANSI functions count after the conversion to UTF-16.
  Query(d + "\\" + std::string(255, 'n'));
  Query(d + "\\" + std::string(256, 'n'));
  for (size_t total : {259u, 260u, 261u, 300u, 1000u}) {
    std::string path = d + "\\";
    while (path.size() + 20 < total) path += std::string(19, 'p') + "\\";
    path += std::string(total - path.size(), 'q');
    Query(path);
  }
  // 130 two-byte characters: 260 bytes, but 130 UTF-16 units.
  std::string accents;
  for (int i = 0; i < 130; ++i) accents += "\xC3\xA9";
  Query(d + "\\" + accents);
}
