// xp_FormatStr end to end through the ODS library: argument mapping, statuses, failures and
// the text written back into parameter 1.
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>

#include "procs/format/format_engine.h"
#include "tests/unit/call_helpers.h"
#include "tests/unit/procedures.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;

std::string Utf8Of(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The settings of a test, installed for its duration.
class ScopedRegionalFormat {
 public:
  explicit ScopedRegionalFormat(const RegionalFormat& settings) : saved_(CurrentRegionalFormat()) {
    SetRegionalFormat(settings);
  }
  ~ScopedRegionalFormat() { SetRegionalFormat(saved_); }

 private:
  RegionalFormat saved_;
};

RegionalFormat EnUs() {
  RegionalFormat s;
  s.currency_symbol = u"$";
  s.currency_decimals = 2;
  return s;
}

class FormatStrTest : public DriveRootTest {
 protected:
  // Runs xp_FormatStr with an nvarchar(max) OUTPUT, the format and the arguments; expects
  // status 1 and the DONE before the written-back text, and returns that text as UTF-8.
  std::string Formatted(std::u16string format, std::vector<ods::Param> args) {
    std::vector<ods::Param> params = {Output(NVarCharMax(u"")), NVarChar(format)};
    params.insert(params.end(), args.begin(), args.end());
    CallResult result = Call(xp_FormatStr, params);
    EXPECT_EQ(result.status, 1) << Utf8Of(format);
    if (result.events.size() != 2 || result.Transcript()[0] != kDone ||
        result.events[1].kind != ods::EventKind::ParamSetOutput) {
      ADD_FAILURE() << "unexpected transcript for " << Utf8Of(format);
      return "<no text>";
    }
    const ods::Bytes& data = result.events[1].data;
    std::u16string text(data.size() / 2, u'\0');
    std::memcpy(text.data(), data.data(), text.size() * 2);
    return Utf8Of(text);
  }

  // The transcript of a failure report after the DONE and the written-back parameter 1.
  static std::vector<std::string> Failure(const std::string& message, const std::string& param) {
    return ContextFailure("xp_FormatStr: " + message, {param});
  }

  ScopedRegionalFormat en_us_{EnUs()};
};

TEST_F(FormatStrTest, EdgeCasesOfTheFormatter) {
  struct Case {
    std::u16string format;
    std::vector<ods::Param> args;
    std::string want;
  } cases[] = {
      {u"Name: %s, Qty: %5d", {VarChar("Bolt"), Int(42)}, "Name: Bolt, Qty:    42"},
      {u"%-5d|", {Int(42)}, "42   |"},
      {u"%.5d", {Int(-42)}, "-00042"},
      {u"%05d", {Int(42)}, "   42"},
      {u"%x", {Int(255)}, "FF"},
      {u"%u", {Int(-1)}, "4294967295"},
      {u"%.3x", {Int(10)}, "00A"},
      {u"%.2f", {Float(3.14159)}, "3.14"},
      {u"%f", {Float(3.14159)}, "3.14"},
      {u"%e", {Float(1234.5)}, "1.23450000000000E+003"},
      {u"%g", {Float(1234.5)}, "1234.5"},
      {u"%g", {Float(0.00001)}, "1E-005"},
      {u"%g", {Float(0.0001)}, "0.0001"},
      {u"%n", {Float(1234567.891)}, "1,234,567.89"},
      {u"%m", {Float(1234.5)}, "$1,234.50"},
      {u"%m", {Float(-1234.5)}, "($1,234.50)"},
      {u"%.0m", {Float(1234.5)}, "$1,235"},
      {u"%.0m", {Money(12345000)}, "$1,234"},
      {u"%1:s %0:s", {VarChar("a"), VarChar("b")}, "b a"},
      {u"%*d", {Int(6), Int(42)}, "    42"},
      {u"%.*f", {Int(3), Float(2.5)}, "2.500"},
      {u"%.3s", {VarChar("abcdef")}, "abc"},
      {u"%%", {}, "%"},
      {u"abc%", {}, "abc"},
      {u"abc%5", {}, "abc"},
      {u"%d", {DateTime(1, 0)}, "0"},
      {u"%d|%x", {VarBinary({1, 2, 3}), Guid(ods::Bytes(16, 0xFF))}, "0|0"},
      {u"%d", {Int(1), Int(2), VarChar("x")}, "1"},
      {u"no directives", {}, "no directives"},
      // A negative width through "*" aligns left.
      {u"%*d|", {Int(-4), Int(7)}, "7   |"},
  };
  for (auto& c : cases) EXPECT_EQ(Formatted(c.format, c.args), c.want) << Utf8Of(c.format);
}

TEST_F(FormatStrTest, EveryParameterKindBecomesItsArgument) {
  EXPECT_EQ(Formatted(u"%s|%s|%s|%s", {VarChar("v"), NVarChar(u"\u0436"), Text("t"), NText(u"n")}),
            "v|\xD0\xB6|t|n");
  EXPECT_EQ(Formatted(u"%d|%d|%d|%x", {TinyInt(255), SmallInt(-2), Int(-7), SmallInt(-1)}),
            "255|-2|-7|FFFFFFFF");
  EXPECT_EQ(Formatted(u"%g|%g|%g", {Float(0.1), Real(-1.5f), Decimal(12.34, 10, 2)}),
            "0.1|-1.5|12.34");
  EXPECT_EQ(Formatted(u"%.0f|%g", {BigInt(-5000000000LL), Numeric(0.5, 5, 3)}), "-5000000000|0.5");
  EXPECT_EQ(Formatted(u"%.4f|%m|%.4m", {Money(-15001), SmallMoney(-1), SmallMoney(2147483647)}),
            "-1.5001|$0.00|$214,748.3647");
  // NULLs and empty values: empty text and zeros.
  EXPECT_EQ(Formatted(u"[%s][%s][%d][%g][%m][%s]",
                      {Null(SRVBIGVARCHAR, 10), Null(SRVNVARCHAR, 10), Null(SRVINTN, 4),
                       Null(SRVFLTN, 8), Null(SRVMONEYN, 8), VarChar("")}),
            "[][][0][0][$0.00][]");
  // A float keeps 18 digits: a double's binary value shows through.
  EXPECT_EQ(Formatted(u"%.18g", {Float(0.1)}), "0.100000000000000006");
}

TEST_F(FormatStrTest, TheFormatIsReadAsText) {
  CallResult result = Call(xp_FormatStr, {Output(NVarChar(u"old", 10)), VarChar("%d!"), Int(3)});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), (std::vector<std::string>{kDone, "paramsetoutput 1 0x33002100"}));
  // A format of a kind without a text view is empty: the result is empty, hence NULL.
  result = Call(xp_FormatStr, {Output(NVarChar(u"old", 10)), Int(5), Int(3)});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), (std::vector<std::string>{kDone, "paramset 1 NULL"}));
  // A bit format reads as "True".
  result = Call(xp_FormatStr, {Output(VarChar("", 10)), Bit(true)});
  EXPECT_EQ(result.Transcript(), (std::vector<std::string>{kDone, "paramsetoutput 1 0x54727565"}));
}

