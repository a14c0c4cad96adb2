// Calls by RPC: a procedure by name with typed parameters and no T-SQL text, its status and
// OUTPUT values as events; sp_executesql as an RPC and inside a batch.
#include <gtest/gtest.h>

#include "tests/tsql/engine_fixture.h"

namespace dunmarrow::tsql {
namespace {

using Kind = Event::Kind;

Value NVarChar(std::u16string text, uint32_t length = 4000) {
  return Value::WideChars(std::move(text), TypeOf(TypeId::NVarChar, length));
}

TEST_F(EngineTest, RpcCallReportsStatusAndOutputValues) {
  RegisterTestProcedures();
  // Written as bytes into an int OUTPUT parameter: the procedure sees the int's bytes.
  EXPECT_FALSE(Call("[dbo].[xp_hosttest_write]",
                    {{"@target", Value::Null(TypeOf(TypeId::Int)), true},
                     {"@bytes", Value::Binary({0x2A, 0, 0, 0}, TypeOf(TypeId::VarBinary, 4))}}));
  ASSERT_EQ(Kinds(),
            (std::vector<Kind>{Kind::kEnd, Kind::kReturnStatus, Kind::kOutput, Kind::kEnd}));
  const auto& events = sink.Events();
  EXPECT_EQ(events[1].status, 4);
  const OutputParam& out = events[2].output;
  EXPECT_EQ(out.ordinal, 1);
  EXPECT_EQ(out.name, "@target");
  EXPECT_EQ(out.type, TypeOf(TypeId::Int));
  EXPECT_FALSE(out.value.null);
  EXPECT_EQ(out.value.integer, 42);
  EXPECT_EQ(events[3].done.kind, Done::Kind::kProc);
  EXPECT_FALSE(events[3].done.error);

  // An OUTPUT parameter the procedure does not write comes back as it was passed.
  Call("master..xp_hosttest_write", {{"", Value::Chars("ab", TypeOf(TypeId::VarChar, 5)), true}});
  auto outputs = sink.Of(Kind::kOutput);
  ASSERT_EQ(outputs.size(), 1u);
  EXPECT_EQ(outputs[0].output.value.text, "ab");
  EXPECT_EQ(outputs[0].output.code_page, AnsiCodePage());
  EXPECT_EQ(sink.Of(Kind::kInfo)[0].message.text, "xp_hosttest_write: two parameters, please");
}

TEST_F(EngineTest, RpcCallOfAModuleProcedure) {
  EXPECT_FALSE(Call("xp_FileExists", {{"", NVarChar(u"c:\\nowhere\\at\\all.txt")},
                                      {"", Value::Null(TypeOf(TypeId::Int)), true}}));
  auto statuses = sink.Of(Kind::kReturnStatus);
  ASSERT_EQ(statuses.size(), 1u);
  auto outputs = sink.Of(Kind::kOutput);
  ASSERT_EQ(outputs.size(), 1u);
  EXPECT_EQ(outputs[0].output.ordinal, 2);
  EXPECT_EQ(outputs[0].output.value.integer, 0);  // no such file
}

TEST_F(EngineTest, RpcCallOfAnUnknownProcedure) {
  EXPECT_TRUE(Call("xp_nothing_of_the_kind", {}));
  ASSERT_EQ(Kinds(), (std::vector<Kind>{Kind::kInfo, Kind::kEnd}));
  EXPECT_EQ(sink.Events()[0].message.number, 2812);
  EXPECT_EQ(sink.Events()[0].message.text,
            "Could not find stored procedure 'xp_nothing_of_the_kind'.");
  EXPECT_TRUE(sink.Events()[1].done.error);
}

TEST_F(EngineTest, ExecuteSqlByRpcBindsByPositionAndReturnsOutputs) {
  // As FreeTDS sends it: everything unnamed, the values in the order declared.
  EXPECT_FALSE(Call(
      "sp_executesql",
      {{"", Value::WideChars(u"SELECT @P1 + 1 AS x; SET @P2 = @P1 + @P1", TypeOf(TypeId::NText))},
       {"", Value::WideChars(u"@P1 INT,@P2 INT OUTPUT", TypeOf(TypeId::NText))},
       {"", Value::Integer(20)},
       {"", Value::Null(TypeOf(TypeId::Int)), true}}));
  ASSERT_EQ(Kinds(), (std::vector<Kind>{Kind::kColumns, Kind::kRow, Kind::kEnd, Kind::kEnd,
                                        Kind::kReturnStatus, Kind::kOutput, Kind::kEnd}));
  const auto& events = sink.Events();
  EXPECT_EQ(events[1].row[0].integer, 21);
  EXPECT_EQ(events[2].done.kind, Done::Kind::kInProc);
  EXPECT_EQ(events[2].done.count, 1);
  EXPECT_EQ(events[4].status, 0);
  EXPECT_EQ(events[5].output.ordinal, 4);
  EXPECT_EQ(events[5].output.name, "@P2");  // unnamed: the declared name
  EXPECT_EQ(events[5].output.value.integer, 40);
  EXPECT_EQ(events[6].done.kind, Done::Kind::kProc);

  // As tedious sends it: the statement alone, or named values.
  EXPECT_FALSE(Call("sp_executesql", {{"@statement", NVarChar(u"SELECT 1")}}));
  EXPECT_EQ(sink.Of(Kind::kRow).size(), 1u);
  EXPECT_FALSE(Call("sp_executesql", {{"@statement", NVarChar(u"SELECT @b AS b")},
                                      {"@params", NVarChar(u"@a int, @b nvarchar(10)")},
                                      {"@b", NVarChar(u"bee")},
                                      {"@a", Value::Integer(1)}}));
  ASSERT_EQ(sink.Of(Kind::kRow).size(), 1u);
  EXPECT_EQ(sink.Of(Kind::kRow)[0].row[0].wide, u"bee");
  EXPECT_EQ(sink.Of(Kind::kColumns)[0].columns[0].type, TypeOf(TypeId::NVarChar, 10));
}

TEST_F(EngineTest, ExecuteSqlRefusesWhatTheServerRefuses) {
  EXPECT_TRUE(Call("sp_executesql", {{"", Value::Chars("SELECT 1", TypeOf(TypeId::VarChar, 8))}}));
  EXPECT_EQ(sink.Of(Kind::kInfo)[0].message.number, 214);
  EXPECT_TRUE(Call("sp_executesql", {{"", NVarChar(u"SELECT @a")}, {"", NVarChar(u"@a int")}}));
  EXPECT_EQ(sink.Of(Kind::kInfo)[0].message.text,
            "The parameterized query '(@a int)SELECT @a' expects the parameter '@a', which was "
            "not supplied.");
  EXPECT_TRUE(
      Call("sp_executesql",
           {{"", NVarChar(u"SELECT @a")}, {"", NVarChar(u"@a int")}, {"@b", Value::Integer(1)}}));
  EXPECT_EQ(sink.Of(Kind::kInfo)[0].message.number, 8145);
  // A statement that fails inside: its error, the call fails, the status is still reported.
  EXPECT_TRUE(Call("sp_executesql", {{"", NVarChar(u"SELECT CAST('x' AS int)")}}));
  EXPECT_EQ(sink.Of(Kind::kInfo)[0].message.number, 245);
  EXPECT_EQ(sink.Of(Kind::kReturnStatus).size(), 1u);
  EXPECT_TRUE(sink.Events().back().done.error);
}

TEST(ProcedureNames, TheLastPartOfAQualifiedName) {
  EXPECT_EQ(ProcedureName("xp_FileExists"), "xp_FileExists");
  EXPECT_EQ(ProcedureName("dbo.xp_FileExists"), "xp_FileExists");
  EXPECT_EQ(ProcedureName("[master]..[xp x]"), "xp x");
  EXPECT_EQ(ProcedureName("srv.master.dbo.\"p\""), "p");
  EXPECT_EQ(ProcedureName("a b"), "a b");
}

}  // namespace
}  // namespace dunmarrow::tsql
