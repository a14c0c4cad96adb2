// No batch ends the host badly: random and broken batches only ever give messages. Runs the
// interpreter in-process over the built module, so that the sanitizers watch every path.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "host/sqlcmd_output.h"
#include "tsql/interpreter.h"

namespace dunmarrow::host {
namespace {

TEST(Robustness, RandomBatchesOnlyGiveMessages) {
  ProcedureRegistry registry;
  registry.LoadModule(DUNMARROW_MODULE_PATH);
  std::ostringstream sink;
  SqlcmdOutput out(sink, OutputOptions{});
  SessionState state;
  state.trace = true;
  Interpreter interpreter(registry, out, state);

  const std::vector<std::string> words = {"SELECT",
                                          "DECLARE",
                                          "SET",
                                          "PRINT",
                                          "EXEC",
                                          "EXECUTE",
                                          "AS",
                                          "NULL",
                                          "CAST",
                                          "CONVERT",
                                          "REPLICATE",
                                          "LEN",
                                          "DATALENGTH",
                                          "OUTPUT",
                                          "@a",
                                          "@b",
                                          "@a =",
                                          "int",
                                          "varchar(5)",
                                          "nvarchar(max)",
                                          "decimal(38,38)",
                                          "datetime",
                                          "uniqueidentifier",
                                          "varbinary(max)",
                                          "bit",
                                          "money",
                                          "text",
                                          "image",
                                          "(",
                                          ")",
                                          ",",
                                          ";",
                                          "+",
                                          "-",
                                          "=",
                                          "+=",
                                          "'x'",
                                          "N'\xD0\xB6'",
                                          "''",
                                          "0x",
                                          "0xABC",
                                          "1e308",
                                          "-2147483648",
                                          "99999999999999999999999999999999999999",
                                          "$922337203685477.5807",
                                          "2.5",
                                          "'2020-02-30'",
                                          "'0xZZ'",
                                          "xp_FileExists",
                                          "xp_DirExists",
                                          "xp_Ping",
                                          "sp_addextendedproc",
                                          "sp_dropextendedproc 'xp_FileExists'",
                                          "'c:\\'",
                                          "[x]",
                                          "\"y\"",
                                          "/*",
                                          "*/",
                                          "--",
                                          "\n",
                                          "GO",
                                          "'",
                                          "[",
                                          "\x01",
                                          "\xFF",
                                          "@",
                                          "."};
  std::mt19937 random(20261209);
  for (int n = 0; n < 3000; ++n) {
    std::string batch;
    size_t length = 1 + random() % 12;
    for (size_t k = 0; k < length; ++k) batch += words[random() % words.size()] + " ";
    // A few meaningful shapes that reach deeper than syntax errors.
    if (n % 3 == 0) batch = "DECLARE @a " + words[18 + random() % 10] + " = " + batch;
    if (n % 5 == 0) batch = "DECLARE @a varbinary(max), @b int EXEC @b = xp_FileExists " + batch;
    ASSERT_NO_THROW(interpreter.RunBatch(batch)) << batch;
    sink.str("");
  }
}

TEST(Robustness, DeepNestingIsRefused) {
  ProcedureRegistry registry;
  std::ostringstream sink;
  SqlcmdOutput out(sink, OutputOptions{});
  SessionState state;
  Interpreter interpreter(registry, out, state);
  std::string minuses, pluses;
  for (int i = 0; i < 100000; ++i) {
    minuses += "- ";  // "--" would start a comment
    pluses += "+1";
  }
  for (const std::string& batch :
       {"SELECT " + std::string(100000, '(') + "1" + std::string(100000, ')'),
        "SELECT " + minuses + "1", "SELECT 1" + pluses}) {
    sink.str("");
    EXPECT_TRUE(interpreter.RunBatch(batch));
    EXPECT_NE(sink.str().find("Msg 191, Level 15"), std::string::npos) << sink.str().substr(0, 200);
  }
  // A long chain within the limit works.
  std::string chain = "SELECT 0";
  for (int i = 0; i < 900; ++i) chain += " + 1";
  sink.str("");
  EXPECT_FALSE(interpreter.RunBatch(chain + " AS n"));
  EXPECT_NE(sink.str().find("900"), std::string::npos) << sink.str();
}

TEST(Robustness, LongTextsAreNoDates) {
  ProcedureRegistry registry;
  std::ostringstream sink;
  SqlcmdOutput out(sink, OutputOptions{});
  SessionState state;
  Interpreter interpreter(registry, out, state);
  EXPECT_TRUE(interpreter.RunBatch(
      "SELECT CAST(REPLICATE(CAST('1' AS varchar(max)), 1000000) AS datetime)"));
  EXPECT_NE(sink.str().find("Msg 241"), std::string::npos) << sink.str();
}

TEST(Robustness, HugeValuesAreRefusedOrBuilt) {
  ProcedureRegistry registry;
  std::ostringstream sink;
  SqlcmdOutput out(sink, OutputOptions{});
  SessionState state;
  Interpreter interpreter(registry, out, state);
  EXPECT_TRUE(
      interpreter.RunBatch("SELECT LEN(REPLICATE(CAST('ab' AS varchar(max)), 2000000000))"));
  EXPECT_NE(sink.str().find("Msg 7119"), std::string::npos) << sink.str();
  sink.str("");
  EXPECT_FALSE(interpreter.RunBatch(
      "DECLARE @big varchar(max) = REPLICATE(CAST('x' AS varchar(max)), 3000000)\n"
      "SELECT DATALENGTH(@big + @big) AS bytes"));
  EXPECT_NE(sink.str().find("6000000"), std::string::npos) << sink.str();
}

}  // namespace
}  // namespace dunmarrow::host
