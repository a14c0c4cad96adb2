// The logins file, the password hash and the authenticator with its growing delay.
#include "server/logins.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "server/login_authenticator.h"
#include "server/logins_file.h"

namespace dunmarrow::server {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// Cheap hashes: the tests check the format and the comparison, not the work factor.
constexpr uint32_t kTestIterations = 1000;

class LoginsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("logins_test_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    path = (dir / "logins").string();
  }
  void TearDown() override { fs::remove_all(dir); }

  static LoginEntry Entry(const std::string& name, const std::string& password) {
    LoginEntry entry;
    entry.name = name;
    entry.password = HashPassword(password, kTestIterations);
    return entry;
  }
  void WriteText(const std::string& text) { std::ofstream(path) << text; }
  std::string ReadError() {
    LoginsFile file;
    std::string error;
    EXPECT_FALSE(file.Read(path, error));
    return error;
  }

  fs::path dir;
  std::string path;
};

std::string HexOf(const std::vector<uint8_t>& bytes) {
  std::string out;
  char two[3];
  for (uint8_t b : bytes) snprintf(two, sizeof two, "%02x", b), out += two;
  return out;
}

TEST(PasswordHashTest, Pbkdf2MatchesKnownVectors) {
  const uint8_t salt[] = {'s', 'a', 'l', 't'};
  EXPECT_EQ(HexOf(Pbkdf2Sha256("password", salt, 4, 1, 32)),
            "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b");
  EXPECT_EQ(HexOf(Pbkdf2Sha256("password", salt, 4, 4096, 32)),
            "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a");
}

TEST(PasswordHashTest, SaltsDifferAndOnlyThePasswordVerifies) {
  PasswordHash a = HashPassword("secret", kTestIterations);
  PasswordHash b = HashPassword("secret", kTestIterations);
  EXPECT_NE(a.salt, b.salt);
  EXPECT_NE(a.hash, b.hash);
  EXPECT_TRUE(VerifyPassword(a, "secret"));
  EXPECT_FALSE(VerifyPassword(a, "Secret"));
  EXPECT_FALSE(VerifyPassword(a, ""));
}

TEST_F(LoginsFileTest, RoundTripKeepsEverythingButThePassword) {
  LoginsFile file;
  LoginEntry alice = Entry("alice", "pw-alice");
  alice.procedures = {"xp_fileexists", "xp_zcreate"};
  LoginEntry root = Entry("root.admin", "pw-root");
  root.all = true;
  root.admin = true;
  ASSERT_TRUE(file.Add(alice));
  ASSERT_TRUE(file.Add(root));
  EXPECT_FALSE(file.Add(Entry("ALICE", "x")));  // names match in any case
  std::string error;
  ASSERT_TRUE(file.Write(path, error)) << error;

  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text.rfind(std::string(kLoginsFileTag) + "\n", 0), 0u);
  EXPECT_EQ(text.find("pw-alice"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);  // no temporary file left

  LoginsFile back;
  ASSERT_TRUE(back.Read(path, error)) << error;
  ASSERT_EQ(back.Entries().size(), 2u);
  const LoginEntry* a = back.Find("Alice");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->procedures, alice.procedures);
  EXPECT_FALSE(a->all || a->admin);
  EXPECT_TRUE(VerifyPassword(a->password, "pw-alice"));
  EXPECT_TRUE(back.Find("root.admin")->all && back.Find("root.admin")->admin);
  EXPECT_TRUE(back.Remove("ROOT.ADMIN"));
  EXPECT_FALSE(back.Remove("root.admin"));
}

TEST_F(LoginsFileTest, RefusesWhatIsNotAValidLoginsFile) {
  EXPECT_NE(ReadError().find("cannot read"), std::string::npos);  // missing
  WriteText("");
  EXPECT_NE(ReadError().find("empty"), std::string::npos);
  WriteText("dunmarrow-logins 2\n");
  EXPECT_NE(ReadError().find("version"), std::string::npos);
  const std::string hash =
      "pbkdf2-sha256:1000:" + std::string(32, 'a') + ":" + std::string(64, 'b');
  WriteText(std::string(kLoginsFileTag) + "\n# comment\n\nalice all - " + hash + "\n");
  LoginsFile file;
  std::string error;
  EXPECT_TRUE(file.Read(path, error)) << error;
  for (const std::string& line : std::vector<std::string>{
           "alice all -", "al/ice all - " + hash, "alice xp_a;b - " + hash,
           "alice all root " + hash,
           "alice all - pbkdf2-sha256:10:" + std::string(32, 'a') + ":" + std::string(64, 'b'),
           "alice all - pbkdf2-sha256:1000:abc:" + std::string(64, 'b')}) {
    WriteText(std::string(kLoginsFileTag) + "\n" + line + "\n");
    EXPECT_NE(ReadError().find(":2: "), std::string::npos) << line;
  }
  WriteText(std::string(kLoginsFileTag) + "\nalice all - " + hash + "\nALICE - - " + hash + "\n");
  EXPECT_NE(ReadError().find(":3: the login ALICE is there twice"), std::string::npos);
}

TEST_F(LoginsFileTest, DefaultPathIsBesideTheDriveRoot) {
  EXPECT_EQ(DefaultLoginsPath("/srv/dunmarrow/drives"), "/srv/dunmarrow/logins");
  EXPECT_EQ(DefaultLoginsPath("/srv/dunmarrow/drives/"), "/srv/dunmarrow/logins");
  EXPECT_EQ(DefaultLoginsPath("/srv/x/../drives"), "/srv/logins");
}

