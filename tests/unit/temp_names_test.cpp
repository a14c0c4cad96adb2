// xp_GetTempDir and xp_GetTempFile end to end through the ODS library.
#include <regex>

#include "platform/windows.h"
#include "tests/unit/call_helpers.h"
#include "tests/unit/file_helpers.h"
#include "tests/unit/procedures.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;

class TempDirTest : public DriveRootTest {};

TEST_F(TempDirTest, WritesThePathCutToTheParameter) {
  ScopedTmpDir tmp("/var/tmp/dunmarrow");
  auto result = Call(xp_GetTempDir, {Output(VarChar("", 255))});
  EXPECT_EQ(result.status, 19);
  EXPECT_EQ(result.Transcript(),
            (std::vector<std::string>{"paramsetoutput 1 " + Hex("/var/tmp/dunmarrow/"),
                                      "senddone status=0x0001 info=0 count=0"}));
  // A varchar(5) gets 5 characters; the status stays the full length.
  result = Call(xp_GetTempDir, {Output(VarChar("", 5))});
  EXPECT_EQ(result.status, 19);
  EXPECT_EQ(result.Transcript()[0], "paramsetoutput 1 " + Hex("/var/"));
  // UTF-16 for an nvarchar; the status counts characters, the cut counts bytes.
  result = Call(xp_GetTempDir, {Output(NVarChar(u"", 100))});
  EXPECT_EQ(result.status, 19);
  EXPECT_EQ(result.Transcript()[0], "paramsetoutput 1 " + Hex(Utf16Bytes(u"/var/tmp/dunmarrow/")));
  result = Call(xp_GetTempDir, {Output(NVarChar(u"", 3))});
  EXPECT_EQ(result.Transcript()[0], "paramsetoutput 1 " + Hex(Utf16Bytes(u"/va")));
}

TEST_F(TempDirTest, CharactersOutsideAsciiAreCountedAsTheSystemCounts) {
  ScopedTmpDir tmp("/tmp/\xD0\xB6");  // ж: two bytes, one UTF-16 unit
  EXPECT_EQ(Call(xp_GetTempDir, {Output(VarChar("", 50))}).status, 8);
  auto wide = Call(xp_GetTempDir, {Output(NVarChar(u"", 50))});
  EXPECT_EQ(wide.status, 7);
  EXPECT_EQ(wide.Transcript()[0], "paramsetoutput 1 " + Hex(Utf16Bytes(u"/tmp/\u0436/")));
}

TEST_F(TempDirTest, WithoutOutputOnlyTheLengthComesBack) {
  ScopedTmpDir tmp("/var/tmp/dunmarrow");
  auto result = Call(xp_GetTempDir, {VarChar("abc", 255)});
  EXPECT_EQ(result.status, 19);
  EXPECT_EQ(result.Transcript(), kPlainDone);
}

TEST_F(TempDirTest, BadListsAndAPathLongerThanTheArea) {
  for (const auto& list : std::vector<std::vector<ods::Param>>{
           {}, {Output(Int(0))}, {Output(VarChar("", 9)), Output(VarChar("", 9))}}) {
    auto result = Call(xp_GetTempDir, list);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.Transcript(), DirectFailure("xp_GetTempDir: Invalid list of parameters."));
  }
  // The system answers with the size it would need: nothing may be sent from the area.
  std::string deep = "/" + std::string(8100, 'd');
  ScopedTmpDir tmp(deep.c_str());
  for (auto param : {Output(VarChar("", 255)), Output(NVarChar(u"", 255))}) {
    auto result = Call(xp_GetTempDir, {param});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.Transcript(), DirectFailure("xp_GetTempDir: Range check error"));
  }
}

class TempFileTest : public DriveRootTest {
 protected:
  void SetUp() override {
    DriveRootTest::SetUp();
    tmp_ = root_ / "tmp";
    std::filesystem::create_directories(tmp_);
    std::filesystem::create_directories(c_drive_ / "t");
    tmpdir_ = std::make_unique<ScopedTmpDir>(tmp_.c_str());
  }
  void TearDown() override {
    tmpdir_.reset();
    DriveRootTest::TearDown();
  }
  // The name written back into parameter 1, from the transcript.
  static std::string NameOf(const CallResult& result) {
    for (const auto& e : result.events) {
      if (e.kind == ods::EventKind::ParamSetOutput && e.number == 1) {
        return std::string(e.data.begin(), e.data.end());
      }
    }
    return "(none)";
  }
  static int Files(const std::filesystem::path& dir) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      count += entry.is_regular_file();
    return count;
  }
  std::filesystem::path tmp_;
  std::unique_ptr<ScopedTmpDir> tmpdir_;
};

