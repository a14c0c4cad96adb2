// xp_IniWriteKey and xp_IniReadKey end to end through the ODS library.
#include <sys/stat.h>

#include "platform/windows.h"
#include "tests/unit/call_helpers.h"
#include "tests/unit/file_helpers.h"
#include "tests/unit/procedures.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;

class IniKeysTest : public DriveRootTest {
 protected:
  std::string Ini(const char* name = "app.ini") { return ReadBytes(c_drive_ / name); }
  static CallResult Write(const char* section, const char* key, ods::Param value,
                          const char* file = "c:\\app.ini") {
    return Call(xp_IniWriteKey, {VarChar(file), VarChar(section), VarChar(key), std::move(value)});
  }
  static CallResult Read(const char* section, const char* key, ods::Param fallback,
                         ods::Param out = Output(VarChar("", 4000)),
                         const char* file = "c:\\app.ini") {
    return Call(xp_IniReadKey, {VarChar(file), VarChar(section), VarChar(key), std::move(fallback),
                                std::move(out)});
  }
};

TEST_F(IniKeysTest, WriteCreatesTheFileAndReadFindsTheKey) {
  auto written = Write("Main", "Name", VarChar("abc"));
  EXPECT_EQ(written.status, 1);
  EXPECT_EQ(written.Transcript(), kPlainDone);
  EXPECT_EQ(Ini(), "[Main]\r\nName=abc\r\n");
  auto read = Read("Main", "Name", VarChar("x"));
  EXPECT_EQ(read.status, 3);
  EXPECT_EQ(read.Transcript(), (std::vector<std::string>{"senddone status=0x0001 info=0 count=0",
                                                         "paramsetoutput 5 " + Hex("abc")}));
  // Names match without regard to case; a second key goes after the first.
  EXPECT_EQ(Write("MAIN", "Other", VarChar("1")).status, 1);
  EXPECT_EQ(Write("main", "NAME", VarChar("")).status, 1);  // empty: kept as "Name="
  EXPECT_EQ(Ini(), "[Main]\r\nName=\r\nOther=1\r\n");
  read = Read("Main", "name", VarChar("x"));
  EXPECT_EQ(read.status, 0);
  EXPECT_EQ(read.Transcript()[1], "paramset 5 NULL");  // an empty text is NULL to the server
}

TEST_F(IniKeysTest, DefaultsForMissingFilesSectionsAndKeys) {
  WriteBytes(c_drive_ / "app.ini", "[Main]\r\nName=abc\r\n");
  auto read = Read("Main", "Missing", VarChar("dflt"));
  EXPECT_EQ(read.status, 4);
  EXPECT_EQ(read.Transcript()[1], "paramsetoutput 5 " + Hex("dflt"));
  EXPECT_EQ(Read("Nope", "Name", VarChar("d")).status, 1);
  EXPECT_EQ(Read("Main", "Name", VarChar("d"), Output(VarChar("", 10)), "c:\\none.ini").status, 1);
  read = Read("Main", "Missing", VarChar(""));
  EXPECT_EQ(read.status, 0);
  EXPECT_EQ(read.Transcript()[1], "paramset 5 NULL");
  EXPECT_EQ(Read("Main", "Missing", Null(SRVBIGVARCHAR, 10)).status, 0);
  EXPECT_EQ(Read("Main", "Missing", VarChar("d  ")).status, 1);
}

TEST_F(IniKeysTest, LongValuesAreCutTo2047Characters) {
  std::string value(3000, 'v');
  EXPECT_EQ(Write("S", "Long", VarCharMax(value)).status, 1);
  auto read = Read("S", "Long", VarChar(""), Output(VarCharMax("")));
  EXPECT_EQ(read.status, 2047);
  ASSERT_EQ(read.events.size(), 2u);
  EXPECT_EQ(std::string(read.events[1].data.begin(), read.events[1].data.end()),
            std::string(2047, 'v'));
  // A value longer than 8000 bytes is written whole, never cut.
  EXPECT_EQ(Write("S", "Huge", VarCharMax(std::string(8001, 'h'))).status, 1);
  EXPECT_NE(Ini().find("Huge=" + std::string(8001, 'h') + "\r\n"), std::string::npos);
}

TEST_F(IniKeysTest, SixteenBitTextIsConvertedBothWays) {
  EXPECT_EQ(Call(xp_IniWriteKey, {NVarChar(u"c:\\\u0436.ini"), NVarChar(u"\u00C4rger"),
                                  NVarChar(u"K"), NVarChar(u"\u20AC\U0001F600")})
                .status,
            1);
  EXPECT_EQ(Ini("\xD0\xB6.ini"), "[\xC3\x84rger]\r\nK=\xE2\x82\xAC\xF0\x9F\x98\x80\r\n");
  // Read back into an nvarchar: UTF-16; the status counts the ANSI characters (bytes here).
  auto read = Call(xp_IniReadKey, {NVarChar(u"c:\\\u0436.ini"), NVarChar(u"\u00E4rger"),
                                   VarChar("k"), VarChar(""), Output(NVarChar(u"", 10))});
  EXPECT_EQ(read.status, 7);
  EXPECT_EQ(read.Transcript()[1], "paramsetoutput 5 " + Hex(Utf16Bytes(u"\u20AC\U0001F600")));
  // Into an nvarchar(1): 2 bytes.
  read = Call(xp_IniReadKey, {NVarChar(u"c:\\\u0436.ini"), VarChar("\xC3\x84rger"), VarChar("k"),
                              VarChar(""), Output(NVarChar(u"", 1))});
  EXPECT_EQ(read.Transcript()[1], "paramsetoutput 5 " + Hex(Utf16Bytes(u"\u20AC")));
}

