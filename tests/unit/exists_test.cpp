// xp_FileExists and xp_DirExists end to end through the ODS library.
#include <fstream>

#include "runtime/export.h"
#include "tests/unit/call_helpers.h"

XP_PROCEDURE(xp_FileExists);
XP_PROCEDURE(xp_DirExists);

namespace dunmarrow::test {
namespace {

using namespace ods::params;

class ExistsTest : public DriveRootTest {
 protected:
  void SetUp() override {
    DriveRootTest::SetUp();
    std::filesystem::create_directories(c_drive_ / "data");
    std::ofstream(c_drive_ / "data" / "in.txt") << "x";
  }
};

TEST_F(ExistsTest, FileAndDirectoryAnswers) {
  struct Case {
    std::string path;
    int file, dir;
  } cases[] = {
      {"c:\\data\\in.txt", 1, 0},
      {"c:\\data", 0, 1},
      {"c:\\data\\", 0, 1},
      {"c:\\", 0, 1},
      {"C:\\DATA\\in.txt", 0, 0},
      {"c:\\missing.txt", 0, 0},
      {"c:\\*.txt", 0, 0},
      {"c:\\data\\in.txt\\", 0, 0},
      {"", 0, 0},
  };
  for (const auto& c : cases) {
    for (auto param : {VarChar(c.path), NVarCharUtf8(c.path)}) {
      auto file = Call(xp_FileExists, {param});
      auto dir = Call(xp_DirExists, {param});
      EXPECT_EQ(file.status, c.file) << c.path;
      EXPECT_EQ(dir.status, c.dir) << c.path;
      EXPECT_EQ(file.Transcript(), kPlainDone) << c.path;
      EXPECT_EQ(dir.Transcript(), kPlainDone) << c.path;
    }
  }
}

TEST_F(ExistsTest, NullTextIsNoWithoutMessage) {
  auto result = Call(xp_FileExists, {Null(SRVBIGVARCHAR, 10)});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.Transcript(), kPlainDone);
  EXPECT_EQ(Call(xp_DirExists, {Null(SRVNVARCHAR, 20)}).status, 0);
}

TEST_F(ExistsTest, WidePathOutsideAnsiIsFound) {
  std::ofstream(c_drive_ / "data" / "\xD0\xB6\xF0\x9F\x98\x80.txt") << "x";  // "ж😀.txt"
  auto result = Call(xp_FileExists, {NVarChar(u"c:\\data\\\u0436\U0001F600.txt")});
  EXPECT_EQ(result.status, 1);
}

TEST_F(ExistsTest, WrongParameterListsFailWithReport) {
  std::vector<std::vector<ods::Param>> lists = {
      {}, {VarChar("a"), VarChar("b")}, {Int(1)}, {VarBinary({1, 2})}, {DateTime(0, 0)}};
  for (const auto& list : lists) {
    auto result = Call(xp_FileExists, list);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.Transcript(), DirectFailure("xp_FileExists: Invalid list of parameters."));
  }
  auto dir = Call(xp_DirExists, {Int(1), Int(2)});
  EXPECT_EQ(dir.Transcript(), DirectFailure("xp_DirExists: Invalid list of parameters."));
}

TEST_F(ExistsTest, FailureIsLoggedWithTimestamp) {
  Call(xp_FileExists, {Int(1)});
  Call(xp_DirExists, {});
  std::string log = ReadLog();
  std::regex line(
      R"(\[[0-9]{1,2}/[0-9]{1,2}/[0-9]{4}( [0-9]{1,2}:[0-9]{2}:[0-9]{2} [AP]M)?\] )"
      R"((xp_FileExists|xp_DirExists): Invalid list of parameters\. \(Runtime Addr: \$[0-9A-F]{8}\)\r\n)");
  auto begin = std::sregex_iterator(log.begin(), log.end(), line);
  EXPECT_EQ(std::distance(begin, std::sregex_iterator()), 2) << log;
}

TEST_F(ExistsTest, PathFillingTheWholeAreaIsReadWithoutOverrun) {
  // 8000 bytes of path, no terminator in the value itself.
  std::string path = "c:\\" + std::string(7997, 'a');
  EXPECT_EQ(Call(xp_FileExists, {VarChar(path)}).status, 0);
  std::u16string wide = u"c:\\" + std::u16string(3997, u'a');
  EXPECT_EQ(Call(xp_FileExists, {NVarChar(wide)}).status, 0);
}

TEST_F(ExistsTest, ValueLongerThanTheAreaIsAnInvalidList) {
  std::string path = "c:\\data\\in.txt" + std::string(8001, '\0');
  auto result = Call(xp_FileExists, {VarCharMax(path)});
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.Transcript(), DirectFailure("xp_FileExists: Invalid list of parameters."));
}

}  // namespace
}  // namespace dunmarrow::test
