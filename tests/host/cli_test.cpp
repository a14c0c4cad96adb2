// The dunmarrow program: its command line, exit statuses and the errors that must not end it
// badly. Each test runs the built program.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

std::string Quote(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("dunmarrow-cli-" + std::to_string(::getpid()) + "-" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Runs the program with the arguments (and the text on standard input).
  Outcome Start(const std::vector<std::string>& args, const std::string& input = "") {
    fs::path in = dir_ / "stdin", out = dir_ / "stdout", err = dir_ / "stderr";
    std::ofstream(in, std::ios::binary) << input;
    std::string command = Quote(DUNMARROW_HOST);
    bool has_root = false;
    for (const auto& a : args) has_root = has_root || a == "--drive-root";
    if (!has_root) command += " --drive-root " + Quote((dir_ / "drives").string());
    for (const auto& a : args) command += " " + Quote(a);
    command += " <" + Quote(in.string()) + " >" + Quote(out.string()) + " 2>" + Quote(err.string());
    int raw = std::system(command.c_str());
    Outcome run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    return run;
  }

  fs::path dir_;
};

TEST_F(CliTest, ReturnStatusCapturedAndSelected) {
  fs::path file = dir_ / "hostname";
  std::ofstream(file) << "x";
  Outcome run = Start({"-Q", "DECLARE @r int; EXEC @r = xp_FileExists N'" + file.string() +
                                 "'; SELECT @r AS Found"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Found      \n-----------\n          1\n\n(1 rows affected)\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(CliTest, ProcedureMessageIsInformationalAndTracedBeforeTheDone) {
  Outcome run = Start({"-b", "--trace", "-Q", "EXEC xp_FileExists 1, 2"});
  EXPECT_EQ(run.status, 0);
  size_t message = run.out.find("ods: sendmsg type=1 number=0 severity=0");
  size_t shown = run.out.find("\nxp_FileExists: Invalid list of parameters. (Runtime Addr: $");
  size_t done = run.out.find("ods: senddone status=0x0001");
  EXPECT_NE(message, std::string::npos) << run.out;
  EXPECT_LT(message, shown);
  EXPECT_LT(shown, done);
  EXPECT_EQ(run.out.find("Msg "), std::string::npos) << run.out;
}

TEST_F(CliTest, BatchErrorsGiveOneMessageAndStopWithB) {
  struct Case {
    std::string batch, message;
  } cases[] = {
      {"SELECT 1 +",
       "Msg 102, Level 15, State 1, Line 1\nIncorrect syntax near '+' at column 10.\n"},
      {"EXEC xp_NoSuchThing",
       "Msg 2812, Level 16, State 62, Line 1\n"
       "Could not find stored procedure 'xp_NoSuchThing'.\n"},
      {"SELECT @nowhere",
       "Msg 137, Level 15, State 2, Line 1\n"
       "Must declare the scalar variable \"@nowhere\".\n"},
      {"SELECT CAST('x' AS int)",
       "Msg 245, Level 16, State 1, Line 1\n"
       "Conversion failed when converting the varchar value 'x' to data type int.\n"},
  };
  for (const auto& c : cases) {
    std::string script = c.batch + "\nGO\nPRINT 'next batch'\n";
    Outcome stopped = Start({"-b", "-Q", script});
    EXPECT_EQ(stopped.status, 1) << c.batch;
    EXPECT_EQ(stopped.out, c.message) << c.batch;
    Outcome going = Start({"-Q", script});
    EXPECT_EQ(going.status, 0) << c.batch;
    EXPECT_EQ(going.out, c.message + "next batch\n") << c.batch;
  }
}

TEST_F(CliTest, MissingModuleIsOneClearMessage) {
  for (bool stop : {false, true}) {
    std::vector<std::string> args = {"-m", (dir_ / "missing.so").string(), "-Q", "SELECT 1"};
    if (stop) args.insert(args.begin(), "-b");
    Outcome run = Start(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "dunmarrow: Could not load the DLL " + (dir_ / "missing.so").string() +
                           ", or one of the DLLs it references. Reason: 126(The specified "
                           "module could not be found.).\n");
  }
  // A file that is no module is refused the same way.
  std::ofstream(dir_ / "text.so") << "not a module";
  Outcome run = Start({"-m", (dir_ / "text.so").string(), "-Q", "SELECT 1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Could not load the DLL"), std::string::npos);
}

TEST_F(CliTest, BadCommandLines) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"--nope"}, {"-Q"}, {"-y", "wide"}, {"-Q", "SELECT 1", "-i", "x.sql"}}) {
    Outcome run = Start(args);
    EXPECT_EQ(run.status, 1) << args[0];
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage: dunmarrow"), std::string::npos) << run.err;
  }
  Outcome missing = Start({"-i", (dir_ / "none.sql").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot read the input file"), std::string::npos);
}

TEST_F(CliTest, InputFilesStandardInputAndOutputFile) {
  std::ofstream(dir_ / "a.sql") << "PRINT 'a1'\nGO\nPRINT 'a2'";  // the last batch has no GO
  std::ofstream(dir_ / "b.sql") << "\xEF\xBB\xBFPRINT 'b'\r\ngo 2\r\n";
  Outcome files = Start({"-i", (dir_ / "a.sql").string() + "," + (dir_ / "b.sql").string()});
  EXPECT_EQ(files.out, "a1\na2\nb\nb\n");
  Outcome repeated = Start({"-i", (dir_ / "b.sql").string(), "-i", (dir_ / "a.sql").string()});
  EXPECT_EQ(repeated.out, "b\nb\na1\na2\n");

  Outcome piped = Start({}, "DECLARE @x int = 1\nPRINT @x\nGO\nPRINT 'no GO at the end'\n");
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out, "1\nno GO at the end\n");

  Outcome echoed = Start({"-e", "-o", (dir_ / "out.txt").string(), "-Q", "PRINT 'x'\nGO"});
  EXPECT_EQ(echoed.out, "");
  EXPECT_EQ(ReadFile(dir_ / "out.txt"), "PRINT 'x'\nGO\nx\n");
}

TEST_F(CliTest, DriveRootHoldsTheDiagnosticLog) {
  fs::path root = dir_ / "root";
  Outcome run = Start({"--drive-root", root.string(), "-Q",
                       "DECLARE @r int; EXEC @r = xp_DirExists 'c:\\'; SELECT @r AS Root; "
                       "EXEC xp_DirExists"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("          1"), std::string::npos) << run.out;
  std::string log = ReadFile(root / "c" / "Wexcombe.log");
  EXPECT_NE(log.find("] xp_DirExists: Invalid list of parameters. (Runtime Addr: $"),
            std::string::npos)
      << log;
}

TEST_F(CliTest, TrimmedOutput) {
  Outcome run = Start({"-W", "-Q", "SELECT 'ab' AS first, CAST(7 AS int) AS [second column]"});
  EXPECT_EQ(run.out, "first second column\n----- -------------\nab 7\n\n(1 rows affected)\n");
}

}  // namespace

TEST_F(CliTest, InputThatIsNoScriptEndsWithAMessageNotAnAbort) {
  // A directory is no input file, as a missing file is none.
  Outcome dir = Start({"-i", dir_.string()});
  EXPECT_EQ(dir.status, 1);
  EXPECT_NE(dir.err.find("cannot read the input file"), std::string::npos) << dir.err;
  // A device without end, or a script beyond the limit, is refused before it fills memory.
  Outcome zero = Start({"-i", "/dev/zero"});
  EXPECT_EQ(zero.status, 1);
  EXPECT_NE(zero.err.find("is larger than 64 MiB"), std::string::npos) << zero.err;
  std::string huge(65 * 1024 * 1024, ' ');
  Outcome piped = Start({}, "SELECT 1 AS one\nGO\n" + huge + "\nGO\n");
  EXPECT_EQ(piped.status, 1);
  EXPECT_NE(piped.out.find("one"), std::string::npos) << "the first batch ran";
  EXPECT_NE(piped.err.find("a batch of standard input is larger than 64 MiB"), std::string::npos)
      << piped.err;
}

TEST_F(CliTest, InvalidUtf8InAScriptBecomesReplacementCharacters) {
  // C0 AE is an overlong '.': "c:\<C0 AE><C0 AE>\" must not become "c:\..\".
  fs::path script = dir_ / "overlong.sql";
  std::ofstream(script, std::ios::binary)
      << "SELECT CAST(N'\xC0\xAE\xC0\xAE' AS varbinary(8)) AS overlong, "
         "CAST(N'\xED\xA0\x80' AS varbinary(8)) AS surrogate, "
         "CAST(N'\xF4\x90\x80\x80' AS varbinary(8)) AS beyond\n";
  Outcome run = Start({"-i", script.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("0xFDFFFDFFFDFFFDFF 0xFDFFFDFFFDFF"), std::string::npos) << run.out;
}

TEST_F(CliTest, LoginCommandManagesTheLoginsFileBesideTheDriveRoot) {
  const std::string root = (dir_ / "drives").string();
  const fs::path logins = dir_ / "logins";
  auto login = [&](std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), "login");
    args.insert(args.end(), {"--drive-root", root});
    return Start(args, input);
  };
  Outcome run = login({"add", "alice", "--grant", "xp_FileExists,xp_ZCreate"}, "s3cret\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(fs::status(logins).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ReadFile(logins).find("s3cret"), std::string::npos);
  EXPECT_EQ(login({"add", "root", "--grant", "all", "--admin"}, "pw").status, 0);
  run = login({"list"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "alice  xp_fileexists,xp_zcreate\nroot  all  admin\n");

  run = login({"add", "ALICE"}, "x\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "dunmarrow login: a login named 'alice' already exists in " + logins.string() + "\n");
  EXPECT_EQ(login({"passwd", "bob"}, "x\n").err,
            "dunmarrow login: no login named 'bob' in " + logins.string() + "\n");
  EXPECT_EQ(login({"add", "bob"}, "\n").err, "dunmarrow login: the password is empty\n");
  EXPECT_EQ(login({"add", "b/ob"}, "x\n").status, 1);
  EXPECT_EQ(login({"passwd", "alice", "--iterations", "999"}, "new\n").status, 1);
  EXPECT_EQ(login({"passwd", "alice", "--iterations", "2000"}, "new\n").status, 0);
  EXPECT_NE(ReadFile(logins).find("pbkdf2-sha256:2000:"), std::string::npos);
  EXPECT_EQ(login({"remove", "Alice"}).status, 0);
  EXPECT_EQ(login({"remove", "alice"}).status, 1);
  EXPECT_EQ(login({"list"}).out, "root  all  admin\n");
  run = login({"list", "--logins", (dir_ / "none").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no logins file at"), std::string::npos);
}
