// The Linux stand-ins for the temporary path and temporary file names.
#include <cstring>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "platform/windows.h"
#include "tests/unit/call_helpers.h"
#include "tests/unit/file_helpers.h"

namespace dunmarrow::test {
namespace {

TEST(TempPathTest, IsTmpdirOrTmpEndingInASeparator) {
  char buffer[MAX_PATH + 1];
  {
    ScopedTmpDir tmp("/var/tmp/x");
    EXPECT_EQ(GetTempPathA(sizeof buffer, buffer), 11u);
    EXPECT_STREQ(buffer, "/var/tmp/x/");
  }
  {
    ScopedTmpDir tmp("/var/tmp/y/");
    EXPECT_EQ(GetTempPathA(sizeof buffer, buffer), 11u);
    EXPECT_STREQ(buffer, "/var/tmp/y/");
  }
  for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
    ScopedTmpDir tmp(unset);
    EXPECT_EQ(GetTempPathA(sizeof buffer, buffer), 5u);
    EXPECT_STREQ(buffer, "/tmp/");
  }
}

TEST(TempPathTest, TooSmallABufferGetsTheSizeNeeded) {
  ScopedTmpDir tmp("/var/tmp/x");
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetTempPathA(11, buffer), 12u);  // with the terminator
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(GetTempPathA(12, buffer), 11u);
  EXPECT_EQ(GetTempPathA(0, nullptr), 12u);
}

TEST(TempPathTest, WideFormCountsUnits) {
  ScopedTmpDir tmp("/tmp/\xD0\xB6\xF0\x9F\x98\x80");  // "ж😀": 1 + 2 units
  WCHAR buffer[MAX_PATH + 1];
  EXPECT_EQ(GetTempPathW(MAX_PATH + 1, buffer), 9u);
  EXPECT_EQ(std::u16string(buffer), u"/tmp/\u0436\U0001F600/");
  EXPECT_EQ(GetTempPathW(9, buffer), 10u);
  EXPECT_EQ(buffer[0], u'\0');
}

class TempFileNameTest : public DriveRootTest {};

TEST_F(TempFileNameTest, NamesAreDirectoryPrefixHexAndTmp) {
  char name[MAX_PATH];
  UINT number = GetTempFileNameA("c:\\", "abcdef", 0, name);
  ASSERT_NE(number, 0u);
  ASSERT_LE(number, 0xFFFFu);
  char expected[32];
  std::snprintf(expected, sizeof expected, "c:\\abc%X.TMP", number);
  EXPECT_STREQ(name, expected);
  EXPECT_TRUE(std::filesystem::is_regular_file(c_drive_ / (expected + 3)));
  EXPECT_EQ(std::filesystem::file_size(c_drive_ / (expected + 3)), 0u);

  std::filesystem::create_directories(c_drive_ / "t");
  number = GetTempFileNameA("c:\\t", "", 0, name);
  std::snprintf(expected, sizeof expected, "c:\\t\\%X.TMP", number);
  EXPECT_STREQ(name, expected);
  // A host path takes a slash.
  std::string host = (c_drive_ / "t").string();
  number = GetTempFileNameA(host.c_str(), "x\xD0\xB6yz", 0, name);
  EXPECT_EQ(
      std::string(name), host + "/x\xD0\xB6y" + [&] {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X.TMP", number);
        return std::string(hex);
      }());
}

TEST_F(TempFileNameTest, AGivenNumberOnlyBuildsTheName) {
  char name[MAX_PATH];
  EXPECT_EQ(GetTempFileNameA("c:\\", "pre", 0xBEEF, name), 0xBEEFu);
  EXPECT_STREQ(name, "c:\\preBEEF.TMP");
  EXPECT_FALSE(std::filesystem::exists(c_drive_ / "preBEEF.TMP"));
  // The directory must still be there.
  SetLastError(0);
  EXPECT_EQ(GetTempFileNameA("c:\\nodir", "pre", 0xBEEF, name), 0u);
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
}

TEST_F(TempFileNameTest, RelativeDirectoriesTakeABackslash) {
  std::filesystem::create_directories(c_drive_ / "rel");
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(c_drive_);
  char name[MAX_PATH];
  EXPECT_EQ(GetTempFileNameA(".", "pre", 0x12A, name), 0x12Au);
  EXPECT_STREQ(name, ".\\pre12A.TMP");
  UINT number = GetTempFileNameA("rel", "pre", 0, name);
  ASSERT_NE(number, 0u);
  char expected[32];
  std::snprintf(expected, sizeof expected, "rel\\pre%X.TMP", number);
  EXPECT_STREQ(name, expected);
  EXPECT_TRUE(std::filesystem::is_regular_file(c_drive_ / "rel" / (expected + 4)));
  std::filesystem::current_path(previous);
}

TEST_F(TempFileNameTest, FailsWithTheWindowsCodes) {
  char name[MAX_PATH];
  std::ofstream(c_drive_ / "file") << "x";
  auto error = [&](const std::string& directory, const char* prefix = "p") {
    SetLastError(0);
    UINT number = GetTempFileNameA(directory.c_str(), prefix, 0, name);
    return number == 0 ? GetLastError() : 0u;
  };
  EXPECT_EQ(error("c:\\nodir"), ERROR_DIRECTORY);
  EXPECT_EQ(error("c:\\file"), ERROR_DIRECTORY);
  EXPECT_EQ(error("c:\\" + std::string(244, 'd')), ERROR_BUFFER_OVERFLOW);
  EXPECT_EQ(error("c:\\a*"), ERROR_INVALID_NAME);
  EXPECT_EQ(error("c:\\", "a?"), ERROR_INVALID_NAME);
  // 246 characters is the longest directory; in UTF-8 the whole name must still fit.
  std::string deep = "c:\\" + std::string(243, 'd');
  std::filesystem::create_directories(c_drive_ / std::string(243, 'd'));
  EXPECT_EQ(error(deep), 0u);
  std::string made = name;
  EXPECT_EQ(made.substr(0, deep.size() + 2), deep + "\\p");
  EXPECT_TRUE(std::regex_match(made.substr(deep.size() + 2), std::regex("[0-9A-F]{1,4}\\.TMP")));
  EXPECT_EQ(error(deep, "\xD0\xB6\xD0\xB6\xD0\xB6"), ERROR_BUFFER_OVERFLOW);
}

TEST_F(TempFileNameTest, ConcurrentCallersGetDifferentFiles) {
  std::mutex mutex;
  std::set<std::string> names;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 60; ++i) {
        char name[MAX_PATH];
        UINT number = GetTempFileNameA("c:\\", "tmp", 0, name);
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_NE(number, 0u);
        EXPECT_TRUE(names.insert(name).second) << name;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(names.size(), 480u);
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(c_drive_)) {
    files +=
        std::regex_match(entry.path().filename().string(), std::regex("tmp[0-9A-F]{1,4}\\.TMP"));
  }
  EXPECT_EQ(files, 480u);
}

}  // namespace
}  // namespace dunmarrow::test
