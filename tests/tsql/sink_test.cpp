// The engine's events as a protocol encoder sees them: every value type in its exact typed
// form, messages with their numbers and lines, statement ends with their counts, and the
// events of a procedure inside a batch.
#include <gtest/gtest.h>

#include "tests/tsql/engine_fixture.h"

namespace dunmarrow::tsql {
namespace {

using Kind = Event::Kind;

TEST_F(EngineTest, SelectReportsEveryValueTypeExactly) {
  RunBatch(
      "SELECT CAST(200 AS tinyint) t, CAST(-300 AS smallint) s, -5 i, CAST(9000000000 AS bigint) "
      "b, CAST(1 AS bit) bt, CAST(1.5 AS float) f, CAST(0.25 AS real) r, "
      "CAST(123.45 AS decimal(10,2)) d, CAST(-7 AS numeric(5,1)) n, CAST(12.3456 AS money) m, "
      "CAST(-1 AS smallmoney) sm, CAST('2024-01-02 03:04:05' AS datetime) dt, "
      "CAST('2024-01-02 03:04:05' AS smalldatetime) sdt, CAST('ab' AS char(3)) c, 'é' vc, "
      "N'é' nv, CAST(N'x' AS nvarchar(max)) nvm, CAST('x' AS text) tx, CAST(N'x' AS ntext) ntx, "
      "0x0102 vb, CAST(0x01 AS binary(2)) bn, CAST(0x01 AS image) im, "
      "CAST('6F9619FF-8B86-D011-B42D-00C04FC964FF' AS uniqueidentifier) g, "
      "CAST(NULL AS varchar(5)) nvc, NULL un");
  ASSERT_EQ(Kinds(), (std::vector<Kind>{Kind::kColumns, Kind::kRow, Kind::kEnd}));
  const auto& columns = sink.Events()[0].columns;
  const auto& row = sink.Events()[1].row;
  ASSERT_EQ(columns.size(), 25u);
  ASSERT_EQ(row.size(), 25u);
  auto type = [&](size_t i) { return columns[i].type; };

  EXPECT_EQ(type(0), TypeOf(TypeId::TinyInt));
  EXPECT_EQ(row[0].integer, 200);
  EXPECT_EQ(type(1), TypeOf(TypeId::SmallInt));
  EXPECT_EQ(row[1].integer, -300);
  EXPECT_EQ(type(2), TypeOf(TypeId::Int));
  EXPECT_EQ(row[2].integer, -5);
  EXPECT_EQ(type(3), TypeOf(TypeId::BigInt));
  EXPECT_EQ(row[3].integer, 9000000000);
  EXPECT_EQ(type(4), TypeOf(TypeId::Bit));
  EXPECT_EQ(row[4].integer, 1);
  EXPECT_EQ(type(5), TypeOf(TypeId::Float));
  EXPECT_EQ(row[5].real, 1.5);
  EXPECT_EQ(type(6), TypeOf(TypeId::Real));
  EXPECT_EQ(row[6].real, 0.25);
  // decimal(10,2) 123.45: 12345 at scale 2.
  EXPECT_EQ(type(7), DecimalType(10, 2, TypeId::Decimal));
  EXPECT_FALSE(row[7].decimal.negative);
  EXPECT_EQ(row[7].decimal.magnitude.Low64(), 12345u);
  EXPECT_EQ(row[7].decimal.scale, 2);
  EXPECT_EQ(type(8), DecimalType(5, 1, TypeId::Numeric));
  EXPECT_TRUE(row[8].decimal.negative);
  EXPECT_EQ(row[8].decimal.magnitude.Low64(), 70u);
  // money in ten-thousandths.
  EXPECT_EQ(type(9), TypeOf(TypeId::Money));
  EXPECT_EQ(row[9].integer, 123456);
  EXPECT_EQ(type(10), TypeOf(TypeId::SmallMoney));
  EXPECT_EQ(row[10].integer, -10000);
  // datetime: days since 1900 and 1/300 s (the TDS bytes EB B0 00 00 5C 8F 32 00).
  EXPECT_EQ(type(11), TypeOf(TypeId::DateTime));
  EXPECT_EQ(row[11].datetime.days, 0xB0EB);
  EXPECT_EQ(row[11].datetime.ticks, 0x328F5Cu);
  EXPECT_EQ(type(12), TypeOf(TypeId::SmallDateTime));
  EXPECT_EQ(row[12].datetime.days, 0xB0EB);
  EXPECT_EQ(row[12].datetime.ticks, 0xB8u * 60 * kTicksPerSecond);  // 03:04
  // 8-bit text with its code page, padded to char's length; 16-bit text as UTF-16.
  EXPECT_EQ(type(13), TypeOf(TypeId::Char, 3));
  EXPECT_EQ(row[13].text, "ab ");
  EXPECT_EQ(columns[13].code_page, AnsiCodePage());
  EXPECT_EQ(type(14), TypeOf(TypeId::VarChar, 2));
  EXPECT_EQ(row[14].text, "\xC3\xA9");  // UTF-8 is the ANSI code page here
  EXPECT_EQ(type(15), TypeOf(TypeId::NVarChar, 1));
  EXPECT_EQ(row[15].wide, u"\u00e9");
  EXPECT_EQ(columns[15].code_page, 0u);
  EXPECT_EQ(type(16), TypeOf(TypeId::NVarChar, kMaxLength));
  EXPECT_EQ(type(17).id, TypeId::Text);
  EXPECT_EQ(row[17].text, "x");
  EXPECT_EQ(type(18).id, TypeId::NText);
  EXPECT_EQ(row[18].wide, u"x");
  EXPECT_EQ(type(19), TypeOf(TypeId::VarBinary, 2));
  EXPECT_EQ(row[19].bytes, (ByteString{1, 2}));
  EXPECT_EQ(type(20), TypeOf(TypeId::Binary, 2));
  EXPECT_EQ(row[20].bytes, (ByteString{1, 0}));
  EXPECT_EQ(type(21).id, TypeId::Image);
  // uniqueidentifier in the server's storage order (Data1..3 little-endian).
  EXPECT_EQ(type(22), TypeOf(TypeId::Guid));
  EXPECT_EQ(row[22].bytes, (ByteString{0xFF, 0x19, 0x96, 0x6F, 0x86, 0x8B, 0x11, 0xD0, 0xB4, 0x2D,
                                       0x00, 0xC0, 0x4F, 0xC9, 0x64, 0xFF}));
  // NULLs keep their type; the NULL constant is a NULL int.
  EXPECT_EQ(type(23), TypeOf(TypeId::VarChar, 5));
  EXPECT_TRUE(row[23].null);
  EXPECT_TRUE(columns[23].nullable);
  EXPECT_EQ(type(24), TypeOf(TypeId::Int));
  EXPECT_TRUE(row[24].null);
  EXPECT_FALSE(columns[0].nullable);

  const Done& done = sink.Events()[2].done;
  EXPECT_EQ(done.kind, Done::Kind::kStatement);
  EXPECT_EQ(done.count, 1);
  EXPECT_FALSE(done.error);
}

TEST_F(EngineTest, MessagesAndStatementEnds) {
  RunBatch("PRINT 'hi'\nSET NOCOUNT ON\nSELECT 1\nSELECT CAST('x' AS int)\nPRINT 'not run'");
  ASSERT_EQ(Kinds(), (std::vector<Kind>{Kind::kInfo, Kind::kEnd, Kind::kEnd, Kind::kColumns,
                                        Kind::kRow, Kind::kEnd, Kind::kInfo, Kind::kEnd}));
  const auto& events = sink.Events();
  EXPECT_EQ(events[0].message.number, 0);
  EXPECT_EQ(events[0].message.severity, 0);
  EXPECT_EQ(events[0].message.text, "hi");
  EXPECT_EQ(events[0].message.line, 1);
  EXPECT_EQ(events[5].done.count, std::nullopt);  // NOCOUNT ON
  const Message& error = events[6].message;
  EXPECT_EQ(error.number, 245);
  EXPECT_EQ(error.severity, 16);
  EXPECT_EQ(error.line, 4);
  EXPECT_EQ(error.text,
            "Conversion failed when converting the varchar value 'x' to data type int.");
  EXPECT_TRUE(events[7].done.error);
  EXPECT_TRUE(session->State().nocount);  // the option outlives the batch
}

TEST_F(EngineTest, ProcedureInABatch) {
  RegisterTestProcedures();
  RunBatch("DECLARE @r int\nEXEC @r = xp_hosttest_messages");
  ASSERT_EQ(Kinds(), (std::vector<Kind>{Kind::kEnd, Kind::kInfo, Kind::kColumns, Kind::kEnd,
                                        Kind::kInfo, Kind::kEnd, Kind::kReturnStatus, Kind::kEnd}));
  const auto& events = sink.Events();
  EXPECT_EQ(events[1].message.text, "hosttest: an informational message");
  EXPECT_EQ(events[2].columns[0].name, "Empty");
  EXPECT_EQ(events[3].done.kind, Done::Kind::kInProc);
  EXPECT_EQ(events[3].done.count, 0);
  EXPECT_EQ(events[4].message.number, 50001);
  EXPECT_EQ(events[4].message.severity, 16);
  EXPECT_EQ(events[4].message.state, 3);
  EXPECT_EQ(events[4].message.line, 7);
  EXPECT_EQ(events[6].status, 3);
  EXPECT_EQ(events[7].done.kind, Done::Kind::kProc);
  EXPECT_TRUE(events[7].done.error);
}

TEST_F(EngineTest, ProcedureRowsAreTypedByTheirColumns) {
  RegisterTestProcedures();
  RunBatch("xp_hosttest_rows");
  auto rows = sink.Of(Kind::kRow);
  auto columns = sink.Of(Kind::kColumns);
  ASSERT_EQ(rows.size(), 2u);
  ASSERT_EQ(columns.size(), 1u);
  EXPECT_EQ(columns[0].columns[3].type, TypeOf(TypeId::Money));
  EXPECT_EQ(rows[0].row[3].integer, 15000);  // 1.5
  EXPECT_EQ(columns[0].columns[4].type.id, TypeId::Numeric);
  EXPECT_EQ(rows[0].row[4].decimal.ToString(), "-123.45");
  EXPECT_EQ(rows[0].row[7].wide, u"h\u00e9llo");
  for (const Value& v : rows[1].row) EXPECT_TRUE(v.null);
  EXPECT_EQ(sink.Of(Kind::kEnd)[0].done.count, 2);
}

}  // namespace
}  // namespace dunmarrow::tsql