TEST_F(FormatStrTest, VarcharOutputReceivesTheTextInTheAnsiCodePage) {
  CallResult result =
      Call(xp_FormatStr, {Output(VarChar("", 20)), NVarChar(u"%s\u00E9"), NVarChar(u"\u20AC")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(),
            (std::vector<std::string>{kDone, "paramsetoutput 1 0xE282ACC3A9"}));
}

TEST_F(FormatStrTest, LongResultsComeOutWholeUpToTheOutputParameter) {
  std::u16string long_text(20000, u'q');
  EXPECT_EQ(
      Formatted(u"%s%s%s%s%s", std::vector<ods::Param>(5, NVarChar(std::u16string(4000, u'q')))),
      Utf8Of(long_text));
  EXPECT_EQ(Formatted(u"%20000d", {Int(1)}), std::string(19999, ' ') + "1");
  // An nvarchar(4000) OUTPUT receives the first 4000 characters.
  CallResult result =
      Call(xp_FormatStr, {Output(NVarChar(u"", 4000)), NVarChar(u"%9000d"), Int(1)});
  EXPECT_EQ(result.status, 1);
  ASSERT_EQ(result.events.size(), 2u);
  ods::Bytes spaces;
  for (int i = 0; i < 4000; ++i) spaces.insert(spaces.end(), {' ', 0});
  EXPECT_EQ(result.events[1].data, spaces);
}

// A width near 2^30 makes a result of about 2 GB; the output takes back only its own maximum
// length, and no more is built. Run in a child whose address space is too small for the whole
// result. (Not under AddressSanitizer, which needs a large address space of its own.)
TEST_F(FormatStrTest, AHugeWidthBuildsNoMoreThanTheOutputTakesBack) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#else
  auto in_small_address_space = [] {
    rlimit limit{768u << 20, 768u << 20};
    setrlimit(RLIMIT_AS, &limit);
    CallResult result =
        Call(xp_FormatStr, {Output(NVarChar(u"", 10)), NVarChar(u"%1000000000d"), Int(7)});
    bool ten_spaces = result.status == 1 && result.events.size() == 2 &&
                      result.events[1].data.size() == 20 && result.events[1].data[0] == ' ';
    std::_Exit(ten_spaces ? 0 : 1);
  };
  EXPECT_EXIT(in_small_address_space(), ::testing::ExitedWithCode(0), "");
#endif
  // Beyond 2^30 characters the result is still measured and refused.
  CallResult result =
      Call(xp_FormatStr, {Output(NVarChar(u"", 10)), NVarChar(u"%1073741825d"), Int(7)});
  EXPECT_EQ(result.status, -1);
}

