// xp_FileAppendLine end to end through the ODS library: the exact bytes it appends, the files
// it refuses, and appenders that meet on one file.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>

#include "platform/windows.h"
#include "tests/unit/call_helpers.h"
#include "tests/unit/file_helpers.h"
#include "tests/unit/held_file.h"
#include "tests/unit/procedures.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;
using namespace std::string_literals;

class AppendLineTest : public DriveRootTest {
 protected:
  void SetUp() override {
    DriveRootTest::SetUp();
    std::filesystem::create_directories(c_drive_ / "out");
  }
  std::string File(const char* name = "f.txt") { return ReadBytes(c_drive_ / "out" / name); }
  bool Exists(const char* name = "f.txt") {
    return std::filesystem::exists(c_drive_ / "out" / name);
  }
  static CallResult Append(ods::Param value) {
    return Call(xp_FileAppendLine, {VarChar("c:\\out\\f.txt"), std::move(value)});
  }
  static CallResult Append(ods::Param value, ods::Param line_feed) {
    return Call(xp_FileAppendLine,
                {VarChar("c:\\out\\f.txt"), std::move(value), std::move(line_feed)});
  }
};

TEST_F(AppendLineTest, EightBitSixteenBitAndBinaryValuesWithBothLineEnds) {
  auto result = Append(VarChar("abc"));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), kPlainDone);
  EXPECT_EQ(File(), "abc\r\n");
  Append(VarChar("def"));
  EXPECT_EQ(File(), "abc\r\ndef\r\n");
  Append(NVarChar(u"ab"));
  Append(VarBinary({0x00, 0x01, 0xFF}));
  Append(Char("x", 3));
  Append(Text("t"));
  Append(NText(u"\u0436"));
  Append(Binary({0x7F}, 2));
  EXPECT_EQ(File(),
            "abc\r\ndef\r\n"
            "a\0b\0\r\0\n\0"
            "\x00\x01\xFF\r\n"
            "x  \r\n"
            "t\r\n"
            "\x36\x04\r\0\n\0"
            "\x7F\x00\r\n"s);
}

TEST_F(AppendLineTest, TheSwitchSelectsLineFeedOnly) {
  Append(VarChar("abc"), Bit(true));
  Append(VarChar("def"), Int(1));
  Append(NVarChar(u"ab"), SmallInt(256));     // bytes 00 01: not all zero
  Append(VarBinary({0xAA}), VarChar("0"));    // the byte 30
  Append(VarChar("ghi"), BigInt(1LL << 40));  // only the first four bytes count: zero
  Append(VarChar("jkl"), Int(0));
  Append(VarChar("mno"), Null(SRVINTN, 4));
  Append(VarChar("pqr"), VarChar(""));
  EXPECT_EQ(File(), "abc\ndef\na\0b\0\n\0\xAA\nghi\r\njkl\r\nmno\r\npqr\r\n"s);
}

TEST_F(AppendLineTest, EmptyAndNullValuesTouchNothing) {
  for (auto value : {VarChar(""), NVarChar(u""), VarBinary({}), Null(SRVBIGVARCHAR, 10),
                     Null(SRVBIGVARBINARY, 10)}) {
    auto result = Append(value);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.Transcript(), kPlainDone);
  }
  EXPECT_FALSE(Exists());
  WriteBytes(c_drive_ / "out" / "f.txt", "kept");
  Append(VarChar(""));
  EXPECT_EQ(File(), "kept");
}

TEST_F(AppendLineTest, AValueOfTheWholeAreaIsWrittenWholeAndALongerOneNotAtAll) {
  std::string full(8000, 'v');
  EXPECT_EQ(Append(VarChar(full)).status, 1);
  EXPECT_EQ(File(), full + "\r\n");
  for (auto value : {VarCharMax(std::string(8001, 'w')), NVarCharMax(std::u16string(4001, u'w')),
                     VarBinaryMax(ods::Bytes(8001, 1))}) {
    auto result = Append(value);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.Transcript(), DirectFailure("xp_FileAppendLine: Invalid list of parameters."));
  }
  // A switch that cannot be read leaves the file as it was, too.
  auto result = Append(VarChar("x"), VarCharMax(std::string(8001, '1')));
  EXPECT_EQ(result.Transcript(), DirectFailure("xp_FileAppendLine: Invalid list of parameters."));
  EXPECT_EQ(File(), full + "\r\n");
}

TEST_F(AppendLineTest, NamesThatCannotBeAFileFailAndLeaveNothing) {
  std::filesystem::create_directories(c_drive_ / "out" / "dir");
  for (const char* name : {"c:\\out\\dir", "c:\\out\\*.txt", "c:\\out\\f?.txt", "c:\\nodir\\f.txt",
                           "c:\\out\\f.txt\\", ""}) {
    for (auto param : {VarChar(name), NVarCharUtf8(name)}) {
      auto result = Call(xp_FileAppendLine, {param, VarChar("abc")});
      EXPECT_EQ(result.status, -1) << name;
      EXPECT_EQ(result.Transcript(), DirectFailure("xp_FileAppendLine: Range check error")) << name;
    }
  }
  EXPECT_FALSE(Exists());
  EXPECT_FALSE(std::filesystem::exists(c_drive_ / "nodir"));
  EXPECT_TRUE(std::filesystem::is_empty(c_drive_ / "out" / "dir"));
}

