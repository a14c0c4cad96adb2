// The type system, direct parameter access, failure texts and the diagnostic log.
#include <thread>

#include "ods/numeric.h"
#include "runtime/data_kind.h"
#include "runtime/failure.h"
#include "runtime/locale_settings.h"
#include "runtime/report.h"
#include "tests/unit/call_helpers.h"
#include "tests/unit/procedures.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;

TEST(TypeMappingTest, ServerTypesToKindsAndBack) {
  EXPECT_EQ(OdsTypeKind(0xA7), dkString);
  EXPECT_EQ(OdsTypeKind(0xE7), dkWideString);
  EXPECT_EQ(OdsTypeKind(0x7F), dkBCD);
  EXPECT_EQ(OdsTypeKind(0x62), dkUnknown);
  EXPECT_EQ(OdsTypeKind(0x1F), dkUnknown);
  EXPECT_EQ(OdsTypeKind(0x22), dkBlob);
  EXPECT_EQ(OdsTypeKind(0x63), dkWideString);
  EXPECT_EQ(KindOdsType(dkString), 0xE7);
  EXPECT_EQ(KindOdsType(dkMemo), 0x63);
  EXPECT_EQ(KindOdsType(dkBlob), 0x22);
  EXPECT_EQ(KindOdsType(static_cast<TxpDataKind>(0x80 | dkInteger)), 0x26);  // low 7 bits
  EXPECT_EQ(KindOdsType(dkLargeint), 0x1F);
  // Every kind a parameter can have maps to a column type that maps back to a kind.
  for (int code = 0; code < 256; ++code) {
    TxpDataKind kind = OdsTypeKind(static_cast<uint8_t>(code));
    if (kind == dkUnknown) continue;
    EXPECT_NE(OdsTypeKind(KindOdsType(kind)), dkUnknown) << code;
  }
}

TEST(TypeMappingTest, DateTimeAndMoneyLayouts) {
  auto bytes = [](const uint8_t* b) { return ByteStringOf(b, 8); };
  EXPECT_EQ(bytes(DateTimeToOdsDateTime(2.0).bytes), (ods::Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
  // 2.5: noon of 1900-01-01, 12960000 ticks.
  EXPECT_EQ(bytes(DateTimeToOdsDateTime(2.5).bytes), (ods::Bytes{0, 0, 0, 0, 0x00, 0xC1, 0xC5, 0}));
  // Before 1900: negative days, the time of day as a positive fraction.
  EXPECT_EQ(bytes(DateTimeToOdsDateTime(-1.25).bytes),
            (ods::Bytes{0xFD, 0xFF, 0xFF, 0xFF, 0x80, 0xE0, 0x62, 0x00}));
  // 5 ms is 1.5 ticks, rounded to the even 2; 15 ms is 4.5 ticks, rounded to 4.
  EXPECT_EQ(DateTimeToOdsDateTime(2.0 + 5.0 / 86400000).bytes[4], 2);
  EXPECT_EQ(DateTimeToOdsDateTime(2.0 + 15.0 / 86400000).bytes[4], 4);
  EXPECT_THROW(DateTimeToOdsDateTime(3e9), Exception);
  EXPECT_EQ(bytes(CurrencyToOdsMoney(15000).bytes), (ods::Bytes{0, 0, 0, 0, 0x98, 0x3A, 0, 0}));
  for (int64_t value : {int64_t{0}, int64_t{-1}, int64_t{15000}, INT64_MIN, INT64_MAX}) {
    EXPECT_EQ(OdsMoneyToCurrency(CurrencyToOdsMoney(value).bytes), value);
  }
}

// A procedure that reads its parameters with ReadParam and keeps what it saw.
std::vector<std::pair<bool, TxpParamBuffer>> seen;
int ReadAllParams(SRV_PROC* srvproc) {
  for (int n = 1; n <= 3; ++n) {
    auto buffer = std::make_unique<TxpParamBuffer>();
    bool ok = ReadParam(srvproc, n, *buffer);
    seen.emplace_back(ok, *buffer);
  }
  return 0;
}

TEST(ReadParamTest, NullEmptyAndMissingParameters) {
  seen.clear();
  Call(ReadAllParams, {Null(SRVNVARCHAR, 20), VarChar("", 4)});
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_TRUE(seen[0].first);
  EXPECT_NE(seen[0].second.Null, 0);
  EXPECT_EQ(seen[0].second.Type, 0xE7);
  EXPECT_EQ(seen[0].second.MaxLen, 20u);
  EXPECT_TRUE(seen[1].first);
  EXPECT_EQ(seen[1].second.Null, 0);
  EXPECT_EQ(seen[1].second.ActualLen, 0u);
  EXPECT_FALSE(seen[2].first);  // beyond the parameters of the call
}

TEST(ReadParamTest, ValueIsFollowedByZeros) {
  seen.clear();
  Call(ReadAllParams, {VarChar(std::string(8000, 'a')), VarChar("ab"), Int(-1)});
  EXPECT_EQ(seen[0].second.ActualLen, 8000u);
  EXPECT_EQ(seen[0].second.Terminator[0], 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(seen[1].second.Data)), "ab");
  EXPECT_EQ(seen[1].second.Data[2], 0);
  EXPECT_EQ(seen[2].second.ActualLen, 4u);
  EXPECT_EQ(seen[2].second.Data[3], 0xFF);
}

TEST(FailureTextTest, SystemErrorTexts) {
  EXPECT_EQ(OsErrorMessage(2),
            "System Error.  Code: 2.\r\nThe system cannot find the file specified");
  EXPECT_EQ(OsErrorMessage(0x80090005u), "System Error.  Code: -2146893819.\r\nBad Data");
  EXPECT_EQ(OsErrorMessage(0), "A call to an OS function failed");
  // A code without a text keeps the code line.
  EXPECT_EQ(OsErrorMessage(99999), "System Error.  Code: 99999.\r\n");
  SetLastError(3);
  try {
    CheckOsResult(0);
    FAIL() << "no failure raised";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "System Error.  Code: 3.\r\nThe system cannot find the path specified");
    EXPECT_NE(e.Address(), nullptr);
  }
  EXPECT_EQ(CheckOsResult(-5), -5);
}