TEST_F(IniKeysTest, WithoutOutputOnlyTheLengthComesBack) {
  WriteBytes(c_drive_ / "app.ini", "[Main]\r\nName=abc\r\n");
  auto read = Read("Main", "Name", VarChar("x"), VarChar("", 10));
  EXPECT_EQ(read.status, 3);
  EXPECT_EQ(read.Transcript(), kPlainDone);
}

TEST_F(IniKeysTest, WriteFailuresComeAfterTheDone) {
  auto result = Write("S", "k", VarChar("v"), "c:\\nodir\\app.ini");
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(
      result.Transcript(),
      ContextFailure("xp_IniWriteKey: System Error.  Code: 3.\\r\\nThe system cannot find the "
                     "path specified"));
  WriteBytes(c_drive_ / "app.ini", "[S]\r\nk=1\r\n");
  std::filesystem::permissions(c_drive_ / "app.ini", std::filesystem::perms::owner_read);
  EXPECT_EQ(Write("S", "k", VarChar("2")).Transcript(),
            ContextFailure("xp_IniWriteKey: System Error.  Code: 5.\\r\\nAccess is denied"));
  EXPECT_EQ(Ini(), "[S]\r\nk=1\r\n");
  EXPECT_FALSE(std::filesystem::exists(c_drive_ / "nodir"));
}

// A file that is there but is no file to read (a FIFO, a device) fails at once instead of
// blocking or reading without end; a missing one still gives the default.
TEST_F(IniKeysTest, ReadingWhatIsNoFileFails) {
  std::string fifo = (c_drive_ / "fifo.ini").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  const std::string failure =
      "xp_IniReadKey: System Error.  Code: 110.\\r\\nThe system cannot "
      "open the device or file specified";
  for (const char* file : {"c:\\fifo.ini", "/dev/null"}) {
    auto read = Read("S", "k", VarChar("d"), Output(VarChar("", 10)), file);
    EXPECT_EQ(read.status, -1) << file;
    std::vector<std::string> expected = ContextFailure(failure);
    expected.insert(expected.begin() + 1, "paramset 5 NULL");  // the output as it came
    EXPECT_EQ(read.Transcript(), expected) << file;
  }
  EXPECT_EQ(Write("S", "k", VarChar("v"), "c:\\fifo.ini").Transcript(),
            ContextFailure("xp_IniWriteKey: System Error.  Code: 110.\\r\\nThe system cannot "
                           "open the device or file specified"));
}

TEST_F(IniKeysTest, WrongListsAreRefused) {
  const std::vector<std::vector<ods::Param>> write_lists = {
      {VarChar("c:\\a.ini"), VarChar("S"), VarChar("k")},
      {VarChar("c:\\a.ini"), VarChar("S"), VarChar("k"), VarChar("v"), VarChar("x")},
      {VarChar("c:\\a.ini"), VarChar("S"), VarChar("k"), Int(1)},
      {Int(1), VarChar("S"), VarChar("k"), VarChar("v")},
      {VarChar("c:\\a.ini"), VarBinary({'S'}), VarChar("k"), VarChar("v")},
  };
  for (const auto& list : write_lists) {
    EXPECT_EQ(Call(xp_IniWriteKey, list).Transcript(),
              ContextFailure("xp_IniWriteKey: Invalid list of parameters."));
  }
  EXPECT_FALSE(std::filesystem::exists(c_drive_ / "a.ini"));
  const std::vector<std::vector<ods::Param>> read_lists = {
      {VarChar("c:\\a.ini"), VarChar("S"), VarChar("k"), VarChar("d")},
      {VarChar("c:\\a.ini"), VarChar("S"), VarChar("k"), VarChar("d"), Output(Int(0))},
      {VarChar("c:\\a.ini"), VarChar("S"), VarChar("k"), Int(0), Output(VarChar("", 9))},
  };
  for (const auto& list : read_lists) {
    auto result = Call(xp_IniReadKey, list);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.Transcript().front(), "senddone status=0x0001 info=0 count=0");
    EXPECT_EQ(result.Transcript().back(),
              ContextFailure("xp_IniReadKey: Invalid list of parameters.").back());
  }
}

}  // namespace
}  // namespace dunmarrow::test
