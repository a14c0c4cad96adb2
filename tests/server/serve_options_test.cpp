// dunmarrow serve's command line: the defaults, every refusal of a bad value, the encryption
// each listener gets, and a help text naming every option. And the start without a logins
// file, which must say how to add one.
#include "server/serve_options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "server/commands.h"

namespace dunmarrow::server {
namespace {

std::optional<ServeOptions> Parse(std::vector<std::string> args, std::string& error) {
  return ParseServeOptions(args, "built.so", error);
}

TEST(ServeOptions, Defaults) {
  std::string error;
  auto options = Parse({}, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->module, "built.so");
  ASSERT_EQ(options->listen.size(), 1u);
  EXPECT_EQ(options->listen[0].Text(), "127.0.0.1:1433");
  EXPECT_TRUE(options->listen[0].loopback);
  EXPECT_EQ(options->max_connections, 256u);
  EXPECT_EQ(options->buffer_limit, 256u << 20);
  EXPECT_EQ(options->limits.login_timeout, std::chrono::seconds(30));
  EXPECT_EQ(options->limits.idle_timeout, std::chrono::seconds(0));
  EXPECT_EQ(options->limits.max_message_bytes, 64u << 20);
  EXPECT_FALSE(options->encrypt);
  EXPECT_FALSE(options->logins);
}

TEST(ServeOptions, EveryOptionIsTakenAndListedInTheHelp) {
  std::string error;
  std::vector<std::string> args = {"-m",
                                   "other.so",
                                   "--drive-root",
                                   "/d",
                                   "--logins",
                                   "/l",
                                   "--listen",
                                   "[::1]:0",
                                   "--listen",
                                   "0.0.0.0:1444",
                                   "--encrypt",
                                   "required",
                                   "--tls-cert",
                                   "c.pem",
                                   "--tls-key",
                                   "k.pem",
                                   "--allow-path",
                                   "/a",
                                   "--allow-path",
                                   "/b",
                                   "--buffer-limit",
                                   "1G",
                                   "--max-connections",
                                   "3",
                                   "--login-timeout",
                                   "5",
                                   "--idle-timeout",
                                   "600",
                                   "--max-message",
                                   "64K",
                                   "--log",
                                   "/x.log",
                                   "--help"};
  auto options = Parse(args, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->module, "other.so");
  EXPECT_EQ(options->drive_root, "/d");
  EXPECT_EQ(options->logins, "/l");
  ASSERT_EQ(options->listen.size(), 2u);
  EXPECT_EQ(options->listen[0].Text(), "[::1]:0");
  EXPECT_TRUE(options->listen[0].ipv6);
  EXPECT_TRUE(options->listen[0].loopback);
  EXPECT_FALSE(options->listen[1].loopback);
  EXPECT_EQ(options->encrypt, EncryptMode::kRequired);
  EXPECT_EQ(options->tls_cert, "c.pem");
  EXPECT_EQ(options->tls_key, "k.pem");
  EXPECT_EQ(options->allow_paths, (std::vector<std::string>{"/a", "/b"}));
  EXPECT_EQ(options->buffer_limit, 1u << 30);
  EXPECT_EQ(options->max_connections, 3u);
  EXPECT_EQ(options->limits.login_timeout, std::chrono::seconds(5));
  EXPECT_EQ(options->limits.idle_timeout, std::chrono::seconds(600));
  EXPECT_EQ(options->limits.max_message_bytes, 64u << 10);
  EXPECT_EQ(options->log, "/x.log");
  EXPECT_TRUE(options->help);
  std::string usage = ServeUsage();
  for (const std::string& arg : args) {
    if (arg[0] == '-') {
      EXPECT_NE(usage.find(arg), std::string::npos) << arg;
    }
  }
}

TEST(ServeOptions, EncryptionDefaultsPerListener) {
  std::string error;
  auto options = Parse({"--listen", "127.0.0.2:0", "--listen", "[::1]:0", "--listen", "0.0.0.0:0",
                        "--listen", "[::]:0", "--listen", "192.0.2.1:0"},
                       error);
  ASSERT_TRUE(options) << error;
  std::vector<EncryptMode> modes;
  for (const auto& listener : options->listen)
    modes.push_back(ListenerEncryption(*options, listener));
  EXPECT_EQ(modes,
            (std::vector<EncryptMode>{EncryptMode::kOn, EncryptMode::kOn, EncryptMode::kRequired,
                                      EncryptMode::kRequired, EncryptMode::kRequired}));
  options = Parse({"--listen", "0.0.0.0:0", "--encrypt", "off"}, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(ListenerEncryption(*options, options->listen[0]), EncryptMode::kOff);
}

TEST(ServeOptions, BadValuesAreRefused) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--listen"}, "option --listen needs a value"},
      {{"--logins", ""}, "needs a value, not an empty text"},
      {{"--listen", "localhost:1433"}, "is no ADDR:PORT"},
      {{"--listen", "::1:1433"}, "is no ADDR:PORT"},
      {{"--listen", "127.0.0.1"}, "is no ADDR:PORT"},
      {{"--listen", "[::1]:65536"}, "is not a number from 0 to 65535"},
      {{"--listen", "127.0.0.1:-1"}, "is not a number from 0 to 65535"},
      {{"--encrypt", "yes"}, "needs off, on or required"},
      {{"--tls-cert", "c.pem"}, "--tls-cert and --tls-key go together"},
      {{"--max-connections", "0"}, "from 1 to 30000"},
      {{"--max-connections", "1K"}, "from 1 to 30000"},
      {{"--login-timeout", "0"}, "from 1 to 1000000"},
      {{"--idle-timeout", "-5"}, "a number of seconds"},
      {{"--max-message", "100"}, "from 4096"},
      {{"--buffer-limit", "12T"}, "a number of bytes"},
      {{"--buffer-limit", "99999999999999999999"}, "a number of bytes"},
  };
  for (const auto& [args, message] : cases) {
    std::string error;
    EXPECT_FALSE(Parse(args, error)) << args[0];
    EXPECT_NE(error.find(message), std::string::npos) << args[0] << ": " << error;
  }
}

TEST(ServeCommand, WithoutLoginsFileSaysHowToAddOne) {
  namespace fs = std::filesystem;
  fs::path base = fs::temp_directory_path() / ("dunmarrow-serve-" + std::to_string(getpid()));
  fs::remove_all(base);
  ::testing::internal::CaptureStderr();
  int status = ServeCommand({"--drive-root", (base / "drives").string()}, DUNMARROW_MODULE_PATH);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("there is no logins file at " + (base / "logins").string()), std::string::npos)
      << err;
  EXPECT_NE(err.find("dunmarrow login add NAME"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(base / "server.key"));  // nothing made before the logins are there
  fs::remove_all(base);
}

}  // namespace
}  // namespace dunmarrow::server
