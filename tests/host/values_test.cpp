// The server's conversions between SQL values, and exact decimals.
#include <gtest/gtest.h>

#include "host/sqlcmd_output.h"
#include "tsql/errors.h"
#include "tsql/value.h"

namespace dunmarrow::host {
namespace {

Value Text(const std::string& s) {
  return Value::Chars(s, TypeOf(TypeId::VarChar, 8000));
}

std::string AsText(const Value& v, int style = 0) {
  return Convert(v, TypeOf(TypeId::VarChar, 100), Conversion::kExplicit, style).text;
}

// The error number a conversion raises, or 0.
int ErrorOf(const Value& v, const SqlType& target, Conversion mode = Conversion::kExplicit) {
  try {
    Convert(v, target, mode);
  } catch (const SqlError& e) {
    return e.number;
  }
  return 0;
}

TEST(Decimal, ParsesFormatsAndRoundsHalfAwayFromZero) {
  auto d = Decimal::Parse("-12.345");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->ToString(), "-12.345");
  EXPECT_EQ(d->Precision(), 5);
  EXPECT_EQ(d->Rescale(2)->ToString(), "-12.35");
  EXPECT_EQ(d->Rescale(0)->ToString(), "-12");
  EXPECT_EQ(Decimal::Parse("0.05")->Precision(), 2);
  EXPECT_EQ(Decimal::Parse("0.5")->ToString(false), ".5");
  EXPECT_EQ(Decimal::Parse("-0.5")->ToString(false), "-.5");
  EXPECT_EQ(Decimal::Parse("2.5")->Rescale(0)->ToString(), "3");
  // 38 digits fit, 39 do not; scaling past 38 digits fails.
  std::string nines(38, '9');
  ASSERT_TRUE(Decimal::Parse(nines));
  EXPECT_EQ(Decimal::Parse(nines)->ToString(), nines);
  EXPECT_FALSE(Decimal::Parse(nines + "9"));
  EXPECT_FALSE(Decimal::Parse(nines)->Rescale(1));
  EXPECT_FALSE(Decimal::Parse(nines)->Rescale(0)->Rescale(0).value().FitsPrecision(37));
  EXPECT_FALSE(Decimal::Parse("1e3"));
  EXPECT_FALSE(Decimal::Parse("."));
}

TEST(Decimal, AddsAcrossScalesAndSigns) {
  auto sum = AddDecimals(*Decimal::Parse("1.25"), *Decimal::Parse("-3.5"));
  ASSERT_TRUE(sum);
  EXPECT_EQ(sum->ToString(), "-2.25");
  std::string nines(38, '9');
  EXPECT_FALSE(AddDecimals(*Decimal::Parse(nines), *Decimal::Parse("1")));
}

TEST(Decimal, FromDoubleUsesTheShortestFormAndTheNumericLayout) {
  EXPECT_EQ(Decimal::FromDouble(0.1, 30)->ToString(), "0.100000000000000000000000000000");
  EXPECT_EQ(Decimal::FromDouble(2.5, 0)->ToString(), "3");
  EXPECT_EQ(Decimal::FromDouble(-0.125, 2)->ToString(), "-0.13");
  EXPECT_EQ(Decimal::FromDouble(1e-300, 2)->ToString(), "0.00");
  EXPECT_FALSE(Decimal::FromDouble(1e39, 0));
  uint8_t numeric[19];
  Decimal::Parse("-123.45")->ToNumeric(10, numeric);
  EXPECT_EQ(numeric[0], 10);
  EXPECT_EQ(numeric[1], 2);
  EXPECT_EQ(numeric[2], 0);  // negative
  EXPECT_EQ(numeric[3] | (numeric[4] << 8), 12345);
  EXPECT_EQ(Decimal::FromNumeric(numeric).ToString(), "-123.45");
}

TEST(Convert, TextToNumbers) {
  EXPECT_EQ(Convert(Text(" 42 "), TypeOf(TypeId::Int)).integer, 42);
  EXPECT_EQ(Convert(Text(""), TypeOf(TypeId::Int)).integer, 0);
  EXPECT_EQ(Convert(Text("true"), TypeOf(TypeId::Bit)).integer, 1);
  EXPECT_EQ(ErrorOf(Text("1.5"), TypeOf(TypeId::Int)), 245);
  EXPECT_EQ(ErrorOf(Text("abc"), TypeOf(TypeId::Int)), 245);
  EXPECT_EQ(ErrorOf(Text("300"), TypeOf(TypeId::TinyInt)), 248);
  EXPECT_EQ(ErrorOf(Text("99999999999999999999"), TypeOf(TypeId::BigInt)), 248);
  EXPECT_DOUBLE_EQ(Convert(Text("1e3"), TypeOf(TypeId::Float)).real, 1000);
  EXPECT_EQ(ErrorOf(Text("1x"), TypeOf(TypeId::Float)), 8114);
  EXPECT_EQ(ErrorOf(Text("inf"), TypeOf(TypeId::Float)), 8114);
  EXPECT_EQ(Convert(Text("-1.005"), DecimalType(5, 2)).decimal.ToString(), "-1.01");
  EXPECT_EQ(ErrorOf(Text("1000"), DecimalType(5, 2)), 8115);
  EXPECT_EQ(ErrorOf(Text("1e3"), DecimalType(5, 2)), 8114);
  EXPECT_EQ(Convert(Text("$1,234.5"), TypeOf(TypeId::Money)).integer, 12345000);
  EXPECT_EQ(Convert(Text("-$0.00005"), TypeOf(TypeId::Money)).integer, -1);
  EXPECT_EQ(ErrorOf(Text("12a"), TypeOf(TypeId::Money)), 235);
  EXPECT_EQ(ErrorOf(Text("300000"), TypeOf(TypeId::SmallMoney)), 8115);
}

TEST(Convert, NumbersChecksRangesAndRounds) {
  EXPECT_EQ(ErrorOf(Value::Integer(300), TypeOf(TypeId::TinyInt)), 220);
  EXPECT_EQ(ErrorOf(Value::Integer(3000000000LL, TypeId::BigInt), TypeOf(TypeId::Int)), 8115);
  EXPECT_EQ(Convert(Value::Float(-2.7), TypeOf(TypeId::Int)).integer, -2);
  EXPECT_EQ(ErrorOf(Value::Float(1e300), TypeOf(TypeId::BigInt)), 8115);
  EXPECT_EQ(Convert(Value::Money(25000), TypeOf(TypeId::Int)).integer, 3);  // 2.5 rounds up
  EXPECT_EQ(Convert(Value::Integer(2), TypeOf(TypeId::Bit)).integer, 1);
  EXPECT_EQ(ErrorOf(Value::Float(1e39), TypeOf(TypeId::Real)), 8115);
  EXPECT_EQ(Convert(Value::Integer(7), DecimalType(4, 2)).decimal.ToString(), "7.00");
  EXPECT_EQ(ErrorOf(Value::Integer(100), DecimalType(3, 2)), 8115);
}

TEST(Convert, NumbersToText) {
  EXPECT_EQ(AsText(Value::Integer(-17)), "-17");
  EXPECT_EQ(AsText(Value::Float(1234567.0)), "1.23457e+006");
  EXPECT_EQ(AsText(Value::Float(0.5)), "0.5");
  EXPECT_EQ(AsText(Value::Float(1234567.0), 2), "1.234567000000000e+006");
  EXPECT_EQ(AsText(Value::Money(-12345678)), "-1234.57");
  EXPECT_EQ(AsText(Value::Money(12345678), 1), "1,234.57");
  EXPECT_EQ(AsText(Value::Money(12345678), 2), "1234.5678");
  EXPECT_EQ(AsText(Value::Exact(*Decimal::Parse("0.50"), 3)), "0.50");
  // Too long for the target: integers become "*", other numbers overflow.
  EXPECT_EQ(Convert(Value::Integer(123), TypeOf(TypeId::VarChar, 2)).text, "*");
  EXPECT_EQ(ErrorOf(Value::Float(1.5), TypeOf(TypeId::VarChar, 2)), 8115);
  EXPECT_EQ(ErrorOf(Value::Integer(123), TypeOf(TypeId::NVarChar, 2)), 8115);
}

TEST(Convert, TextIsCutAndPaddedToTheTarget) {
  EXPECT_EQ(Convert(Text("abcdef"), TypeOf(TypeId::VarChar, 3)).text, "abc");
  EXPECT_EQ(Convert(Text("ab"), TypeOf(TypeId::Char, 4)).text, "ab  ");
  // A multi-byte character is not split.
  EXPECT_EQ(Convert(Text("a\xC3\xA9"), TypeOf(TypeId::VarChar, 2)).text, "a");
  Value wide = Convert(Text("h\xC3\xA9llo"), TypeOf(TypeId::NChar, 6));
  EXPECT_EQ(wide.wide, u"h\u00e9llo ");
  EXPECT_EQ(Convert(wide, TypeOf(TypeId::VarChar, 10)).text, "h\xC3\xA9llo ");
}

TEST(Convert, DatesParseFormatAndRound) {
  Value dt = Convert(Text("2020-02-29 23:59:59.998"), TypeOf(TypeId::DateTime));
  EXPECT_EQ(AsText(dt, 121), "2020-02-29 23:59:59.997");
  EXPECT_EQ(AsText(Convert(Text("2020-02-29 23:59:59.999"), TypeOf(TypeId::DateTime)), 121),
            "2020-03-01 00:00:00.000");
  EXPECT_EQ(AsText(Convert(Text("20200102"), TypeOf(TypeId::DateTime))), "Jan  2 2020 12:00AM");
  EXPECT_EQ(AsText(Convert(Text("Mar 5 2021 3:07PM"), TypeOf(TypeId::DateTime)), 120),
            "2021-03-05 15:07:00");
  EXPECT_EQ(AsText(Convert(Text("12/31/1999"), TypeOf(TypeId::DateTime)), 112), "19991231");
  EXPECT_EQ(AsText(Convert(Text(""), TypeOf(TypeId::DateTime)), 126), "1900-01-01T00:00:00");
  EXPECT_EQ(AsText(Convert(Text("2020-01-01 10:00:29.998"), TypeOf(TypeId::SmallDateTime)), 120),
            "2020-01-01 10:00:00");
  EXPECT_EQ(AsText(Convert(Text("2020-01-01 10:00:29.999"), TypeOf(TypeId::SmallDateTime)), 120),
            "2020-01-01 10:01:00");
  EXPECT_EQ(ErrorOf(Text("2021-02-29"), TypeOf(TypeId::DateTime)), 242);
  EXPECT_EQ(ErrorOf(Text("1752-12-31"), TypeOf(TypeId::DateTime)), 242);
  EXPECT_EQ(ErrorOf(Text("2080-01-01"), TypeOf(TypeId::SmallDateTime)), 242);
  EXPECT_EQ(ErrorOf(Text("yesterday"), TypeOf(TypeId::DateTime)), 241);
  EXPECT_EQ(ErrorOf(Text("25:00"), TypeOf(TypeId::DateTime)), 241);
  // Numbers are days since 1900-01-01; noon rounds up to the next day.
  EXPECT_EQ(AsText(Convert(Value::Float(1.5), TypeOf(TypeId::DateTime)), 120),
            "1900-01-02 12:00:00");
  EXPECT_EQ(Convert(Convert(Value::Float(1.5), TypeOf(TypeId::DateTime)), TypeOf(TypeId::Int),
                    Conversion::kExplicit)
                .integer,
            2);
  EXPECT_EQ(ErrorOf(dt, TypeOf(TypeId::Int), Conversion::kImplicit), 257);
  EXPECT_EQ(ErrorOf(Value::Integer(3000000), TypeOf(TypeId::DateTime)), 8115);
}

TEST(Convert, BinaryAndGuid) {
  Value bytes = Value::Binary({0x41, 0x42, 0x01}, TypeOf(TypeId::VarBinary, 3));
  EXPECT_EQ(AsText(bytes, 1), "0x414201");
  EXPECT_EQ(AsText(bytes, 2), "414201");
  EXPECT_EQ(Convert(bytes, TypeOf(TypeId::Int)).integer, 0x414201);
  EXPECT_EQ(ErrorOf(bytes, TypeOf(TypeId::VarChar, 10), Conversion::kImplicit), 257);
  EXPECT_EQ(ErrorOf(bytes, TypeOf(TypeId::Float)), 529);
  EXPECT_EQ(Convert(Value::Integer(258), TypeOf(TypeId::Binary, 1)).bytes, ByteString{2});
  EXPECT_EQ(Convert(Value::Integer(1), TypeOf(TypeId::Binary, 6)).bytes,
            (ByteString{0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(Convert(Text("AB"), TypeOf(TypeId::Binary, 3), Conversion::kExplicit).bytes,
            (ByteString{0x41, 0x42, 0}));
  EXPECT_EQ(ErrorOf(Text("0xZZ"), TypeOf(TypeId::VarBinary, 4)), 0);  // style 0: the bytes
  Value guid = Convert(Text("{6f9619ff-8b86-d011-b42d-00c04fc964ff}"), TypeOf(TypeId::Guid));
  EXPECT_EQ(guid.bytes[0], 0xFF);  // the first group is stored little-endian
  EXPECT_EQ(GuidText(guid.bytes), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
  EXPECT_EQ(ErrorOf(Text("6F9619FF-8B86"), TypeOf(TypeId::Guid)), 8169);
  EXPECT_EQ(ErrorOf(guid, TypeOf(TypeId::Char, 10)), 8170);
  EXPECT_EQ(ErrorOf(Value::Integer(1), TypeOf(TypeId::Guid)), 529);
  EXPECT_EQ(ErrorOf(Value::Integer(1), TypeOf(TypeId::Guid), Conversion::kImplicit), 206);
}

TEST(Convert, NullsKeepTheirTypeRules) {
  Value typed = Value::Null(TypeOf(TypeId::Int));
  EXPECT_EQ(ErrorOf(typed, TypeOf(TypeId::Guid)), 529);
  Value converted = Convert(Value::UntypedNull(), TypeOf(TypeId::Guid));
  EXPECT_TRUE(converted.null);
  EXPECT_EQ(converted.type.id, TypeId::Guid);
  EXPECT_EQ(ErrorOf(Value::Null(TypeOf(TypeId::Text)), TypeOf(TypeId::Int)), 529);
}

TEST(Display, SqlcmdForms) {
  EXPECT_EQ(DisplayText(Value::Float(1000)), "1000.0");
  EXPECT_EQ(DisplayText(Value::Float(0.1)), "0.10000000000000001");
  EXPECT_EQ(DisplayText(Value::Float(1e20)), "1.0E+20");
  EXPECT_EQ(DisplayText(Value::Float(1.1f, TypeId::Real)), "1.1");
  EXPECT_EQ(DisplayText(Value::Money(-2500)), "-.2500");
  EXPECT_EQ(DisplayText(Value::Exact(*Decimal::Parse("0.5"), 1)), ".5");
  EXPECT_EQ(DisplayText(Value::Null(TypeOf(TypeId::Int))), "NULL");
  EXPECT_EQ(DisplayText(Value::Binary({}, TypeOf(TypeId::VarBinary, 1))), "0x");
}

}  // namespace
}  // namespace dunmarrow::host
