// The Linux stand-ins for the profile functions over awkward INI files: what is read, and the
// exact bytes a write leaves (Windows edits in place and keeps every other byte).
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/windows.h"
#include "tests/unit/call_helpers.h"

namespace dunmarrow::test {
namespace {

class ProfileTest : public DriveRootTest {
 protected:
  void Put(const std::string& bytes, const char* name = "p.ini") {
    std::ofstream(c_drive_ / name, std::ios::binary) << bytes;
  }
  std::string Bytes(const char* name = "p.ini") {
    std::ifstream in(c_drive_ / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // "value|count" as GetPrivateProfileStringA gives them.
  static std::string Get(const char* section, const char* key, const char* fallback = "dflt",
                         DWORD size = 2048, const char* file = "c:\\p.ini") {
    std::string buffer(size + 1, '#');
    DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, file);
    return buffer.substr(0, buffer.find('\0')) + "|" + std::to_string(n);
  }
  static std::string Set(const char* section, const char* key, const char* value,
                         const char* file = "c:\\p.ini") {
    SetLastError(0);
    return WritePrivateProfileStringA(section, key, value, file)
               ? "ok"
               : "error " + std::to_string(GetLastError());
  }
  // The bytes after one write into a file holding the given bytes.
  std::string After(const std::string& before, const char* section, const char* key,
                    const char* value) {
    Put(before);
    std::string result = Set(section, key, value);
    return result == "ok" ? Bytes() : result;
  }
};

const char kAwkward[] =
    "; a comment\r\n"
    "orphan=before any section\r\n"
    "[Main]\r\n"
    "Name = abc  \r\n"
    "Quoted=\"  spaced  \"\r\n"
    "Single='x'\r\n"
    "Mismatch=\"y'\r\n"
    "Bare=\"\"\r\n"
    "Eq=a=b\r\n"
    "  Indented\t=\t tab value\x0B\t\r\n"
    "  ;Commented=no\r\n"
    "#Hash=yes\r\n"
    "Semi=a;b\r\n"
    "Empty=\r\n"
    "NoEquals\r\n"
    "dup=first\r\n"
    "DUP=second\r\n"
    "\r\n"
    "   \t\r\n"
    "[  Spaced Section  ] trailing text\r\n"
    "k=v\r\n"
    "[Unclosed\r\n"
    "u=1\r\n"
    "[]\r\n"
    "e=empty-section\r\n"
    "=nameless\r\n"
    "[main]\r\n"
    "Name=second main\r\n"
    "[CR]\rcr=1\r[LF]\nlf=1\n"
    "[Last]\r\n"
    "tail=no line end";

TEST_F(ProfileTest, ReadsAwkwardFilesAsWindowsDoes) {
  Put(kAwkward);
  struct Case {
    const char *section, *key, *expected;
  } cases[] = {
      {"Main", "Name", "abc|3"},
      {"MAIN", "name", "abc|3"},      // no case; only the first [main] is searched
      {" Main ", " Name ", "abc|3"},  // arguments lose surrounding spaces
      {"\tMain", "Name", "dflt|4"},   // ... but only spaces
      {"Main", "Quoted", "  spaced  |10"},
      {"Main", "Single", "x|1"},
      {"Main", "Mismatch", "\"y'|3"},
      {"Main", "Bare", "|0"},
      {"Main", "Eq", "a=b|3"},
      {"Main", "Indented", "tab value|9"},
      {"Main", ";Commented", "dflt|4"},
      {"Main", "Commented", "dflt|4"},
      {"Main", "#Hash", "yes|3"},
      {"Main", "Semi", "a;b|3"},
      {"Main", "Empty", "|0"},  // found, empty: not the default
      {"Main", "NoEquals", "dflt|4"},
      {"Main", "dup", "first|5"},
      {"Spaced Section", "k", "v|1"},
      {"Unclosed", "u", "1|1"},
      {"", "e", "empty-section|13"},
      {"", "", "nameless|8"},
      {"Main", "orphan", "dflt|4"},
      {"orphan", "orphan", "dflt|4"},
      {"CR", "cr", "1|1"},
      {"LF", "lf", "1|1"},
      {"Last", "tail", "no line end|11"},
      {"Missing", "Name", "dflt|4"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Get(c.section, c.key), c.expected) << "[" << c.section << "] " << c.key;
  }
  EXPECT_EQ(Bytes(), kAwkward);  // reading changes nothing
}

TEST_F(ProfileTest, DefaultsAndCuts) {
  Put("[S]\r\nlong=" + std::string(3000, 'v') + "\r\nutf8=a\xC3\xA9z\r\n");
  EXPECT_EQ(Get("S", "missing", "dflt  "), "dflt|4");  // trailing spaces go
  EXPECT_EQ(Get("S", "missing", "  d  "), "  d|3");    // leading ones stay
  EXPECT_EQ(Get("S", "missing", "   "), "|0");
  EXPECT_EQ(Get("S", "missing", ""), "|0");
  EXPECT_EQ(Get("S", "missing", nullptr), "|0");
  EXPECT_EQ(Get("S", "long"), std::string(2047, 'v') + "|2047");
  EXPECT_EQ(Get("S", "long", "d", 1), "|0");
  EXPECT_EQ(Get("S", "missing", "default", 4), "def|3");
  // A cut never splits a character.
  EXPECT_EQ(Get("S", "utf8", "d", 3), "a|1");
  EXPECT_EQ(Get("S", "utf8", "d", 4), "a\xC3\xA9|3");
  EXPECT_EQ(Get("S", "k", "d", 2048, "c:\\missing.ini"), "d|1");
  EXPECT_EQ(Get("S", "k", "d", 2048, "c:\\nodir\\missing.ini"), "d|1");
  EXPECT_EQ(Get("S", "k", "d", 2048, ""), "d|1");
}

TEST_F(ProfileTest, WritesEditOnlyWhatTheyMust) {
  struct Case {
    std::string before;
    const char *section, *key, *value;
    std::string after;
  } cases[] = {
      // An existing key: only its line changes, keeps the name's spelling, ends in CR LF.
      {"[S]\r\nk=old\r\nz=1\r\n", "S", "k", "new", "[S]\r\nk=new\r\nz=1\r\n"},
      {"[S]\n  K = old \nz=1\n", "s", "k", "new", "[S]\nK=new\r\nz=1\n"},
      {"[s]\rKEY=1\r", "S", "key", "2", "[s]\rKEY=2\r\n"},
      {"[S]\r\nk\r\n", "S", "k", "v", "[S]\r\nk=v\r\n"},
      {"[S]\r\nk=1\r\nk=2\r\n", "S", "k", "3", "[S]\r\nk=3\r\nk=2\r\n"},
      // A new key goes after the last key line of the section.
      {"[S]\r\na=1\r\n\r\n; note\r\n[T]\r\nb=2\r\n", "S", "c", "3",
       "[S]\r\na=1\r\nc=3\r\n\r\n; note\r\n[T]\r\nb=2\r\n"},
      {"[S]\r\n; c\r\n\r\n[T]\r\n", "S", "k", "v", "[S]\r\nk=v\r\n; c\r\n\r\n[T]\r\n"},
      {"[S]\r\n;k=1\r\n", "S", "k", "2", "[S]\r\nk=2\r\n;k=1\r\n"},
      {"[S]\r\na=1", "S", "b", "2", "[S]\r\na=1\r\nb=2\r\n"},
      {"[S]", "S", "k", "v", "[S]\r\nk=v\r\n"},
      {"[S]\na=1\n", "S", "b", "2", "[S]\na=1\nb=2\r\n"},
      // Only the first section of a name is edited.
      {"[S]\r\na=1\r\n[S]\r\nb=2\r\n", "s", "b", "3", "[S]\r\na=1\r\nb=3\r\n[S]\r\nb=2\r\n"},
      // A new section goes at the end, after a line break when the file has none.
      {"[S]\r\na=1\r\n", "T", "k", "v", "[S]\r\na=1\r\n[T]\r\nk=v\r\n"},
      {"[S]\r\na=1", "T", "k", "v", "[S]\r\na=1\r\n[T]\r\nk=v\r\n"},
      {"[S]\na=1\n", "T", "k", "v", "[S]\na=1\n[T]\r\nk=v\r\n"},
      {"", "T", "k", "v", "[T]\r\nk=v\r\n"},
      {"loose=1\r\n", "T", "loose", "2", "loose=1\r\n[T]\r\nloose=2\r\n"},
      // Values verbatim, empty ones too; arguments lose surrounding spaces.
      {"", "S", "k", "", "[S]\r\nk=\r\n"},
      {"", "  S  ", " k ", " v ", "[S]\r\nk= v \r\n"},
      {"", "", "", "x", "[]\r\n=x\r\n"},
      // A UTF-8 byte-order mark is part of line 1: "[S]" there is no section header.
      {"\xEF\xBB\xBF[S]\r\nk=1\r\n", "S", "k", "2", "\xEF\xBB\xBF[S]\r\nk=1\r\n[S]\r\nk=2\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(After(c.before, c.section, c.key, c.value), c.after)
        << "[" << c.section << "] " << c.key << " in " << c.before;
  }
}

TEST_F(ProfileTest, EveryOtherByteStaysAsItWas) {
  // Latin-1 bytes, NULs, trailing blanks, mixed line ends and a missing final line end.
  using namespace std::string_literals;
  std::string before =
      "\xE9t\xE9=caf\xE9  \r\n[S]\r\n\tx = 1 \na=\0b\r\r\n[T]\r\nk=1\r\n\xFF\xFE tail"s;
  std::string after = before;
  after.replace(after.find("\tx = 1 \n"), 8, "x=2\r\n");
  EXPECT_EQ(After(before, "S", "x", "2"), after);
}

TEST_F(ProfileTest, Utf16FilesAreReadAndWrittenAsUtf16) {
  auto utf16 = [](const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text)
      bytes += std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return bytes;
  };
  Put(utf16(u"[Main]\r\nName=\u0436\u00E9\r\n[\u0416]\r\nk=v\r\n"));
  EXPECT_EQ(Get("Main", "Name"), "\xD0\xB6\xC3\xA9|4");  // 4 bytes of UTF-8
  EXPECT_EQ(Get("\xD0\xB6", "k"), "v|1");                // names compare without case
  ASSERT_EQ(Set("Main", "Name", "\xE2\x82\xAC"), "ok");
  ASSERT_EQ(Set("Main", "New", "1"), "ok");
  ASSERT_EQ(Set("T", "k", "2"), "ok");
  EXPECT_EQ(Bytes(), utf16(u"[Main]\r\nName=\u20AC\r\nNew=1\r\n[\u0416]\r\nk=v\r\n[T]\r\nk=2\r\n"));
  // An odd last byte is kept.
  Put(utf16(u"[S]\r\nk=1\r\n") + "\x41");
  ASSERT_EQ(Set("S", "k", "2"), "ok");
  EXPECT_EQ(Bytes(), utf16(u"[S]\r\nk=2\r\n") + "\x41");
}

TEST_F(ProfileTest, FileNamesAndFailures) {
  std::filesystem::create_directories(c_drive_ / "windows");
  EXPECT_EQ(Set("S", "k", "v", "bare.ini"), "ok");  // no directory part: the Windows directory
  EXPECT_EQ(Bytes("windows/bare.ini"), "[S]\r\nk=v\r\n");
  EXPECT_EQ(Get("S", "k", "d", 2048, "bare.ini"), "v|1");
  EXPECT_EQ(Set("S", "k", "v", "c:\\nodir\\x.ini"), "error 3");
  EXPECT_EQ(Set("S", "k", "v", ""), "error 5");
  EXPECT_EQ(Set("S", "k", "v", "c:\\windows"), "error 5");
  EXPECT_EQ(Set("S", "k", "v", "c:\\windows\\"), "error 5");
  EXPECT_EQ(Set("S", "k", "v", "c:\\*.ini"), "error 123");
  EXPECT_FALSE(std::filesystem::exists(c_drive_ / "nodir"));
  Put("[S]\r\nk=1\r\n");
  std::filesystem::permissions(c_drive_ / "p.ini", std::filesystem::perms::owner_read);
  EXPECT_EQ(Set("S", "k", "2"), "error 5");
  EXPECT_EQ(Bytes(), "[S]\r\nk=1\r\n");
  EXPECT_EQ(Get("S", "k"), "1|1");
}

TEST_F(ProfileTest, AFileHeldForWritingIsNotWritten) {
  Put("[S]\r\nk=1\r\n");
  HANDLE held = CreateFileA("c:\\p.ini", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Set("S", "k", "2"), "error 32");
  EXPECT_EQ(Get("S", "k"), "1|1");  // reading shares writing
  CloseHandle(held);
  EXPECT_EQ(Set("S", "k", "2"), "ok");
}

TEST_F(ProfileTest, AFailedWriteLeavesTheFileAsItWas) {
  std::string before = "[S]\r\nk=1\r\nlast=x\r\n";
  Put(before);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The file may not grow by more than a few bytes: the write fails half-way.
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {before.size() + 4, before.size() + 4};
    setrlimit(RLIMIT_FSIZE, &limit);
    BOOL ok = WritePrivateProfileStringA("S", "k", std::string(100, 'z').c_str(), "c:\\p.ini");
    _exit(ok ? 1 : GetLastError() == ERROR_SUCCESS ? 2 : 0);
  }
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(Bytes(), before);
}

TEST_F(ProfileTest, ConcurrentWritersLoseNothing) {
  Put("[S]\r\n");
  // Threads of this process and a second process write keys of their own into one file.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    bool ok = true;
    for (int i = 0; i < 60; ++i) {
      std::string key = "p" + std::to_string(i);
      ok = WritePrivateProfileStringA("S", key.c_str(), "child", "c:\\p.ini") && ok;
    }
    _exit(ok ? 0 : 1);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 30; ++i) {
        std::string key = "t" + std::to_string(t) + "_" + std::to_string(i);
        EXPECT_TRUE(WritePrivateProfileStringA("S", key.c_str(), "thread", "c:\\p.ini"));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  std::string text = Bytes();
  for (int i = 0; i < 60; ++i) {
    EXPECT_EQ(Get("S", ("p" + std::to_string(i)).c_str()), "child|5");
  }
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 30; ++i) {
      EXPECT_EQ(Get("S", ("t" + std::to_string(t) + "_" + std::to_string(i)).c_str()), "thread|6");
    }
  }
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 60 + 120);
}