TEST(LoginDelayTest, GrowsAfterThreeFailuresAndIsForgottenWhenQuiet) {
  auto now = std::chrono::steady_clock::time_point{};
  LoginDelay delay({}, [&] { return now; });
  std::vector<long> waits;
  for (int i = 0; i < 9; ++i) waits.push_back(delay.Fail("10.0.0.1").count());
  EXPECT_EQ(waits, (std::vector<long>{0, 0, 0, 250, 500, 1000, 2000, 4000, 5000}));
  EXPECT_EQ(delay.Fail("10.0.0.2"), milliseconds(0));  // another address is not slowed
  now += std::chrono::seconds(599);
  EXPECT_EQ(delay.Fail("10.0.0.1"), milliseconds(5000));
  now += std::chrono::seconds(600);
  EXPECT_EQ(delay.Fail("10.0.0.1"), milliseconds(0));
  delay.Fail("10.0.0.1"), delay.Fail("10.0.0.1");
  delay.Succeed("10.0.0.1");
  EXPECT_EQ(delay.Fail("10.0.0.1"), milliseconds(0));
}

TEST(LoginDelayTest, RemembersABoundedNumberOfAddresses) {
  auto now = std::chrono::steady_clock::time_point{};
  LoginDelayPolicy policy;
  policy.max_addresses = 3;
  LoginDelay delay(policy, [&] { return now; });
  for (int i = 0; i < 4; ++i) delay.Fail("10.0.0.9");
  for (int i = 0; i < 10; ++i) {
    now += std::chrono::seconds(1);
    delay.Fail("10.0.1." + std::to_string(i));
  }
  EXPECT_EQ(delay.RememberedAddresses(), 3u);
  EXPECT_EQ(delay.Fail("10.0.0.9"), milliseconds(0));  // the oldest went first
}

TEST(LoginAuthenticatorTest, ChecksPasswordsAndDelaysRepeatedFailures) {
  LoginsFile file;
  LoginEntry alice;
  alice.name = "alice";
  alice.procedures = {"xp_fileexists"};
  alice.password = HashPassword("right", kTestIterations);
  file.Add(alice);
  std::vector<milliseconds> slept;
  LoginAuthenticator logins(file, {}, std::chrono::steady_clock::now,
                            [&](milliseconds d) { slept.push_back(d); });

  std::optional<LoginIdentity> who = logins.Authenticate("ALICE", "right", "127.0.0.1");
  ASSERT_TRUE(who);
  EXPECT_EQ(who->name, "alice");
  EXPECT_TRUE(who->permissions->MayExecute("xp_FileExists"));
  EXPECT_FALSE(who->permissions->MayExecute("xp_ZCreate"));
  EXPECT_FALSE(who->permissions->admin);

  for (int i = 0; i < 4; ++i) EXPECT_FALSE(logins.Authenticate("alice", "wrong", "::1"));
  EXPECT_FALSE(logins.Authenticate("mallory", "right", "::1"));
  EXPECT_EQ(slept, (std::vector<milliseconds>{milliseconds(250), milliseconds(500)}));
  EXPECT_TRUE(logins.Authenticate("alice", "right", "127.0.0.2"));
}

TEST(LoginAuthenticatorTest, AFloodFromOneAddressIsRefusedWithoutWaiting) {
  LoginsFile file;
  LoginEntry alice;
  alice.name = "alice";
  alice.password = HashPassword("right", kTestIterations);
  file.Add(alice);
  std::atomic<int> sleeping{0};
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  LoginAuthenticator logins(file, {}, std::chrono::steady_clock::now, [&](milliseconds) {
    ++sleeping;
    released.wait();
  });
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(logins.Authenticate("alice", "wrong", "10.0.0.9"));
  std::vector<std::thread> waiting;
  for (int i = 0; i < LoginAuthenticator::kMaxWaitingPerAddress; ++i) {
    waiting.emplace_back([&] { EXPECT_FALSE(logins.Authenticate("alice", "wrong", "10.0.0.9")); });
  }
  while (sleeping < LoginAuthenticator::kMaxWaitingPerAddress) std::this_thread::yield();
  // Even the right password is refused from there now, without a wait; other addresses log in.
  EXPECT_FALSE(logins.Authenticate("alice", "right", "10.0.0.9"));
  EXPECT_TRUE(logins.Authenticate("alice", "right", "10.0.0.8"));
  EXPECT_EQ(sleeping, LoginAuthenticator::kMaxWaitingPerAddress);
  release.set_value();
  for (std::thread& t : waiting) t.join();
}

TEST_F(LoginsFileTest, OpenLoginsExplainsAMissingFile) {
  std::string error;
  EXPECT_EQ(OpenLogins(path, error), nullptr);
  EXPECT_NE(error.find(path), std::string::npos);
  LoginsFile file;
  file.Add(Entry("bob", "pw"));
  ASSERT_TRUE(file.Write(path, error));
  auto logins = OpenLogins(path, error);
  ASSERT_NE(logins, nullptr);
  EXPECT_TRUE(logins->Authenticate("bob", "pw", "127.0.0.1"));
}

}  // namespace
}  // namespace dunmarrow::server