TEST_F(TempFileTest, OnlyTheOutputParameterMakesAFileInTheTemporaryDirectory) {
  auto result = Call(xp_GetTempFile, {Output(VarChar("", 255))});
  ASSERT_GT(result.status, 0);
  char expected[64];
  std::snprintf(expected, sizeof expected, "/%X.TMP", result.status);
  std::string name = NameOf(result);
  EXPECT_EQ(name, tmp_.string() + expected);
  ASSERT_EQ(result.events.size(), 2u);
  EXPECT_EQ(result.Transcript()[0], "senddone status=0x0001 info=0 count=0");
  EXPECT_EQ(result.events[1].kind, ods::EventKind::ParamSetOutput);
  EXPECT_TRUE(std::filesystem::is_regular_file(name));
  EXPECT_EQ(std::filesystem::file_size(name), 0u);
}

TEST_F(TempFileTest, DirectoryAndPrefixOfThreeCharacters) {
  auto result =
      Call(xp_GetTempFile, {Output(VarChar("", 255)), VarChar("c:\\t"), VarChar("abcdef")});
  char expected[64];
  std::snprintf(expected, sizeof expected, "c:\\t\\abc%X.TMP", result.status);
  EXPECT_EQ(NameOf(result), expected);
  EXPECT_TRUE(std::filesystem::is_regular_file(c_drive_ / "t" / (expected + 5)));
  // An empty or NULL directory is the temporary directory; an empty or NULL prefix is none.
  for (auto dir : {VarChar(""), Null(SRVBIGVARCHAR, 10), NVarChar(u"")}) {
    for (auto prefix : {VarChar(""), Null(SRVNVARCHAR, 10)}) {
      result = Call(xp_GetTempFile, {Output(VarChar("", 255)), dir, prefix});
      std::snprintf(expected, sizeof expected, "/%X.TMP", result.status);
      EXPECT_EQ(NameOf(result), tmp_.string() + expected);
    }
  }
  // A directory or prefix of another kind is not text: it is passed over.
  result = Call(xp_GetTempFile, {Output(VarChar("", 255)), Int(5), Int(6)});
  std::snprintf(expected, sizeof expected, "/%X.TMP", result.status);
  EXPECT_EQ(NameOf(result), tmp_.string() + expected);
  EXPECT_EQ(Files(tmp_), 7);
}

TEST_F(TempFileTest, TheNameGoesBackInTheParametersOwnFormAndLength) {
  auto result =
      Call(xp_GetTempFile, {Output(NVarChar(u"", 100)), NVarChar(u"c:\\t"), NVarChar(u"\u0436")});
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", result.status);
  std::u16string expected = u"c:\\t\\\u0436";
  for (const char* c = hex; *c; ++c) expected += static_cast<char16_t>(*c);
  expected += u".TMP";
  EXPECT_EQ(result.Transcript()[1], "paramsetoutput 1 " + Hex(Utf16Bytes(expected)));
  // A name that a varchar(5) cannot hold whole fails before any file is made.
  result = Call(xp_GetTempFile, {Output(VarChar("", 5)), VarChar("c:\\t")});
  EXPECT_EQ(result.status, -1);
  std::vector<std::string> failure =
      ContextFailure("xp_GetTempFile: Result too long for the output (1st param)");
  failure.insert(failure.begin() + 1, "paramset 1 NULL");  // the output as it came
  EXPECT_EQ(result.Transcript(), failure);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(c_drive_ / "t"),
                          std::filesystem::directory_iterator{}),
            1);
}

TEST_F(TempFileTest, FailuresMakeNoFile) {
  for (const auto& list : std::vector<std::vector<ods::Param>>{
           {}, {VarChar("", 255)}, {Output(Int(0))}, {Output(VarBinary({}, 10))}}) {
    auto result = Call(xp_GetTempFile, list);
    EXPECT_EQ(result.status, -1);
    ASSERT_GE(result.Transcript().size(), 2u);
    EXPECT_EQ(result.Transcript().front(), "senddone status=0x0001 info=0 count=0");
    EXPECT_EQ(result.Transcript().back(),
              ContextFailure("xp_GetTempFile: Invalid list of parameters.").back());
  }
  auto result = Call(xp_GetTempFile, {Output(VarChar("", 255)), VarChar("c:\\nodir")});
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(
      result.Transcript(),
      ContextFailure("xp_GetTempFile: System Error.  Code: 267.\\r\\nThe directory name is invalid",
                     {"paramset 1 NULL"}));
  {
    // A temporary path longer than the procedure's buffer is refused, not cut.
    std::string deep = "/" + std::string(300, 'd');
    ScopedTmpDir tmp(deep.c_str());
    result = Call(xp_GetTempFile, {Output(VarChar("", 255))});
    EXPECT_EQ(result.Transcript(),
              ContextFailure("xp_GetTempFile: Range check error", {"paramset 1 NULL"}));
  }
  EXPECT_EQ(Files(tmp_), 0);
  EXPECT_EQ(Files(c_drive_ / "t"), 0);
}

}  // namespace
}  // namespace dunmarrow::test
