// The host's parts below the interpreter: GO lines, tokens and their positions, literal types,
// statement shapes, the sqlcmd table layout and the server's byte layouts of values.
#include <gtest/gtest.h>

#include <sstream>

#include "host/script.h"
#include "host/sqlcmd_output.h"
#include "tsql/errors.h"
#include "tsql/lexer.h"
#include "tsql/ods_values.h"
#include "tsql/parser.h"

namespace dunmarrow::host {
namespace {

TEST(Script, GoLines) {
  EXPECT_EQ(GoCount("GO"), 1);
  EXPECT_EQ(GoCount("  go  "), 1);
  EXPECT_EQ(GoCount("Go 3\r"), 3);
  EXPECT_EQ(GoCount("GOAL"), 0);
  EXPECT_EQ(GoCount("GO x"), 0);
  EXPECT_EQ(GoCount("GO 0"), 0);
  EXPECT_EQ(GoCount("SELECT 1 GO"), 0);
  std::vector<std::string> runs;
  BatchReader reader([&](const std::string& text, const std::string&, int count) {
    runs.push_back(std::to_string(count) + ":" + text);
    return runs.size() < 2;
  });
  EXPECT_TRUE(reader.Feed("PRINT 1"));
  EXPECT_TRUE(reader.Feed("GO 2"));
  EXPECT_TRUE(reader.Feed("PRINT 2"));
  EXPECT_FALSE(reader.Feed("GO"));  // the runner asked to stop
  EXPECT_FALSE(reader.Feed("PRINT 3"));
  EXPECT_FALSE(reader.Finish());
  EXPECT_EQ(runs, (std::vector<std::string>{"2:PRINT 1\n", "1:PRINT 2\n"}));
}

TEST(Lexer, TokensCarryTheirLineAndColumn) {
  auto tokens = Tokenize(
      "SELECT /* a /* nested */ comment */ N'it''s',\n  [a]]b] -- rest\n  $-1.5 0xABC @v+=.5e1");
  ASSERT_EQ(tokens.size(), 10u);
  EXPECT_EQ(tokens[1].kind, TokenKind::kString);
  EXPECT_TRUE(tokens[1].national);
  EXPECT_EQ(tokens[1].text, "it's");
  EXPECT_EQ(tokens[1].column, 37);
  EXPECT_EQ(tokens[3].text, "a]b");
  EXPECT_TRUE(tokens[3].quoted);
  EXPECT_EQ(tokens[3].line, 2);
  EXPECT_EQ(tokens[3].column, 3);
  EXPECT_EQ(tokens[4].kind, TokenKind::kMoney);
  EXPECT_EQ(tokens[4].text, "-1.5");
  EXPECT_EQ(tokens[4].line, 3);
  EXPECT_EQ(tokens[5].kind, TokenKind::kBinary);
  EXPECT_EQ(tokens[5].text, "ABC");
  EXPECT_EQ(tokens[6].kind, TokenKind::kVariable);
  EXPECT_TRUE(tokens[7].Is("+="));
  EXPECT_EQ(tokens[8].kind, TokenKind::kFloat);
  EXPECT_EQ(tokens[8].text, ".5e1");
  EXPECT_EQ(tokens[9].kind, TokenKind::kEnd);
}

int CompileErrorOf(const std::string& batch, int* line = nullptr) {
  try {
    ParseBatch(batch);
  } catch (const SqlError& e) {
    if (line) *line = e.line;
    EXPECT_EQ(e.scope, ErrorScope::kBatch);
    return e.number;
  }
  return 0;
}

TEST(Parser, CompileErrorsNameTheLine) {
  int line = 0;
  EXPECT_EQ(CompileErrorOf("PRINT 1\n\nPRINT 'x' 'y'", &line), 102);
  EXPECT_EQ(line, 3);
  EXPECT_EQ(CompileErrorOf("PRINT 1\nSELECT 'open", &line), 105);
  EXPECT_EQ(line, 2);
  EXPECT_EQ(CompileErrorOf("SELECT @a\nDECLARE @a int"), 137);       // declared after use
  EXPECT_EQ(CompileErrorOf("DECLARE @a int\nDECLARE @A int"), 134);  // names ignore case
  EXPECT_EQ(CompileErrorOf("EXEC x 1 OUT"), 179);
  EXPECT_EQ(CompileErrorOf("SELECT 1 + * 2"), 102);
  EXPECT_EQ(CompileErrorOf("SELECT 123456789012345678901234567890123456789"), 1007);
  EXPECT_EQ(CompileErrorOf("DECLARE @a varchar(0)"), 1001);
  EXPECT_EQ(CompileErrorOf("DECLARE @a decimal(5,6)"), 192);
  EXPECT_EQ(CompileErrorOf("SELECT CAST(1 AS nvarchar(4001))"), 131);
  EXPECT_EQ(CompileErrorOf("DECLARE @a int SELECT x = 1, @a = 2"), 141);
  EXPECT_EQ(CompileErrorOf("xp_a 1\nxp_b 2"), 102);  // only the first statement may omit EXEC
}

TEST(Parser, LiteralsAreTypedAsTheServerTypesThem) {
  auto statements =
      ParseBatch("SELECT 'abc', '', N'ab', 42, 2147483648, .5, 12.50, 1e3, 0xABC, 0x, $2, NULL");
  ASSERT_EQ(statements.size(), 1u);
  std::vector<std::string> types;
  for (const auto& item : statements[0].items) {
    const Value& v = item.expr->literal;
    types.push_back(v.untyped_null ? "NULL" : FullName(v.type));
  }
  EXPECT_EQ(types,
            (std::vector<std::string>{"varchar(3)", "varchar(1)", "nvarchar(2)", "int",
                                      "numeric(10,0)", "numeric(1,1)", "numeric(4,2)", "float",
                                      "varbinary(2)", "varbinary(1)", "money", "NULL"}));
  EXPECT_EQ(statements[0].items[8].expr->literal.bytes, (ByteString{0x0A, 0xBC}));
  auto long_literal = ParseBatch("SELECT '" + std::string(8001, 'x') + "'");
  EXPECT_TRUE(long_literal[0].items[0].expr->literal.type.IsMax());
}

TEST(Parser, ExecShapes) {
  auto statements = ParseBatch(
      "DECLARE @rc int, @o varchar(9)\n"
      "EXEC @rc = master.dbo.xp_x -1, @p = @o OUTPUT; EXECUTE xp_y NULL");
  ASSERT_EQ(statements.size(), 3u);
  EXPECT_EQ(CompileErrorOf("DECLARE @a int\nxp_z"), 102);
  const Statement& exec = statements[1];
  EXPECT_EQ(exec.return_variable, "@rc");
  EXPECT_EQ(exec.procedure, "xp_x");
  ASSERT_EQ(exec.args.size(), 2u);
  EXPECT_EQ(exec.args[0].constant.integer, -1);
  EXPECT_EQ(exec.args[1].param, "@p");
  EXPECT_EQ(exec.args[1].variable, "@o");
  EXPECT_TRUE(exec.args[1].output);
  EXPECT_TRUE(statements[2].args[0].constant.untyped_null);
}

TEST(Output, ColumnsAreSizedByTypeAndAligned) {
  std::ostringstream text;
  OutputOptions options;
  options.max_var_width = 6;
  options.max_fixed_width = 3;
  SqlcmdOutput out(text, options);
  out.Columns({{"n", DecimalType(5, 2), false},
               {"a long name", TypeOf(TypeId::TinyInt), false},
               {"b", TypeOf(TypeId::Bit), true},
               {"v", TypeOf(TypeId::VarChar, 10), false},
               {"m", TypeOf(TypeId::NVarChar, kMaxLength), false}});
  out.Row({Value::Exact(*Decimal::Parse("-1.50"), 5), Value::Integer(7, TypeId::TinyInt),
           Value::Null(TypeOf(TypeId::Bit)), Value::Chars("abcdef", TypeOf(TypeId::VarChar, 10)),
           Value::WideChars(u"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9",
                            TypeOf(TypeId::NVarChar, kMaxLength))});
  out.End(Done{Done::Kind::kStatement, 1, false});
  EXPECT_EQ(text.str(),
            "n       a long name b    v   m     \n"
            "------- ----------- ---- --- ------\n"
            "  -1.50           7 NULL abc \u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\n"
            "\n"
            "(1 rows affected)\n");
}

TEST(Output, WidthZeroShowsWholeMaxValues) {
  std::ostringstream text;
  OutputOptions options;
  options.max_var_width = 0;
  SqlcmdOutput out(text, options);
  out.Columns(
      {{"long", TypeOf(TypeId::VarChar, kMaxLength), true}, {"x", TypeOf(TypeId::Bit), false}});
  out.Row(
      {Value::Chars(std::string(300, 'a'), TypeOf(TypeId::VarChar, kMaxLength)), Value::Bit(true)});
  out.Row({Value::Null(TypeOf(TypeId::VarChar, kMaxLength)), Value::Bit(false)});
  out.End(Done{});
  EXPECT_EQ(text.str(), "long x\n---- -\n" + std::string(300, 'a') + " 1\nNULL 0\n\n");
}

TEST(Output, MessagesAndUncountedResults) {
  std::ostringstream text;
  SqlcmdOutput out(text, OutputOptions{});
  out.Info({0, 10, 1, 3, "informational", ""});
  out.Info({50000, 11, 2, 4, "an error", "sp_x"});
  out.Columns({{"", TypeOf(TypeId::Bit), false}});
  out.End(Done{Done::Kind::kInProc, std::nullopt, false});
  EXPECT_EQ(text.str(),
            "informational\nMsg 50000, Level 11, State 2, Procedure sp_x, Line 4\nan error\n"
            " \n-\n\n");
}

TEST(OdsValues, NullsTakeTheNullableTypes) {
  struct Case {
    SqlType type;
    uint8_t code;
    uint32_t max_len;
  } cases[] = {
      {TypeOf(TypeId::Int), 0x26, 4},
      {TypeOf(TypeId::TinyInt), 0x26, 1},
      {TypeOf(TypeId::BigInt), 0x26, 8},
      {TypeOf(TypeId::Bit), 0x68, 1},
      {TypeOf(TypeId::Real), 0x6D, 4},
      {TypeOf(TypeId::Float), 0x6D, 8},
      {TypeOf(TypeId::SmallMoney), 0x6E, 4},
      {TypeOf(TypeId::DateTime), 0x6F, 8},
      {TypeOf(TypeId::SmallDateTime), 0x6F, 4},
      {DecimalType(9, 2, TypeId::Decimal), 0x6A, 19},
      {TypeOf(TypeId::Guid), 0x24, 16},
      {TypeOf(TypeId::NVarChar, 7), 0xE7, 14},
      {TypeOf(TypeId::VarBinary, kMaxLength), 0xA5, 0x7FFFFFFF},
  };
  for (const auto& c : cases) {
    ods::Param p = ToParam(Value::Null(c.type));
    EXPECT_TRUE(p.is_null) << FullName(c.type);
    EXPECT_EQ(p.type, c.code) << FullName(c.type);
    EXPECT_EQ(p.max_len, c.max_len) << FullName(c.type);
    EXPECT_TRUE(p.value.empty());
  }
  ods::Param untyped = ToParam(Value::UntypedNull());
  EXPECT_EQ(untyped.type, 0x26);
  EXPECT_EQ(untyped.max_len, 4u);
}

TEST(OdsValues, BytesThatDoNotFitTheirTypeAreRefused) {
  EXPECT_FALSE(FromOds(SRVINT4, {1, 2, 3}));
  EXPECT_FALSE(FromOds(SRVNVARCHAR, {0x41}));
  EXPECT_FALSE(FromOds(SRVBIT, {}));
  ods::Bytes numeric(19, 0);
  EXPECT_FALSE(FromOds(SRVNUMERICN, numeric));  // precision 0
  numeric[0] = 2;
  numeric[1] = 3;
  EXPECT_FALSE(FromOds(SRVNUMERICN, numeric));  // scale above precision
  numeric[1] = 0;
  numeric[3] = 200;  // three digits in precision 2
  EXPECT_FALSE(FromOds(SRVNUMERICN, numeric));
  EXPECT_FALSE(FromOds(SRVDATETIME, {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_FALSE(FromOds(SRVNULL, {}));
  auto money = FromOds(SRVMONEYN, {0xFF, 0xFF, 0xFF, 0xFF, 0x68, 0xC5, 0xFF, 0xFF});
  ASSERT_TRUE(money);
  EXPECT_EQ(money->integer, -15000);  // -1.5: high word first
  auto tiny = FromOds(SRVINTN, {200});
  ASSERT_TRUE(tiny);
  EXPECT_EQ(tiny->integer, 200);  // tinyint is unsigned
  EXPECT_EQ(ColumnType(SRVNVARCHAR, 8000).length, 4000u);
  EXPECT_TRUE(ColumnType(SRVBIGVARCHAR, 0x7FFFFFFF).IsMax());
  EXPECT_EQ(ColumnType(SRVFLTN, 4).id, TypeId::Real);
}

}  // namespace
}  // namespace dunmarrow::host
