// A login's EXECUTE permissions: procedures not granted, and sp_addextendedproc and
// sp_dropextendedproc without admin, give the server's Msg 229; the rest of the batch runs.
#include "tests/tsql/engine_fixture.h"

namespace dunmarrow::tsql {
namespace {

using Kind = Event::Kind;

class PermissionsTest : public EngineTest {
 protected:
  void LogIn(bool all, std::set<std::string> procedures, bool admin) {
    auto permissions = std::make_shared<ExecutePermissions>();
    permissions->all = all;
    permissions->procedures = std::move(procedures);
    permissions->admin = admin;
    SessionState state;
    state.permissions = permissions;
    session = std::make_unique<Session>(registry, state);
  }
  std::vector<Message> Messages() const {
    std::vector<Message> messages;
    for (const Event& e : sink.Of(Kind::kInfo)) messages.push_back(e.message);
    return messages;
  }
};

std::string Denied(const std::string& object) {
  return "The EXECUTE permission was denied on the object '" + object +
         "', database 'master', schema 'dbo'.";
}

TEST(ExecutePermissionsTest, NamesMatchInAnyCase) {
  ExecutePermissions granted{false, {"xp_fileexists"}, false};
  EXPECT_TRUE(granted.MayExecute("xp_FileExists"));
  EXPECT_TRUE(granted.MayExecute("XP_FILEEXISTS"));
  EXPECT_FALSE(granted.MayExecute("xp_FileExist"));
  EXPECT_FALSE(granted.MayExecute("xp_ZCreate"));
  EXPECT_TRUE((ExecutePermissions{true, {}, false}.MayExecute("xp_ZCreate")));
}

TEST_F(PermissionsTest, BatchExecOfAProcedureNotGrantedIsDenied) {
  LogIn(false, {"xp_fileexists"}, false);
  EXPECT_TRUE(
      RunBatch("EXEC xp_ZCreate 'abc'\n"
               "DECLARE @f int; EXEC @f = xp_FileExists N'c:\\nowhere.txt'; SELECT @f AS f"));
  std::vector<Message> messages = Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].number, 229);
  EXPECT_EQ(messages[0].severity, 14);
  EXPECT_EQ(messages[0].state, 5);
  EXPECT_EQ(messages[0].text, Denied("xp_ZCreate"));  // the name as registered
  ASSERT_EQ(sink.Of(Kind::kRow).size(), 1u);          // the granted call ran
  EXPECT_EQ(sink.Of(Kind::kRow)[0].row[0].integer, 0);
}

TEST_F(PermissionsTest, RpcCallOfAProcedureNotGrantedIsDenied) {
  LogIn(false, {}, false);
  EXPECT_TRUE(
      Call("xp_FileExists", {{"", Value::WideChars(u"c:\\x", TypeOf(TypeId::NVarChar, 10))}}));
  ASSERT_EQ(Kinds(), (std::vector<Kind>{Kind::kInfo, Kind::kEnd}));
  EXPECT_EQ(sink.Events()[0].message.number, 229);
  EXPECT_EQ(sink.Events()[0].message.text, Denied("xp_FileExists"));
  EXPECT_TRUE(Call("xp_nothing_of_the_kind", {}));  // unknown comes before denied
  EXPECT_EQ(sink.Events()[0].message.number, 2812);
}

TEST_F(PermissionsTest, OnlyAdminsAddAndDropExtendedProcedures) {
  LogIn(true, {}, false);
  EXPECT_TRUE(RunBatch("EXEC SP_ADDEXTENDEDPROC 'xp_hosttest_rows', 'x.so'"));
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].text, Denied("sp_addextendedproc"));
  EXPECT_TRUE(RunBatch("EXEC sp_dropextendedproc 'xp_FileExists'"));
  EXPECT_EQ(Messages()[0].text, Denied("sp_dropextendedproc"));
  EXPECT_TRUE(registry.Find("xp_FileExists"));

  LogIn(true, {}, true);
  EXPECT_FALSE(RunBatch("EXEC sp_dropextendedproc 'xp_FileExists'"));
  EXPECT_FALSE(registry.Find("xp_FileExists"));
}

}  // namespace
}  // namespace dunmarrow::tsql
