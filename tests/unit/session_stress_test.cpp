// Engine sessions on threads of their own against one loaded module, as a server runs one
// session per connection: each calls procedures of every family by batch, by RPC and through
// sp_executesql, while another session drops and registers a procedure again and again.
// `make test-tsan` runs this under ThreadSanitizer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/drives.h"
#include "tsql/recording_sink.h"
#include "tsql/session.h"

namespace dunmarrow::tsql {
namespace {

constexpr int kSessions = 4;
constexpr int kRounds = 12;

// Every family: files, INI keys, formatting, compression, hashing, encryption, names. Each
// result is checked in T-SQL: the batch prints 'ok' or its failures.
std::string Batch(int session, int round) {
  std::string tag = std::to_string(session) + "_" + std::to_string(round);
  return "DECLARE @name varchar(300), @size int, @v nvarchar(100), @line nvarchar(100), "
         "@z int, @hex varchar(40), @same int, @c varbinary(100), @p varchar(100), "
         "@addr varchar(100), @r int, @e int\n"
         "EXEC @e = xp_FileExists 'c:\\no such file.txt'\n"
         "EXEC xp_GetTempFile @name OUTPUT, 'c:\\', 's" +
         std::to_string(session) +
         "'\n"
         "EXEC xp_FileAppendLine @name, 'line of " +
         tag +
         "'\n"
         "EXEC @size = xp_FileSize @name\n"
         "EXEC xp_FileDelete @name\n"
         "EXEC xp_IniWriteKey 'c:\\s" +
         tag + ".ini', 'S', 'K', '" + tag +
         "'\n"
         "EXEC xp_IniReadKey 'c:\\s" +
         tag +
         ".ini', 'S', 'K', '', @v OUTPUT\n"
         "EXEC xp_FileDelete 'c:\\s" +
         tag +
         ".ini'\n"
         "EXEC xp_FormatStr @line OUTPUT, '%s|%5d', 'x', 42\n"
         "EXEC @z = xp_ZCreate 'to be or not to be, to be or not to be'\n"
         "EXEC xp_ZCompress @z\n"
         "EXEC xp_ZClose @z\n"
         "EXEC xp_sha_quick 'abc', @hex OUTPUT\n"
         "EXEC @same = xp_sha_quick_compare 'abc', @hex\n"
         "EXEC xp_symmetric_quick_encode 'RC4', 'pw', 'attack at dawn', @c OUTPUT\n"
         "EXEC xp_symmetric_quick_decode 'RC4', 'pw', @c, @p OUTPUT\n"
         "EXEC xp_GetAddrByHost 'localhost', @addr OUTPUT\n"
         "EXEC @r = sp_executesql N'EXEC xp_FileExists @f', N'@f nvarchar(260)', N'c:\\'\n"
         "SELECT @e AS e, @size AS size, @v AS v, @line AS line, @hex AS hex, @same AS same, "
         "@p AS p, @addr AS addr, @@SPID AS spid\n";
}

struct Outcome {
  int errors = 0;
  int checked = 0;
  std::string first_error;
};

void RunSession(ProcedureRegistry& registry, int number, Outcome& outcome) {
  Session session(registry);
  for (int round = 0; round < kRounds; ++round) {
    RecordingSink sink;
    session.RunBatch(Batch(number, round), sink);
    for (const Event& e : sink.Of(Event::Kind::kInfo)) {
      if (e.message.severity > 10 && outcome.first_error.empty()) {
        outcome.first_error = e.message.text;
      }
      outcome.errors += e.message.severity > 10;
    }
    auto rows = sink.Of(Event::Kind::kRow);  // the compressed data, then the checks
    if (rows.size() != 2) continue;
    const std::vector<Value>& row = rows[1].row;
    std::string tag = std::to_string(number) + "_" + std::to_string(round);
    bool good = row[0].integer == 0 && row[1].integer > 0 &&
                row[2].wide == std::u16string(tag.begin(), tag.end()) &&
                row[3].wide == u"x|   42" &&
                row[4].text == "a9993e364706816aba3e25717850c26c9cd0d89d" && row[5].integer == 1 &&
                row[6].text == "attack at dawn" && row[7].text == "127.0.0.1" &&
                row[8].integer == session.State().spid;
    outcome.checked += good;

    // The same procedure by RPC.
    RecordingSink rpc;
    session.Call("dbo.xp_FileExists",
                 {{"", Value::WideChars(u"c:\\", TypeOf(TypeId::NVarChar, 3)), false}}, rpc);
    if (rpc.Of(Event::Kind::kReturnStatus).size() != 1) ++outcome.errors;
  }
}

TEST(SessionStress, SessionsCallEveryFamilyAtOnce) {
  std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("dunmarrow-sessions-" + std::to_string(getpid()));
  std::filesystem::create_directories(root / "c");
  winplatform::SetDriveRoot(root.string());

  ProcedureRegistry registry;
  registry.LoadModule(DUNMARROW_MODULE_PATH);
  std::vector<Outcome> outcomes(kSessions);
  std::atomic<bool> done{false};
  std::atomic<int> registrations{0};

  // One more session drops and registers a procedure the others do not call by name.
  std::thread registrar([&] {
    Session session(registry);
    RecordingSink sink;
    while (!done) {
      session.RunBatch("EXEC sp_dropextendedproc 'xp_DirExists'", sink);
      session.RunBatch(
          "EXEC sp_addextendedproc 'xp_DirExists', '" + std::string(DUNMARROW_MODULE_PATH) + "'",
          sink);
      session.RunBatch("EXEC sp_helpextendedproc 'xp_DirExists'", sink);
      ++registrations;
    }
    for (const Event& e : sink.Of(Event::Kind::kInfo)) EXPECT_LE(e.message.severity, 10);
  });
  std::vector<std::thread> threads;
  for (int i = 0; i < kSessions; ++i) {
    threads.emplace_back(RunSession, std::ref(registry), i, std::ref(outcomes[i]));
  }
  for (auto& t : threads) t.join();
  done = true;
  registrar.join();

  EXPECT_GT(registrations.load(), 0);
  for (const Outcome& o : outcomes) {
    EXPECT_EQ(o.errors, 0) << o.first_error;
    EXPECT_EQ(o.checked, kRounds);
  }
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
}

}  // namespace
}  // namespace dunmarrow::tsql
