// GetPrivateProfileStringA and WritePrivateProfileStringA over a corpus of awkward files: line
// ends, blanks around names and values, quotes, comments, duplicate sections and keys, headers
// without "]" or with text after it, lines before the first section, UTF-16 and UTF-8 marks,
// names outside ASCII, long values and small buffers; and the errors of missing directories,
// directories and bad names. Reads and return values are compared; the bytes a write leaves
// only where Wine writes what Windows writes (new files, and files already in the form Wine
// writes back), since Wine rewrites the whole file where Windows changes one line.
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/conformance/conformance.h"

using namespace conformance;

namespace {

const char kRewrites[] =
    "Wine rewrites the whole file in its own form; Windows changes only the key's line";
const char kAsciiFolding[] = "Wine folds only ASCII letters in section and key names";
const char kUtf8Mark[] =
    "Wine reads a UTF-8 byte-order mark as a mark; Windows reads it as text of line 1";
const char kHeaderEnd[] =
    "Wine ends a section name at the last \"]\" of the line and skips a header without one";

const char kTabs[] = "Wine trims TABs from the section and key arguments too; Windows only spaces";
const char kBlankDefault[] =
    "Wine keeps one space of a default made of spaces only; Windows returns \"\"";
const char kWrittenNames[] =
    "Wine keeps trailing spaces of the section and key arguments and drops leading spaces of "
    "the value when writing";
const char kComments[] = "Wine finds a comment line (\";\") as a key";
const char kEmptySection[] = "Wine finds no section \"[]\" of an empty name";
const char kNoSection[] =
    "Wine reads the lines before the first header as a section of an empty name";
const char kMarkOnly[] =
    "Wine writes a new section's header right after the UTF-16 mark of a file holding only "
    "its mark; Windows writes CR LF first";
const char kCutCharacter[] =
    "Wine returns size - 1 without copying when a multi-byte character does not fit";

const Workspace* workspace = nullptr;

std::string Full(const std::string& name) {
  return workspace->dir + "\\" + name;
}

std::string Bytes(const std::string& name) {
  std::error_code ignored;
  if (std::filesystem::is_directory(workspace->Host(Full(name)), ignored)) return "directory";
  std::ifstream in(workspace->Host(Full(name)), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return in || !bytes.empty() ? Quote(bytes) : "missing";
}

void Make(const std::string& name, const std::string& bytes) {
  std::ofstream(workspace->Host(Full(name)), std::ios::binary) << bytes;
}

void Report(const char* wine_differs, const std::string& input, const std::string& result) {
  if (wine_differs) {
    WineDiffers(wine_differs, input, result);
  } else {
    Check(input, result);
  }
}

void Read(const std::string& file, const std::string& section, const std::string& key,
          const char* default_value = "(default)", DWORD size = 256,
          const char* wine_differs = nullptr) {
  std::vector<char> buffer(size + 4, '#');
  DWORD result = GetPrivateProfileStringA(section.c_str(), key.c_str(), default_value,
                                          buffer.data(), size, Full(file).c_str());
  std::string text = size == 0 ? "(no buffer)" : Quote(std::string(buffer.data(), result));
  if (size > 0 && buffer[result] != '\0') text += " unterminated";
  Report(wine_differs,
         "Get(" + Quote(file) + ", " + Quote(section) + ", " + Quote(key) + ", " +
             Quote(default_value ? default_value : "(null)") + ", " + std::to_string(size) + ")",
         std::to_string(result) + " " + text);
}

// A write, its result, and the bytes of the file afterwards.
void Write(const std::string& file, const std::string& section, const std::string& key,
           const std::string& value, const char* bytes_differ = kRewrites,
           const char* wine_differs = nullptr) {
  ResetLastError();
  BOOL ok =
      WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), Full(file).c_str());
  std::string error = LastErrorText();
  Report(wine_differs,
         "Write(" + Quote(file) + ", " + Quote(section) + ", " + Quote(key) + ", " + Quote(value) +
             ")",
         ok ? "TRUE" : "FALSE " + error);
  Report(bytes_differ, "  the bytes", Bytes(file));
}

std::string Utf16(const std::string& ascii_or_utf8) {
  WideString units = Widen(ascii_or_utf8);
  std::string bytes = "\xFF\xFE";
  for (WCHAR unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(static_cast<uint16_t>(unit) >> 8);
  }
  return bytes;
}

}  // namespace

