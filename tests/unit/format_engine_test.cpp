// The format engine: directive grammar, conversions, float digits and notations, currency
// layouts, and the driver's growth.
#include "procs/format/format_engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "runtime/failure.h"

namespace dunmarrow::test {
namespace {

std::string Utf8(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Ascii16(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

// en-US: point decimals, comma grouping, $ with 2 decimals, layouts 0 and 0.
RegionalFormat EnUs() {
  RegionalFormat s;
  s.currency_symbol = u"$";
  s.currency_decimals = 2;
  return s;
}

// de-DE: comma decimals, point grouping, euro after the amount (layouts 3 and 8).
RegionalFormat DeDe() {
  RegionalFormat s;
  s.decimal_separator = u',';
  s.thousand_separator = u'.';
  s.currency_symbol = u"\u20AC";
  s.currency_decimals = 2;
  s.positive_currency_format = 3;
  s.negative_currency_format = 8;
  return s;
}

FormatArg I(int32_t v) {
  return FormatArg::Integer(v);
}
FormatArg F(long double v) {
  return FormatArg::Float(v);
}
FormatArg M(int64_t ten_thousandths) {
  return FormatArg::Currency(ten_thousandths);
}
FormatArg S(std::u16string v) {
  return FormatArg::WideText(std::move(v));
}
FormatArg B(bool v) {
  return FormatArg::Boolean(v);
}

std::string Format(std::u16string_view format, std::vector<FormatArg> args = {},
                   const RegionalFormat& settings = EnUs()) {
  return Utf8(FormatWideText(format, args, settings));
}

// The failure message of formatting, or "" when it succeeds.
std::string FailureOf(std::u16string_view format, std::vector<FormatArg> args = {}) {
  try {
    FormatWideText(format, args, EnUs());
  } catch (const Exception& failure) {
    return failure.Message();
  }
  return "";
}

std::string Float(long double value, FloatNotation notation, int precision, int digits,
                  const RegionalFormat& settings = EnUs()) {
  return Utf8(FormatFloatText(F(value), notation, precision, digits, settings));
}

std::string Money(int64_t amount, FloatNotation notation, int precision, int digits,
                  const RegionalFormat& settings = EnUs()) {
  return Utf8(FormatFloatText(M(amount), notation, precision, digits, settings));
}

// ---------------------------------------------------------------------------------------------

TEST(FormatGrammar, LiteralsPercentAndUnfinishedDirectives) {
  EXPECT_EQ(Format(u""), "");
  EXPECT_EQ(Format(u"plain text"), "plain text");
  EXPECT_EQ(Format(u"%%"), "%");
  EXPECT_EQ(Format(u"100%% sure %%%%"), "100% sure %%");
  EXPECT_EQ(Format(u"abc%"), "abc");
  EXPECT_EQ(Format(u"abc%5"), "abc");
  EXPECT_EQ(Format(u"abc%1:-5.3", {I(1), I(2)}), "abc");
  EXPECT_EQ(Format(u"a%dz%", {I(7)}), "a7z");
  // Text with a zero character is copied whole; only %s stops at one.
  EXPECT_EQ(Format(std::u16string(u"a\0b%s", 5), {S(std::u16string(u"x\0y", 3))}),
            std::string("a\0bx", 4));
}

TEST(FormatGrammar, WidthAlignmentAndPrecision) {
  EXPECT_EQ(Format(u"Name: %s, Qty: %5d", {S(u"Bolt"), I(42)}), "Name: Bolt, Qty:    42");
  EXPECT_EQ(Format(u"%-5d|", {I(42)}), "42   |");
  EXPECT_EQ(Format(u"%05d", {I(42)}), "   42");  // no zero fill
  EXPECT_EQ(Format(u"%.5d", {I(-42)}), "-00042");
  EXPECT_EQ(Format(u"%8.5d|%-8.5d|", {I(-42), I(42)}), "  -00042|00042   |");
  EXPECT_EQ(Format(u"%2d", {I(12345)}), "12345");  // never cut
  EXPECT_EQ(Format(u"%-d|%-0d|", {I(1), I(2)}), "1|2|");
  EXPECT_EQ(Format(u"%.3s|%.0s|%.s|%.9s", {S(u"abcdef"), S(u"abc"), S(u"abc"), S(u"abc")}),
            "abc|||abc");
  EXPECT_EQ(Format(u"[%6s][%-6s]", {S(u"ab"), S(u"ab")}), "[    ab][ab    ]");
}

TEST(FormatGrammar, IndexesAndStars) {
  EXPECT_EQ(Format(u"%1:s %0:s", {S(u"a"), S(u"b")}), "b a");
  EXPECT_EQ(Format(u"%1:s %s %0:s %s", {S(u"a"), S(u"b"), S(u"c")}), "b c a b");
  EXPECT_EQ(Format(u"%0:-4d|", {I(5)}), "5   |");
  EXPECT_EQ(Format(u"%*d", {I(6), I(42)}), "    42");
  EXPECT_EQ(Format(u"%.*f", {I(3), F(2.5)}), "2.500");
  EXPECT_EQ(Format(u"%*.*f|", {I(7), I(1), F(2.25)}), "    2.3|");
  EXPECT_EQ(Format(u"%-*d|", {I(4), I(1)}), "1   |");
  // A negative width from "*" is left alignment.
  EXPECT_EQ(Format(u"%*d|", {I(-4), I(1)}), "1   |");
  EXPECT_EQ(Format(u"%-*d|", {I(-4), I(1)}), "1   |");
  // A negative precision from "*" is no precision.
  EXPECT_EQ(Format(u"%.*s|%.*f", {I(-1), S(u"abc"), I(-5), F(1.0)}), "abc|1.00");
  // "*" with an argument that is not an integer gives 0 and still takes the argument.
  EXPECT_EQ(Format(u"%*d|", {S(u"x"), I(3)}), "3|");
  // "*" as the index.
  EXPECT_EQ(Format(u"%*:d", {I(2), I(10), I(20)}), "20");
  // Extra arguments are ignored.
  EXPECT_EQ(Format(u"%d", {I(1), I(2), S(u"x")}), "1");
}

TEST(FormatGrammar, StarWithoutArgumentsLeftGivesZeroAndKeepsTheIndex) {
  // The width's "*" finds no argument: width 0; then %d has no argument either.
  EXPECT_EQ(FailureOf(u"%*d"), "No argument for format '%*d'");
  EXPECT_EQ(FailureOf(u"%d%*s", {I(1)}), "No argument for format '%*s'");
}

TEST(FormatGrammar, LettersIgnoreCase) {
  EXPECT_EQ(Format(u"%D %X %x %S %U", {I(-1), I(255), I(255), S(u"s"), I(-1)}),
            "-1 FF FF s 4294967295");
  EXPECT_EQ(Format(u"%E|%G|%F|%N|%M", {F(1.5), F(1.5), F(1.5), F(1.5), F(1.5)}),
            "1.50000000000000E+000|1.5|1.50|1.50|$1.50");
}

TEST(FormatIntegers, DecimalUnsignedHex) {
  EXPECT_EQ(Format(u"%x", {I(255)}), "FF");
  EXPECT_EQ(Format(u"%u", {I(-1)}), "4294967295");
  EXPECT_EQ(Format(u"%x", {I(-1)}), "FFFFFFFF");
  EXPECT_EQ(Format(u"%.3x", {I(10)}), "00A");
  EXPECT_EQ(Format(u"%d", {I(std::numeric_limits<int32_t>::min())}), "-2147483648");
  EXPECT_EQ(Format(u"%u", {I(std::numeric_limits<int32_t>::min())}), "2147483648");
  EXPECT_EQ(Format(u"%d|%.0d|%.1d", {I(0), I(0), I(0)}), "0|0|0");
  EXPECT_EQ(Format(u"%.16d", {I(-7)}), "-0000000000000007");
  EXPECT_EQ(Format(u"%.17d|%.99x", {I(-7), I(26)}), "-7|1A");  // above 16: ignored
  EXPECT_EQ(Format(u"%.12u", {I(-2)}), "004294967294");
}

TEST(FormatFailures, MissingArgument) {
  EXPECT_EQ(FailureOf(u"%d %d", {I(1)}), "No argument for format '%d'");
  EXPECT_EQ(FailureOf(u"%s"), "No argument for format '%s'");
  EXPECT_EQ(FailureOf(u"%5:-12.4f", {F(1)}), "No argument for format '%5:-12.4f'");
  // An index given through "*" that is negative is past the arguments, too.
  EXPECT_EQ(FailureOf(u"%*:d", {I(-1)}), "No argument for format '%*:d'");
  EXPECT_EQ(FailureOf(u"%99999999999999999999:d", {I(1)}),
            "No argument for format '%99999999999999999999:d'");
  // The missing argument is found before the letter is looked at.
  EXPECT_EQ(FailureOf(u"%p"), "No argument for format '%p'");
}

TEST(FormatFailures, LetterAndKindMismatch) {
  const std::string invalid = "' invalid or incompatible with argument";
  EXPECT_EQ(FailureOf(u"%s", {I(1)}), "Format '%s" + invalid);
  EXPECT_EQ(FailureOf(u"%d", {S(u"1")}), "Format '%d" + invalid);
  EXPECT_EQ(FailureOf(u"%x", {F(1)}), "Format '%x" + invalid);
  EXPECT_EQ(FailureOf(u"%u", {M(1)}), "Format '%u" + invalid);
  EXPECT_EQ(FailureOf(u"%f", {I(1)}), "Format '%f" + invalid);
  EXPECT_EQ(FailureOf(u"%m", {S(u"1")}), "Format '%m" + invalid);
  EXPECT_EQ(FailureOf(u"%p", {I(1)}), "Format '%p" + invalid);
  EXPECT_EQ(FailureOf(u"%5-d", {I(1)}), "Format '%5-" + invalid);
  EXPECT_EQ(FailureOf(u"%:d", {I(1)}), "Format '%:" + invalid);
  for (const char* letter : {"d", "u", "x", "e", "f", "g", "n", "m", "s", "p"}) {
    std::u16string format = u"%" + Ascii16(letter);
    EXPECT_EQ(FailureOf(format, {B(true)}), "Format '%" + std::string(letter) + invalid);
    EXPECT_EQ(FailureOf(format, {B(false)}), "Format '%" + std::string(letter) + invalid);
  }
  // The directive is shown up to its first 31 characters.
  std::u16string longer = u"%" + std::u16string(40, u'7') + u"q";
  EXPECT_EQ(FailureOf(longer, {I(1)}), "Format '%" + std::string(30, '7') + invalid);
  EXPECT_EQ(FailureOf(u"%\u00E9", {I(1)}), "Format '%\xC3\xA9" + invalid);
  // Text before a failing directive is no result.
  EXPECT_EQ(FailureOf(u"ok %d then %s", {I(1), I(2)}), "Format '%s" + invalid);
}

// ---------------------------------------------------------------------------------------------
// Floats

TEST(FormatFloats, SpecimenResults) {
  EXPECT_EQ(Format(u"%.2f", {F(3.14159)}), "3.14");
  EXPECT_EQ(Format(u"%f", {F(3.14159)}), "3.14");
  EXPECT_EQ(Format(u"%e", {F(1234.5)}), "1.23450000000000E+003");
  EXPECT_EQ(Format(u"%g", {F(1234.5)}), "1234.5");
  EXPECT_EQ(Format(u"%g", {F(0.00001)}), "1E-005");
  EXPECT_EQ(Format(u"%g", {F(0.0001)}), "0.0001");
  EXPECT_EQ(Format(u"%n", {F(1234567.891)}), "1,234,567.89");
  EXPECT_EQ(Format(u"%m|%m", {F(1234.5), F(-1234.5)}), "$1,234.50|($1,234.50)");
  EXPECT_EQ(Format(u"%.0m|%.0m", {F(1234.5), M(12345000)}), "$1,235|$1,234");
}

// The 18 significant digits of a double as the C library prints them exactly; glibc's printf
// is exact for every digit and rounds an exact half to even.
struct Oracle {
  std::string digits;  // 18 digits
  int exponent;        // of d.ddd form
};

Oracle GlibcDigits(long double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17Le", fabsl(value));
  Oracle o;
  o.digits = std::string(1, text[0]) + std::string(text + 2, 17);
  o.exponent = std::atoi(text + 20);
  return o;
}

// Our digits in the same form, from exponent notation with 18 digits.
Oracle EngineDigits(long double value) {
  std::string text = Float(fabsl(value), fnExponent, 18, 1);
  Oracle o;
  o.digits = text.substr(0, 1) + text.substr(2, 17);
  o.exponent = std::atoi(text.c_str() + 20);
  return o;
}

TEST(FormatFloats, EighteenDigitsAreExactOverTheWholeRange) {
  std::mt19937_64 random(0xD00DF00D);
  auto check = [](long double value) {
    Oracle want = GlibcDigits(value);
    Oracle got = EngineDigits(value);
    ASSERT_EQ(got.digits, want.digits) << static_cast<double>(value);
    ASSERT_EQ(got.exponent, want.exponent) << static_cast<double>(value);
  };
  // Random doubles of every magnitude, and random extended values from denormals to the
  // largest, by their bits.
  for (int i = 0; i < 20000; ++i) {
    uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d) || d == 0) continue;
    check(d);
    if (i % 16 != 0) continue;  // the widest extended values take a millisecond each
    long double x = std::ldexp(static_cast<long double>(random() | (uint64_t{1} << 63)) / 0x1p64L,
                               static_cast<int>(random() % 32760) - 16380 - 64);
    if (x != 0) check(x);
  }
  for (long double v :
       {std::numeric_limits<long double>::max(), std::numeric_limits<long double>::min(),
        std::numeric_limits<long double>::denorm_min(), 1e-4950L,
        static_cast<long double>(std::numeric_limits<double>::max()),
        static_cast<long double>(std::numeric_limits<double>::denorm_min()), 1.0L, 0.1L, 1e17L,
        1e18L, 999999999999999999.0L, 1000000000000000005.0L, 1000000000000000015.0L,
        9999999999999999995.0L, 0x1p63L, 0x1p64L - 1, 5e-324L}) {
    check(v);
  }
}

TEST(FormatFloats, ExactHalvesAtTheEighteenthDigitGoToEven) {
  // Values with 19 significant digits, exact in the extended type.
  EXPECT_EQ(Float(1000000000000000005.0L, fnExponent, 18, 3), "1.00000000000000000E+018");
  EXPECT_EQ(Float(1000000000000000015.0L, fnExponent, 18, 3), "1.00000000000000002E+018");
  EXPECT_EQ(Float(1000000000000000025.0L, fnExponent, 18, 3), "1.00000000000000002E+018");
  EXPECT_EQ(Float(9999999999999999995.0L, fnExponent, 18, 3), "1.00000000000000000E+019");
}

TEST(FormatFloats, RoundingIsOnTheEighteenDigitsAwayFromZero) {
  EXPECT_EQ(Format(u"%.0f|%.0f|%.0f|%.0f", {F(0.5), F(1.5), F(2.5), F(-2.5)}), "1|2|3|-3");
  EXPECT_EQ(Format(u"%.2f|%.2f", {F(0.125), F(-0.125)}), "0.13|-0.13");
  // 2.675 is 2.67499999999999982236431605997495353221893310546875 as a double.
  EXPECT_EQ(Format(u"%.2f", {F(2.675)}), "2.67");
  // 0.125 - 2^-66 has 18 digits 0.125000000000000000, so two decimals round up.
  EXPECT_EQ(Format(u"%.2f", {F(0.125L - 0x1p-66L)}), "0.13");
  // Carries through nines into a new first digit.
  EXPECT_EQ(Format(u"%.0f|%.1f|%.2f", {F(99.5), F(9.96875), F(-999.999)}), "100|10.0|-1000.00");
  EXPECT_EQ(Format(u"%.0n", {F(999999.5)}), "1,000,000");
  EXPECT_EQ(Format(u"%.3g|%.3e", {F(9995), F(9995)}), "1E004|1.00E+004");
  // 99.995 is 99.99500000000000454... as a double; 2.675 above is just below its half.
  EXPECT_EQ(Format(u"%.4g", {F(99.995)}), "100");
  // The wanted position before the first digit.
  EXPECT_EQ(Format(u"%.1f|%.1f|%.1f", {F(0.05), F(0.04), F(0.004)}), "0.1|0.0|0.0");
  EXPECT_EQ(Format(u"%.0f|%.0f", {F(0.49), F(0.5)}), "0|1");
}

TEST(FormatFloats, ZeroCarriesNoSign) {
  EXPECT_EQ(Format(u"%.2f|%.2n|%g|%e|%.2f", {F(-0.001), F(-0.004), F(-0.0), F(-0.0), F(0)}),
            "0.00|0.00|0|0.00000000000000E+000|0.00");
  EXPECT_EQ(Format(u"%.1m", {F(-0.04)}), "$0.0");
  EXPECT_EQ(Format(u"%.2f|%.3m", {M(-49), M(-4)}), "0.00|$0.000");
}

TEST(FormatFloats, GeneralNotation) {
  EXPECT_EQ(Float(0, fnGeneral, 15, 3), "0");
  EXPECT_EQ(Float(0.001, fnGeneral, 15, 3), "0.001");
  EXPECT_EQ(Float(0.000999, fnGeneral, 15, 3), "0.000999");
  EXPECT_EQ(Float(0.0000999, fnGeneral, 15, 3), "9.99E-005");
  EXPECT_EQ(Float(-0.0001234, fnGeneral, 15, 3), "-0.0001234");
  EXPECT_EQ(Float(1e14, fnGeneral, 15, 3), "100000000000000");
  EXPECT_EQ(Float(1e15, fnGeneral, 15, 3), "1E015");
  EXPECT_EQ(Float(1e15, fnGeneral, 16, 3), "1000000000000000");
  EXPECT_EQ(Float(123456789012345678.0, fnGeneral, 15, 3), "1.23456789012346E017");
  EXPECT_EQ(Float(1.5e-300, fnGeneral, 15, 3), "1.5E-300");
  EXPECT_EQ(Float(2.5e300, fnGeneral, 15, 1), "2.5E300");
  EXPECT_EQ(Float(0.1, fnGeneral, 18, 3), "0.100000000000000006");
  EXPECT_EQ(Float(0.1, fnGeneral, 17, 3), "0.10000000000000001");
  // Precision clamps to 2..18.
  EXPECT_EQ(Float(1234.5, fnGeneral, 0, 3), "1.2E003");
  EXPECT_EQ(Float(1234.5, fnGeneral, 40, 3), "1234.5");
  EXPECT_EQ(Format(u"%.1g|%.19g|%.18g", {F(1234.5), F(1.0 / 3), F(1.0 / 3)}),
            "1.2E003|0.333333333333333|0.333333333333333315");
  EXPECT_EQ(Float(1e-5, fnGeneral, 15, 5), "1E-00005");
}

TEST(FormatFloats, ExponentNotation) {
  EXPECT_EQ(Float(1234.5, fnExponent, 15, 3), "1.23450000000000E+003");
  EXPECT_EQ(Float(-1234.5, fnExponent, 4, 3), "-1.235E+003");
  EXPECT_EQ(Float(0.00012345, fnExponent, 3, 3), "1.23E-004");
  EXPECT_EQ(Float(1e100, fnExponent, 2, 1), "1.0E+100");
  EXPECT_EQ(Float(9.96, fnExponent, 2, 0), "1.0E+1");
  EXPECT_EQ(Float(0, fnExponent, 3, 3), "0.00E+000");
  EXPECT_EQ(Format(u"%.0e|%.20e", {F(1234.5), F(2)}), "1.2E+003|2.00000000000000E+000");
}

TEST(FormatFloats, FixedAndNumberNotation) {
  EXPECT_EQ(Format(u"%.0f|%.3f|%.18f", {F(1234.5678), F(-0.0005), F(0.5)}),
            "1235|-0.001|0.500000000000000000");
  EXPECT_EQ(Format(u"%.5f", {F(0.000123)}), "0.00012");
  // At most 18 significant digits, then zeros.
  EXPECT_EQ(Format(u"%.18f", {F(1.0 / 3)}), "0.333333333333333315");
  EXPECT_EQ(Format(u"%.18f", {F(10.0 / 3)}), "3.333333333333333480");
  EXPECT_EQ(Format(u"%.4f", {F(123456789012345678.0)}), "123456789012345680.0000");
  EXPECT_EQ(Format(u"%n|%n|%n|%n", {F(1), F(12), F(123), F(-1234)}), "1.00|12.00|123.00|-1,234.00");
  EXPECT_EQ(Format(u"%.0n|%.1n", {F(123456789), F(-12345678.25)}), "123,456,789|-12,345,678.3");
  // More than 18 digits before the point: general notation, exponent of at least D digits.
  EXPECT_EQ(Format(u"%f|%.0f|%.4n|%.5f", {F(1e20), F(1e20), F(-1.5e19), F(1e22)}),
            "1E20|1E20|-1.5E0019|1E22");
  // 123456789012345683968 as a double: its 18 digits in general notation.
  EXPECT_EQ(Format(u"%.3f", {F(123456789012345678901.0)}), "1.23456789012345684E020");
  // 1e30 is 1000000000000000019884624838656 as a double.
  EXPECT_EQ(Format(u"%.2m", {F(1e30)}), "1.00000000000000002E30");
}

TEST(FormatFloats, InfinityAndNan) {
  long double inf = std::numeric_limits<long double>::infinity();
  long double nan = std::numeric_limits<long double>::quiet_NaN();
  EXPECT_EQ(Format(u"%f|%e|%g|%n|%m", {F(inf), F(inf), F(-inf), F(-inf), F(inf)}),
            "INF|INF|-INF|-INF|INF");
  EXPECT_EQ(Format(u"%f|%6g|%-6m|", {F(nan), F(-nan), F(nan)}), "NAN|   NAN|NAN   |");
}

TEST(FormatFloats, SeparatorsOfTheLocale) {
  RegionalFormat de = DeDe();
  EXPECT_EQ(Format(u"%n|%.3f|%g|%e", {F(1234567.891), F(-2.5), F(0.25), F(1.5)}, de),
            "1.234.567,89|-2,500|0,25|1,50000000000000E+000");
  RegionalFormat none = EnUs();
  none.thousand_separator = u'\0';
  EXPECT_EQ(Format(u"%n|%m", {F(1234567.891), F(-1234.5)}, none), "1234567.89|($1234.50)");
  none.decimal_separator = u'\0';
  EXPECT_EQ(Format(u"%.2f", {F(1.25)}, none), "125");
  RegionalFormat spaced = EnUs();
  spaced.thousand_separator = u'\u202F';
  EXPECT_EQ(Format(u"%.0n", {F(1234567)}, spaced),
            "1\xE2\x80\xAF"
            "234\xE2\x80\xAF"
            "567");
}

// ---------------------------------------------------------------------------------------------
// Currency

TEST(FormatCurrency, AmountsAreExactWithFourDecimals) {
  EXPECT_EQ(Money(12345678, fnGeneral, 15, 3), "1234.5678");
  EXPECT_EQ(Money(std::numeric_limits<int64_t>::max(), fnGeneral, 2, 3), "922337203685477.5807");
  EXPECT_EQ(Money(std::numeric_limits<int64_t>::min(), fnFixed, 18, 4), "-922337203685477.5808");
  EXPECT_EQ(Money(std::numeric_limits<int64_t>::min(), fnNumber, 18, 6),
            "-922,337,203,685,477.580800");
  // Nineteen significant digits in exponent notation, whatever the precision asked.
  EXPECT_EQ(Money(12345678, fnExponent, 3, 3), "1.234567800000000000E+003");
  EXPECT_EQ(Money(0, fnExponent, 3, 3), "0.000000000000000000E+000");
  EXPECT_EQ(Money(5, fnGeneral, 15, 3), "0.0005");
  EXPECT_EQ(Money(-5, fnGeneral, 15, 3), "-0.0005");
  EXPECT_EQ(Format(u"%f|%.4f|%.6f|%g", {M(12345678), M(12345678), M(-1), M(-1)}),
            "1234.57|1234.5678|-0.000100|-0.0001");
}

TEST(FormatCurrency, FewerDecimalsRoundHalvesToEven) {
  EXPECT_EQ(Format(u"%.2f|%.2f", {M(1250), M(1350)}), "0.12|0.14");
  EXPECT_EQ(Format(u"%.2f|%.2f", {M(-1250), M(-1350)}), "-0.12|-0.14");
  EXPECT_EQ(Format(u"%.2f|%.0f|%.0f|%.0f", {M(1251), M(5000), M(15000), M(25001)}), "0.13|0|2|3");
  EXPECT_EQ(Format(u"%.3f|%.3f|%.1f", {M(5), M(15), M(9500)}), "0.000|0.002|1.0");
  EXPECT_EQ(Format(u"%.0m|%.0m", {M(12345000), M(12355000)}), "$1,234|$1,236");
  EXPECT_EQ(Format(u"%.0n", {M(99995000)}), "10,000");
}

TEST(FormatCurrency, AllLayouts) {
  const char* positive[] = {"$1,234.50", "1,234.50$", "$ 1,234.50", "1,234.50 $"};
  const char* negative[] = {"($1,234.50)", "-$1,234.50",  "$-1,234.50",   "$1,234.50-",
                            "(1,234.50$)", "-1,234.50$",  "1,234.50-$",   "1,234.50$-",
                            "-1,234.50 $", "-$ 1,234.50", "1,234.50 $-",  "$ 1,234.50-",
                            "$ -1,234.50", "1,234.50- $", "($ 1,234.50)", "(1,234.50 $)"};
  RegionalFormat s = EnUs();
  for (int layout = 0; layout < 4; ++layout) {
    s.positive_currency_format = layout;
    EXPECT_EQ(Format(u"%m", {F(1234.5)}, s), positive[layout]) << layout;
    EXPECT_EQ(Format(u"%m", {M(12345000)}, s), positive[layout]) << layout;
  }
  for (int layout = 0; layout < 16; ++layout) {
    s.negative_currency_format = layout;
    EXPECT_EQ(Format(u"%m", {F(-1234.5)}, s), negative[layout]) << layout;
    EXPECT_EQ(Format(u"%m", {M(-12345000)}, s), negative[layout]) << layout;
  }
  s.positive_currency_format = 9;
  s.negative_currency_format = 99;
  EXPECT_EQ(Format(u"%m|%m", {F(1234.5), F(-1234.5)}, s), "1,234.50 $|(1,234.50 $)");
}

TEST(FormatCurrency, DecimalsSettingAndSymbol) {
  RegionalFormat s = DeDe();
  EXPECT_EQ(Format(u"%m|%m|%.3m|%.19m", {F(1234.5), F(-0.5), M(10), M(1)}, s),
            "1.234,50 \xE2\x82\xAC|-0,50 \xE2\x82\xAC|0,001 \xE2\x82\xAC|0,00 \xE2\x82\xAC");
  s.currency_decimals = 0;
  s.currency_symbol = u"CHF";
  EXPECT_EQ(Format(u"%m", {F(1234.5)}, s), "1.235 CHF");
  s.currency_decimals = 40;  // more than 18 decimals are never written
  EXPECT_EQ(Format(u"%m", {F(0.5)}, s), "0,500000000000000000 CHF");
  s.currency_symbol.clear();
  s.positive_currency_format = 0;
  EXPECT_EQ(Format(u"%.1m", {F(2)}, s), "2,0");
}

// ---------------------------------------------------------------------------------------------
// The driver and the pass

TEST(FormatDriver, ResultsAroundTheFirstBufferAndBeyond) {
  for (size_t length : {8189u, 8190u, 8191u, 8192u, 8193u, 16383u, 16384u, 20000u, 100000u}) {
    std::u16string result = FormatWideText(u"%s", std::vector{S(std::u16string(length, u'a'))});
    ASSERT_EQ(result.size(), length);
    EXPECT_EQ(result.find_first_not_of(u'a'), std::u16string::npos);
    result = FormatWideText(u"<%*d>", std::vector{I(static_cast<int32_t>(length)), I(7)});
    ASSERT_EQ(result.size(), length + 2);
    EXPECT_EQ(result.substr(length - 1), u" 7>");
  }
  // A long format skips the first pass and still formats every directive.
  std::u16string format;
  for (int i = 0; i < 2000; ++i) format += u"%d,";
  std::vector<FormatArg> args;
  std::u16string want;
  for (int i = 0; i < 2000; ++i) {
    args.push_back(I(i));
    want += Ascii16(std::to_string(i)) + u",";
  }
  EXPECT_EQ(FormatWideText(format, args), want);
  EXPECT_EQ(FormatWideText(std::u16string(7000, u'x') + u"%s", std::vector{S(u"!")}),
            std::u16string(7000, u'x') + u"!");
}

TEST(FormatDriver, ResultsBeyondTheLimitAreARangeFailure) {
  auto message = [](std::u16string_view format, std::vector<FormatArg> args) {
    try {
      FormatWideText(format, args);
    } catch (const Exception& failure) {
      return failure.Message();
    }
    return std::string("no failure");
  };
  EXPECT_EQ(message(u"%*d", {I(std::numeric_limits<int32_t>::max()), I(1)}), "Range check error");
  EXPECT_EQ(message(u"%*d", {I(std::numeric_limits<int32_t>::min()), I(1)}), "Range check error");
  EXPECT_EQ(message(u"%1073741825d", {I(1)}), "Range check error");
  EXPECT_EQ(message(u"%99999999999999999999999d", {I(1)}), "Range check error");
  std::vector<FormatArg> args;
  std::u16string format;
  for (int i = 0; i < 5; ++i) {
    format += u"%*s";
    args.push_back(I(1 << 28));
    args.push_back(S(u"x"));
  }
  EXPECT_EQ(message(format, args), "Range check error");
  // A failure of a directive is reported even after the output passed the first buffer.
  EXPECT_EQ(message(u"%9000d%s", {I(1), I(2)}),
            "Format '%s' invalid or incompatible with argument");
}

TEST(FormatDriver, OnePassStopsAtTheCapacity) {
  std::vector<FormatArg> args = {S(u"abcdef"), I(42)};
  char16_t buffer[16];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(FormatWideBuf(buffer, 4, u"%s %d", args, EnUs()), 4u);
  EXPECT_EQ(std::u16string(buffer, 5), u"abcd#");
  EXPECT_EQ(FormatWideBuf(buffer, 9, u"%s %d", args, EnUs()), 9u);
  EXPECT_EQ(std::u16string(buffer, 10), u"abcdef 42#");
  EXPECT_EQ(FormatWideBuf(buffer, 16, u"%s %d", args, EnUs()), 9u);
  EXPECT_EQ(FormatWideBuf(buffer, 0, u"%s", args, EnUs()), 0u);
  // Directives after the capacity is reached are not looked at.
  EXPECT_EQ(FormatWideBuf(buffer, 3, u"abc%d%s", args, EnUs()), 3u);
  EXPECT_EQ(FormatWideBuf(buffer, 5, u"%10s", args, EnUs()), 5u);
  EXPECT_EQ(std::u16string(buffer, 5), u"    a");
}

}  // namespace
}  // namespace dunmarrow::test