TEST(FailureTextTest, CheckedNarrowing) {
  EXPECT_EQ(CheckedNarrow<int32_t>(int64_t{2147483647}), 2147483647);
  EXPECT_THROW(CheckedNarrow<int32_t>(int64_t{2147483648}), Exception);
  EXPECT_THROW(CheckedNarrow<uint32_t>(-1), Exception);
}

TEST(LogTimestampTest, PicturesAndMidnight) {
  SYSTEMTIME t{2026, 12, 3, 9, 15, 4, 5, 0};
  DateTimeFormats us;
  EXPECT_EQ(FormatLogTimestamp(t, us), "12/9/2026 3:04:05 PM");
  DateTimeFormats de{"dd.MM.yyyy", "HH:mm:ss"};
  EXPECT_EQ(FormatLogTimestamp(t, de), "09.12.2026 15:04:05");
  SYSTEMTIME midnight{2026, 1, 4, 1, 0, 0, 0, 0};
  EXPECT_EQ(FormatLogTimestamp(midnight, us), "1/1/2026");
  SYSTEMTIME just_after{2026, 1, 4, 1, 0, 0, 0, 1};
  EXPECT_EQ(FormatLogTimestamp(just_after, us), "1/1/2026 12:00:00 AM");
  EXPECT_EQ(FormatPicture("yy-M-d 'at' h", t), "26-12-9 at 3");
}

class LogTest : public DriveRootTest {};

TEST_F(LogTest, FirstReportCreatesTheLogAndLaterOnesAppend) {
  EXPECT_EQ(ReadLog(), "");
  AppendLogLine(kDiagnosticLog, "", true);  // nothing for an empty text
  EXPECT_FALSE(std::filesystem::exists(c_drive_ / "Wexcombe.log"));
  AppendLogLine(kDiagnosticLog, "one", true);
  AppendLogLine(kDiagnosticLog, "two", true);
  std::string log = ReadLog();
  EXPECT_TRUE(std::regex_match(log, std::regex(R"(\[[^\]]+\] one\r\n\[[^\]]+\] two\r\n)"))) << log;
  AppendLogLine(kDiagnosticLog, "fresh", false);  // not appending: a new file
  EXPECT_TRUE(std::regex_match(ReadLog(), std::regex(R"(\[[^\]]+\] fresh\r\n)")));
}

TEST_F(LogTest, MissingDriveLeavesTheReportIntact) {
  std::filesystem::remove_all(c_drive_);
  auto result = Call(xp_FileExists, {});
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.Transcript(), DirectFailure("xp_FileExists: Invalid list of parameters."));
}

TEST_F(LogTest, ConcurrentReportsGiveCompleteSeparateLines) {
  auto report = [](const char* name) {
    for (int i = 0; i < 1000; ++i) Call(xp_FileExists, {Int(i)});
    (void)name;
  };
  std::thread first(report, "a"), second(report, "b");
  first.join();
  second.join();
  std::string log = ReadLog();
  std::regex line(
      R"(\[[^\]\r\n]+\] xp_FileExists: Invalid list of parameters\. \(Runtime Addr: \$[0-9A-F]{8}\)\r\n)");
  auto count =
      std::distance(std::sregex_iterator(log.begin(), log.end(), line), std::sregex_iterator());
  EXPECT_EQ(count, 2000);
  // Nothing but those lines.
  EXPECT_EQ(std::regex_replace(log, line, ""), "");
}

}  // namespace
}  // namespace dunmarrow::test