TEST_F(AppendLineTest, AWideNameIsTheFileItSpells) {
  EXPECT_EQ(
      Call(xp_FileAppendLine, {NVarChar(u"c:\\out\\\u0436\U0001F600.txt"), VarChar("z")}).status,
      1);
  EXPECT_EQ(ReadBytes(c_drive_ / "out" / "\xD0\xB6\xF0\x9F\x98\x80.txt"), "z\r\n");
}

TEST_F(AppendLineTest, WrongListsAreRefused) {
  std::vector<std::vector<ods::Param>> lists = {
      {VarChar("c:\\out\\f.txt")},
      {VarChar("c:\\out\\f.txt"), VarChar("a"), Int(1), Int(1)},
      {Int(1), VarChar("a")},
      {VarChar("c:\\out\\f.txt"), Int(5)},
      {VarChar("c:\\out\\f.txt"), Image({1, 2})},
      {VarBinary({'a'}), VarChar("a")},
      {},
  };
  for (const auto& list : lists) {
    auto result = Call(xp_FileAppendLine, list);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.Transcript(), DirectFailure("xp_FileAppendLine: Invalid list of parameters."));
  }
  EXPECT_FALSE(Exists());
}

TEST_F(AppendLineTest, AFileHeldForWritingIsARangeFailureAndStaysUnchanged) {
  WriteBytes(c_drive_ / "out" / "f.txt", "before\r\n");
  // Held the way an append holds it: others may read, nobody may write.
  HANDLE held = CreateFileA("c:\\out\\f.txt", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  auto result = Append(VarChar("x"));
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.Transcript(), DirectFailure("xp_FileAppendLine: Range check error"));
  CloseHandle(held);
  // A reader that shares writing does not stand in the way.
  held = CreateFileA("c:\\out\\f.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(Append(VarChar("y")).status, 1);
  CloseHandle(held);
  EXPECT_EQ(File(), "before\r\ny\r\n");
}

TEST_F(AppendLineTest, AFileHeldByAnotherProcessIsARangeFailure) {
  WriteBytes(c_drive_ / "out" / "f.txt", "before\r\n");
  FileHeldByOtherProcess held("c:\\out\\f.txt");
  ASSERT_TRUE(held.Opened());
  EXPECT_EQ(Append(VarChar("x")).Transcript(),
            DirectFailure("xp_FileAppendLine: Range check error"));
  held.Release();
  EXPECT_EQ(Append(VarChar("y")).status, 1);
  EXPECT_EQ(File(), "before\r\ny\r\n");
}

TEST_F(AppendLineTest, ManyAppendersWithRetriesLoseAndInterleaveNothing) {
  constexpr int kThreads = 8, kLines = 150;
  std::atomic<int> refused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &refused] {
      for (int i = 0; i < kLines; ++i) {
        // Long lines, so that a torn write would show.
        std::string line = "thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                           std::string(200, static_cast<char>('a' + t));
        while (Append(VarChar(line)).status != 1) ++refused;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::string text = File();
  std::multiset<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.insert(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size());
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kLines; ++i) {
      std::string line = "thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                         std::string(200, static_cast<char>('a' + t));
      EXPECT_EQ(lines.count(line), 1u) << line;
    }
  }
  RecordProperty("refused", refused.load());
}

TEST_F(AppendLineTest, AFileBeyondFourGigabytesIsAppendedAtItsEnd) {
  WriteBytes(c_drive_ / "out" / "f.txt", "head");
  std::filesystem::resize_file(c_drive_ / "out" / "f.txt", (1ull << 32) + 10);  // sparse
  EXPECT_EQ(Append(VarChar("tail")).status, 1);
  EXPECT_EQ(std::filesystem::file_size(c_drive_ / "out" / "f.txt"), (1ull << 32) + 16);
  std::ifstream in(c_drive_ / "out" / "f.txt", std::ios::binary);
  char head[4], tail[6];
  in.read(head, 4);
  in.seekg(static_cast<std::streamoff>((1ull << 32) + 10));
  in.read(tail, 6);
  EXPECT_EQ(std::string(head, 4), "head");
  EXPECT_EQ(std::string(tail, 6), "tail\r\n");
}

TEST_F(AppendLineTest, AFailedWriteTakesBackItsPart) {
  WriteBytes(c_drive_ / "out" / "f.txt", "before\r\n");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The file may grow by 3 bytes only: the write fails half-way.
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {11, 11};
    setrlimit(RLIMIT_FSIZE, &limit);
    auto result = Append(VarChar("0123456789"));
    bool reported = result.status == -1 && result.events.size() == 2 &&
                    result.events[0].text.rfind("xp_FileAppendLine: System Error.  Code: ", 0) == 0;
    _exit(reported ? 0 : 1);
  }
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(File(), "before\r\n");
}

}  // namespace
}  // namespace dunmarrow::test
