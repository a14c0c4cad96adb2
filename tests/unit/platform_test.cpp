// The Linux stand-ins behave like the Windows functions: results and error codes.
#include <fstream>

#include "platform/linux/drives.h"
#include "platform/windows.h"
#include "tests/unit/call_helpers.h"

namespace dunmarrow::test {
namespace {

std::u16string Wide(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_ACP, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, utf8.data(), static_cast<int>(utf8.size()),
                      reinterpret_cast<LPWSTR>(out.data()), n);
  return out;
}

std::string Narrow(const std::u16string& wide) {
  const auto* units = reinterpret_cast<LPCWSTR>(wide.data());
  int n = WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(wide.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(wide.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

TEST(CodePageTest, ConversionsKeepEveryCharacter) {
  EXPECT_EQ(GetACP(), 65001u);
  std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  std::u16string wide = Wide(text);
  EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F600z");
  EXPECT_EQ(Narrow(wide), text);
  // An invalid byte becomes U+FFFD, or fails when asked to.
  EXPECT_EQ(Wide("a\xFF"
                 "b"),
            u"a\uFFFDb");
  char16_t out[8];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "a\xFF", 2,
                                reinterpret_cast<LPWSTR>(out), 8),
            0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  // An unpaired surrogate becomes U+FFFD.
  EXPECT_EQ(Narrow(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  // Too small a buffer fails without writing past it; -1 counts the terminator.
  char small[3] = {'#', '#', '#'};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWSTR>(u"\u20AC"), 1, small, 2,
                                nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(small[2], '#');
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(CodePageTest, MalformedInputFlagsAndLengthsAsOnWindows) {
  // One U+FFFD per malformed sequence, ending where the sequence shows it cannot be valid.
  EXPECT_EQ(Wide("\xE2\x82"
                 "A"),
            u"\uFFFDA");
  EXPECT_EQ(Wide("\xE0\x80\x80"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Wide("\xED\xA0\x80"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Wide("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Wide("\xF0\x9F\x98"), u"\uFFFD");
  EXPECT_EQ(Wide("\xC0\x80"), u"\uFFFD\uFFFD");
  // Any negative length means "through the terminator".
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", -7, nullptr, 0), 3);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<LPCWSTR>(u"ab"), -7, nullptr, 0,
                                nullptr, nullptr),
            3);
  // UTF-8 takes no other flags than the ones that reject invalid input.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 1, "ab", 2, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0x400, reinterpret_cast<LPCWSTR>(u"ab"), 2, nullptr, 0,
                                nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
  std::u16string lone = std::u16string(1, char16_t(0xDC00)) + u"x";
  EXPECT_EQ(
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, reinterpret_cast<LPCWSTR>(lone.data()), 2,
                          nullptr, 0, nullptr, nullptr),
      0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, reinterpret_cast<LPCWSTR>(u"\u00E9"),
                                1, nullptr, 0, nullptr, nullptr),
            2);
}

TEST(SystemTextTest, FormatMessageGivesWindowsTexts) {
  char text[256];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 32,
                           0, text, sizeof text, nullptr);
  EXPECT_EQ(std::string(text, n),
            "The process cannot access the file because it is being used by another process.\r\n");
  EXPECT_EQ(
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 424242, 0, text, sizeof text, nullptr),
      0u);
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, 0, text, 10, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

class FilesTest : public DriveRootTest {
 protected:
  void SetUp() override {
    DriveRootTest::SetUp();
    std::filesystem::create_directories(c_drive_ / "dir");
    std::ofstream(c_drive_ / "dir" / "f.txt") << "x";
  }
};

TEST_F(FilesTest, DriveLettersMapBelowTheRoot) {
  EXPECT_EQ(winplatform::MapPath("c:\\dir\\f.txt"), root_.string() + "/c/dir/f.txt");
  EXPECT_EQ(winplatform::MapPath("D:x"), root_.string() + "/d/x");
  EXPECT_EQ(winplatform::MapPath("/etc/hostname"), "/etc/hostname");
  EXPECT_EQ(winplatform::MapPath("rel\\path"), "rel/path");
}

// Paths are read as Windows reads them: either separator, "." and ".." by name, trailing dots
// and spaces of the last element dropped, names in any case.
TEST_F(FilesTest, PathsAreReadTheWindowsWay) {
  std::filesystem::create_directories(c_drive_ / "Data" / "Sub");
  std::ofstream(c_drive_ / "Data" / "Sub" / "Report.TXT") << "x";
  const std::string found = (c_drive_ / "Data" / "Sub" / "Report.TXT").string();
  for (const char* path :
       {"c:\\data\\sub\\report.txt", "C:/DATA/SUB/REPORT.TXT", "c:\\Data\\Sub\\Report.TXT. .",
        "c:\\Data\\missing\\..\\Sub\\Report.TXT", "c:\\..\\Data\\.\\Sub.\\Report.TXT"}) {
    EXPECT_EQ(winplatform::MapPath(path), found) << path;
    EXPECT_EQ(GetFileAttributesA(path), FILE_ATTRIBUTE_ARCHIVE) << path;
  }
  // A name that is not there keeps its spelling below the directory that was found.
  EXPECT_EQ(winplatform::MapPath("c:\\DATA\\New Name.txt"),
            (c_drive_ / "Data" / "New Name.txt").string());
  HANDLE created =
      CreateFileA("c:\\data\\SUB\\new.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(created));
  EXPECT_TRUE(std::filesystem::exists(c_drive_ / "Data" / "Sub" / "new.txt"));

  // Control characters are not allowed in names; an ANSI path longer than MAX_PATH is refused
  // before it is looked at; a name too long for Linux is simply not there.
  EXPECT_EQ(GetFileAttributesA("c:\\data\\a\tb"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  std::string long_path = "c:\\" + std::string(260, 'x');
  EXPECT_EQ(GetFileAttributesA(long_path.substr(0, 260).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA(long_path.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
  std::u16string wide_long = Wide(long_path);
  EXPECT_EQ(GetFileAttributesW(reinterpret_cast<LPCWSTR>(wide_long.c_str())),
            INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesTest, AttributesAndErrorCodes) {
  struct Case {
    const char* path;
    DWORD attributes, error;
  } cases[] = {
      {"c:\\dir\\f.txt", FILE_ATTRIBUTE_ARCHIVE, 0},
      {"c:\\dir", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"c:\\dir\\", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"c:/dir/", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"c:\\", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"c:\\dir\\missing.txt", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
      {"c:\\nodir\\missing.txt", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {"c:\\dir\\f.txt\\x", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {"c:\\dir\\*.txt", INVALID_FILE_ATTRIBUTES, ERROR_INVALID_NAME},
      {"c:\\dir\\f?.txt", INVALID_FILE_ATTRIBUTES, ERROR_INVALID_NAME},
      {"", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {"q:\\", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesA(c.path), c.attributes) << c.path;
    if (c.error) {
      EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
    std::u16string wide = Wide(c.path);
    EXPECT_EQ(GetFileAttributesW(reinterpret_cast<LPCWSTR>(wide.c_str())), c.attributes) << c.path;
  }
  std::filesystem::permissions(c_drive_ / "dir" / "f.txt", std::filesystem::perms::owner_read |
                                                               std::filesystem::perms::group_read);
  EXPECT_EQ(GetFileAttributesA("c:\\dir\\f.txt"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
}

TEST_F(FilesTest, ShareModesDecideWhetherASecondOpenSucceeds) {
  const char* path = "c:\\dir\\f.txt";
  const DWORD rw = GENERIC_READ | GENERIC_WRITE;
  HANDLE writer = CreateFileA(path, rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  // Another writer is refused; a reader that shares writing is allowed.
  EXPECT_EQ(CreateFileA(path, rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  HANDLE reader = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  // Replacing the file while it is open fails and leaves its contents.
  EXPECT_EQ(CreateFileA(path, rw, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::filesystem::file_size(c_drive_ / "dir" / "f.txt"), 1u);
  EXPECT_TRUE(CloseHandle(reader));
  EXPECT_TRUE(CloseHandle(writer));
  HANDLE again = CreateFileA(path, rw, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(std::filesystem::file_size(c_drive_ / "dir" / "f.txt"), 0u);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(again, "abc", 3, &written, nullptr));
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(SetFilePointer(again, 0, nullptr, FILE_END), 3u);
  EXPECT_TRUE(CloseHandle(again));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FilesTest, CreateFileErrorCodes) {
  struct Case {
    const char* path;
    DWORD disposition, error;
  } cases[] = {
      {"c:\\dir\\f.txt", CREATE_NEW, ERROR_FILE_EXISTS},
      {"c:\\dir\\missing.txt", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {"c:\\nodir\\new.txt", CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
      {"c:\\dir", OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {"c:\\dir", CREATE_ALWAYS, ERROR_ACCESS_DENIED},
      {"c:\\dir\\*.txt", CREATE_ALWAYS, ERROR_INVALID_NAME},
      {"", OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(
        CreateFileA(c.path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, c.disposition, 0, nullptr),
        INVALID_HANDLE_VALUE)
        << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
  }
}

}  // namespace
}  // namespace dunmarrow::test
