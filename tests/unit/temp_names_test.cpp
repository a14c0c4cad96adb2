// xp_GetTempDir and xp_GetTempFile end to end through the ODS library.
#include "platform/windows.h"
#include "runtime/export.h"
#include "tests/unit/call_helpers.h"
#include "tests/unit/file_helpers.h"

XP_PROCEDURE(xp_GetTempDir);

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

}  // namespace
}  // namespace dunmarrow::test