// A FIFO (even one with a writer, which a blocking open would wait on) or a device is no
// profile file; one larger than 16 MiB is refused rather than read whole.
TEST_F(ProfileTest, FilesThatAreNoFilesOrTooLargeAreRefused) {
  std::string fifo = (c_drive_ / "fifo.ini").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  int writer = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  EXPECT_EQ(Get("S", "k", "dflt", 2048, "c:\\fifo.ini"), "dflt|4");
  EXPECT_EQ(GetLastError(), 110u);
  EXPECT_EQ(Set("S", "k", "v", "c:\\fifo.ini"), "error 110");
  close(writer);
  EXPECT_EQ(Get("S", "k", "dflt", 2048, "/dev/null"), "dflt|4");
  EXPECT_EQ(GetLastError(), 110u);

  const size_t limit = 16 * 1024 * 1024;
  std::string head = "[S]\r\nk=v\r\n";
  // One long comment line fills the file up to the limit.
  Put(head + ";" + std::string(limit - head.size() - 1, 'x'));
  EXPECT_EQ(Get("S", "k"), "v|1");
  EXPECT_EQ(Set("S", "k", "w"), "ok");
  Put(head + ";" + std::string(limit - head.size(), 'x'));
  EXPECT_EQ(Get("S", "k"), "dflt|4");
  EXPECT_EQ(GetLastError(), 223u);
  EXPECT_EQ(Set("S", "k", "w"), "error 223");
  EXPECT_EQ(Bytes().size(), limit + 1);
}

TEST_F(ProfileTest, ListingAndDeletingFormsAreRefused) {
  Put("[S]\r\nk=1\r\n");
  char buffer[64];
  SetLastError(0);
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, "k", "d", buffer, sizeof buffer, "c:\\p.ini"), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetPrivateProfileStringA("S", nullptr, "d", buffer, sizeof buffer, "c:\\p.ini"), 0u);
  EXPECT_EQ(Set("S", "k", nullptr), "error 87");
  EXPECT_EQ(Set("S", nullptr, "v"), "error 87");
  EXPECT_EQ(Bytes(), "[S]\r\nk=1\r\n");
}

}  // namespace
}  // namespace dunmarrow::test