TEST_F(FormatStrTest, NothingToDoIsStatusZeroWithoutMessage) {
  for (const auto& params : std::vector<std::vector<ods::Param>>{
           {},
           {Int(1)},
           {Output(Int(1)), VarChar("%d"), Int(2)},
           {VarBinary({1}), VarChar("x")},
           {Money(1), VarChar("x")},
           {DateTime(0, 0)},
       }) {
    CallResult result = Call(xp_FormatStr, params);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.Transcript()[0], kDone);
    for (const auto& e : result.events) EXPECT_NE(e.kind, ods::EventKind::SendMsg);
  }
  CallResult result = Call(xp_FormatStr, {Output(Int(1)), VarChar("%d"), Int(2)});
  EXPECT_EQ(result.Transcript(),
            (std::vector<std::string>{kDone, "paramsetoutput 1 0x01000000"}));  // unchanged
}

TEST_F(FormatStrTest, OneParameterIsARangeFailure) {
  CallResult result = Call(xp_FormatStr, {Output(NVarChar(u"ab", 10))});
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.Transcript(), Failure("Range check error", "paramsetoutput 1 0x61006200"));
  result = Call(xp_FormatStr, {VarChar("x")});
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.Transcript(),
            (std::vector<std::string>{kDone, Failure("Range check error", "")[2]}));
}

TEST_F(FormatStrTest, FormatFailuresKeepParameterOne) {
  const std::string kept = "paramsetoutput 1 0x6B00650070007400";  // "kept"
  auto failing = [&](std::u16string format, std::vector<ods::Param> args) {
    std::vector<ods::Param> params = {Output(NVarChar(u"kept", 50)), NVarChar(format)};
    params.insert(params.end(), args.begin(), args.end());
    CallResult result = Call(xp_FormatStr, params);
    EXPECT_EQ(result.status, -1);
    return result.Transcript();
  };
  EXPECT_EQ(failing(u"%d %d", {Int(1)}), Failure("No argument for format '%d'", kept));
  EXPECT_EQ(failing(u"%s", {Int(1)}),
            Failure("Format '%s' invalid or incompatible with argument", kept));
  EXPECT_EQ(failing(u"%d", {Bit(false)}),
            Failure("Format '%d' invalid or incompatible with argument", kept));
  EXPECT_EQ(failing(u"%.2f", {Bit(true)}),
            Failure("Format '%.2f' invalid or incompatible with argument", kept));
  EXPECT_EQ(failing(u"%s", {DateTime(1, 0)}),
            Failure("Format '%s' invalid or incompatible with argument", kept));
  EXPECT_EQ(failing(u"%p", {Int(1)}),
            Failure("Format '%p' invalid or incompatible with argument", kept));
  EXPECT_EQ(
      failing(u"%000000000000000000000000000000000000005d", {VarChar("x")}),
      Failure("Format '%000000000000000000000000000000' invalid or incompatible with argument",
              kept));
  EXPECT_EQ(failing(u"%*d", {Int(2147483647), Int(1)}), Failure("Range check error", kept));
}

TEST_F(FormatStrTest, FailuresAreLogged) {
  Call(xp_FormatStr, {Output(NVarChar(u"", 10)), VarChar("%d %d"), Int(1)});
  std::string log = ReadLog();
  EXPECT_NE(log.find("] xp_FormatStr: No argument for format '%d' (Runtime Addr: $"),
            std::string::npos)
      << log;
}

}  // namespace
}  // namespace dunmarrow::test