void RunChecks(const Workspace& ws) {
  workspace = &ws;

  // A file in the form both write: CR LF, no blanks, one key per line.
  Make("plain.ini", "[Sec]\r\nKey=Value\r\nOther=2\r\n[Two]\r\nA=1\r\n");
  Read("plain.ini", "Sec", "Key");
  Read("plain.ini", "sec", "KEY");
  Read("plain.ini", "  Sec  ", "  Key  ");
  Read("plain.ini", "\tSec", "Key", "(default)", 256, kTabs);
  Read("plain.ini", "Sec", "Key\t", "(default)", 256, kTabs);
  Read("plain.ini", "Sec", "missing", "def  ");
  Read("plain.ini", "Sec", "missing", "  d e  f  ");
  Read("plain.ini", "Sec", "missing", "    ", 256, kBlankDefault);
  Read("plain.ini", "Sec", "missing", "");
  Read("plain.ini", "Missing", "Key", "x\t");
  Read("plain.ini", "Two", "a");
  Read("plain.ini", "Two", "Key");
  for (DWORD size : {0u, 1u, 2u, 3u, 5u, 6u, 7u}) Read("plain.ini", "Sec", "Key", "default", size);
  for (DWORD size : {1u, 3u, 8u}) Read("plain.ini", "Sec", "none", "default", size);
  Write("plain.ini", "Sec", "Key", "New", nullptr);
  Write("plain.ini", "SEC", "KEY", "Newer", nullptr);
  Write("plain.ini", "Sec", "Third", "3", nullptr);
  Write("plain.ini", "Two", "B", "", nullptr);
  Write("plain.ini", "New", "K", "v", nullptr);
  Write("plain.ini", " Spaced ", " k ", " v ", kWrittenNames);
  Read("plain.ini", "Spaced", "k");
  Read("plain.ini", "Two", "B", "default");
  Read("plain.ini", "Sec", "Third");

  // A new file, and a file that holds nothing.
  Write("new.ini", "section", "key", "value", nullptr);
  Write("new.ini", "section", "key2", "a=b;c", nullptr);
  Read("new.ini", "section", "key2");
  Make("empty.ini", "");
  Write("empty.ini", "s", "k", "v", nullptr);

  // Line ends other than CR LF, and a last line without one.
  Make("lf.ini", "[s]\nk=v\nm=w\n[t]\nk=x\n");
  Make("cr.ini", "[s]\rk=v\rm=w\r[t]\rk=x\r");
  Make("mixed.ini", "[s]\r\nk=v\nm=w\r[t]\n\rk=x");
  for (const char* file : {"lf.ini", "cr.ini", "mixed.ini"}) {
    Read(file, "s", "k");
    Read(file, "s", "m");
    Read(file, "t", "k");
    Write(file, "s", "k", "changed");
    Write(file, "s", "n", "added");
    Write(file, "t", "y", "last");
    Write(file, "u", "z", "section");
    Read(file, "s", "k");
    Read(file, "s", "n");
    Read(file, "t", "y");
    Read(file, "u", "z");
  }

  // Blanks, quotes, "=" in values, keys without "=", comments.
  Make("blanks.ini",
       "  [  Sp ace  ]  \r\n"
       "  key one  =  value with spaces  \r\n"
       "\tk2\t=\t\"quoted\"\t\r\n"
       "k3='single'\r\n"
       "k4=\"mismatch'\r\n"
       "k5=a=b\r\n"
       "k6=\r\n"
       "k7\r\n"
       "; comment=1\r\n"
       "  ;k8=2\r\n"
       "#k9=3\r\n"
       "k;10=4\r\n"
       "k11=\"\"\r\n"
       "k12=\" inner \"\r\n"
       "k13=\"a\"b\"\r\n"
       "k14=\"\r\n"
       "\vk15\v=\vvt\v\r\n"
       "\r\n"
       "   \r\n"
       "k16=after blank lines\r\n");
  for (const char* key : {"key one", "KEY ONE", "k2", "k3", "k4", "k5", "k6", "k7", "k8", "#k9",
                          "k;10", "k11", "k12", "k13", "k14", "k15", "k16"}) {
    Read("blanks.ini", "Sp ace", key);
  }
  Read("blanks.ini", "Sp ace", "; comment", "(default)", 256, kComments);
  Read("blanks.ini", "Sp ace", ";k8", "(default)", 256, kComments);
  Read("blanks.ini", "  Sp ace", "k2");
  Write("blanks.ini", "Sp ace", "k2", "replaced");
  Write("blanks.ini", "Sp ace", "KEY ONE", "kept name");
  Write("blanks.ini", "Sp ace", "k17", "new");
  Read("blanks.ini", "Sp ace", "k2");
  Read("blanks.ini", "Sp ace", "key one");
  Read("blanks.ini", "Sp ace", "k17");
  Read("blanks.ini", "Sp ace", "k16");

  // Duplicate sections and keys: the first section of a name, the first key in it.
  Make("dups.ini", "[dup]\r\nk=first\r\nK=second\r\n[other]\r\nk=o\r\n[DUP]\r\nk=third\r\nz=x\r\n");
  Read("dups.ini", "dup", "k");
  Read("dups.ini", "DUP", "K");
  Read("dups.ini", "dup", "z");
  Write("dups.ini", "dup", "K", "changed", nullptr);
  Write("dups.ini", "dup", "z", "new", nullptr);
  Read("dups.ini", "dup", "k");
  Read("dups.ini", "dup", "z");

  // Section headers: text after "]", no "]", an empty name, "]" in the name.
  Make("headers.ini",
       "[a] trailing\r\nk=1\r\n[b\r\nk=2\r\n[]\r\nk=3\r\n[c]]\r\nk=4\r\n[ d ]\r\nk=5\r\n"
       "[e] x]\r\nk=6\r\n");
  Read("headers.ini", "a", "k");
  Read("headers.ini", "b", "k", "(default)", 256, kHeaderEnd);
  Read("headers.ini", "", "k", "(default)", 256, kEmptySection);
  Read("headers.ini", "c", "k", "(default)", 256, kHeaderEnd);
  Read("headers.ini", "c]", "k", "(default)", 256, kHeaderEnd);
  Read("headers.ini", "d", "k");
  Read("headers.ini", "e", "k", "(default)", 256, kHeaderEnd);
  Read("headers.ini", "e] x", "k", "(default)", 256, kHeaderEnd);

  // Lines before the first section belong to none; a file without a final line break.
  Make("nosection.ini", "k=0\r\n[s]\r\nk=1");
  Read("nosection.ini", "", "k", "(default)", 256, kNoSection);
  Read("nosection.ini", "s", "k");
  Write("nosection.ini", "s", "n", "2", nullptr);
  Write("nosection.ini", "t", "x", "1", nullptr);
  Read("nosection.ini", "s", "n");
  Read("nosection.ini", "t", "x");
  Make("noend.ini", "[s]\r\nk=1");
  Write("noend.ini", "t", "x", "1", nullptr);
  Read("noend.ini", "t", "x");

  // UTF-16 files with their mark; UTF-8 files, with and without a mark.
  Make("utf16.ini", Utf16("[s]\r\nk=v\r\n\xC3\xBC=\xC3\xA4\r\n"));
  Read("utf16.ini", "s", "k");
  Read("utf16.ini", "s", "\xC3\xBC");
  Write("utf16.ini", "s", "k", "w", nullptr);
  Write("utf16.ini", "s", "n", "\xE2\x82\xAC", nullptr);
  Read("utf16.ini", "s", "k");
  Read("utf16.ini", "s", "n");
  // A UTF-16 file that holds only its mark stays UTF-16; Windows starts the new section on a
  // line of its own (FF FE 0D 00 0A 00 5B 00 ...).
  Make("utf16mark.ini", Utf16(""));
  Write("utf16mark.ini", "s", "k", "v", kMarkOnly);
  Read("utf16mark.ini", "s", "k");
  Make("utf8bom.ini", "\xEF\xBB\xBF[s]\r\nk=v\r\n[t]\r\nk=w\r\n");
  Read("utf8bom.ini", "s", "k", "(default)", 256, kUtf8Mark);
  Read("utf8bom.ini", "t", "k");
  Make("utf8.ini",
       "[Gr\xC3\xB6\xC3\x9F"
       "e]\r\n\xC3\x84pfel=\xE2\x82\xAC 1\r\nplain=x\r\n");
  Read("utf8.ini",
       "Gr\xC3\xB6\xC3\x9F"
       "e",
       "\xC3\x84pfel");
  Read("utf8.ini",
       "GR\xC3\x96\xC3\x9F"
       "E",
       "plain", "(default)", 256, kAsciiFolding);
  Read("utf8.ini",
       "Gr\xC3\xB6\xC3\x9F"
       "e",
       "\xC3\xA4pfel", "(default)", 256, kAsciiFolding);
  Read("utf8.ini",
       "Gr\xC3\xB6\xC3\x9F"
       "e",
       "\xC3\x84PFEL");
  const std::string group =
      "Gr\xC3\xB6\xC3\x9F"
      "e";
  for (DWORD size : {2u, 3u})
    Read("utf8.ini", group, "\xC3\x84pfel", "(default)", size, kCutCharacter);
  for (DWORD size : {4u, 5u, 6u}) Read("utf8.ini", group, "\xC3\x84pfel", "(default)", size);

  // A long value: cut to the buffer.
  std::string long_value;
  for (int i = 0; i < 3000; ++i) long_value += static_cast<char>('a' + i % 26);
  Write("long.ini", "s", "k", long_value, nullptr);
  Read("long.ini", "s", "k", "", 2048);
  Read("long.ini", "s", "k", "", 3000);
  Read("long.ini", "s", "k", "", 3001);
  std::string long_default(3000, 'd');
  Read("long.ini", "s", "none", long_default.c_str(), 2048);

  // Files that cannot be read or written.
  std::filesystem::create_directory(ws.Host(Full("dir.ini")));
  Write("missing\\x.ini", "s", "k", "v", nullptr);
  Read("missing\\x.ini", "s", "k");
  Write("dir.ini", "s", "k", "v", nullptr);
  Read("dir.ini", "s", "k");
  Write("dir.ini\\", "s", "k", "v", nullptr);
  Write("a*b.ini", "s", "k", "v", nullptr);
  Read("a*b.ini", "s", "k");
  Read("nothere.ini", "s", "k");
}
