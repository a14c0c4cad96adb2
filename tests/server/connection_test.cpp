// A Connection end to end over memory streams, for what real clients cannot be made to send:
// faults, lying lengths, timeouts, attentions, reset and IGNORE flags, a small packet size. A
// test client on this thread logs in; the connection runs on its own thread, without TLS. What
// the client drivers send is tested with the drivers themselves (tests/clients/).
#include "server/connection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "memory_stream.h"
#include "server/server_log.h"
#include "tds_client.h"

namespace dunmarrow::server {
namespace {

using testing::Bytes;
using testing::Contains;

class FakeAuthenticator : public Authenticator {
 public:
  std::optional<LoginIdentity> Authenticate(std::string_view name, std::string_view password,
                                            std::string_view peer_address) override {
    peer = peer_address;
    if (name != "alice" || password != "Passw0rd") return std::nullopt;
    return LoginIdentity{std::string(name), nullptr};
  }
  std::string peer;
};

Bytes Done(uint16_t status, uint64_t count = 0, uint8_t token = 0xFD, uint16_t command = 0) {
  Bytes out = {token, static_cast<uint8_t>(status), static_cast<uint8_t>(status >> 8),
               static_cast<uint8_t>(command), static_cast<uint8_t>(command >> 8)};
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(count >> (8 * i)));
  return out;
}

bool EndsWith(const Bytes& bytes, const Bytes& tail) {
  return bytes.size() >= tail.size() && std::equal(tail.rbegin(), tail.rend(), bytes.rbegin());
}

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_path_ = std::filesystem::temp_directory_path() /
                ("connection_test_" + std::to_string(::getpid()) + ".log");
    std::filesystem::remove(log_path_);
    ASSERT_TRUE(OpenServerLog(log_path_.string()));
    settings_.registry = &registry_;
    settings_.authenticator = &authenticator_;
    settings_.tls = nullptr;
    settings_.spid = 51;
    settings_.peer = "127.0.0.1:40000";
    settings_.peer_address = "127.0.0.1";
  }
  void TearDown() override {
    if (server_.joinable()) Stop();
    std::filesystem::remove(log_path_);
  }
  void Start() {
    connection_ = std::make_unique<Connection>(pair_.server, settings_);
    server_ = std::thread([this] { connection_->Run(); });
  }
  void Stop() {
    pair_.client.Close();
    server_.join();
  }
  // The connection ended on its own (Run returned) without sending anything more.
  void ExpectClosed() {
    server_.join();
    pair_.server.Close();
    EXPECT_EQ(client_.Read().type, 0);
  }
  std::vector<std::string> LogLines() {
    std::ifstream in(log_path_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  testing::Reply Batch(const std::u16string& text, uint8_t status = 0x01) {
    client_.Send(0x01, testing::TdsClient::Batch(text), status);
    return client_.Read();
  }

  std::filesystem::path log_path_;
  testing::StreamPair pair_;
  testing::TdsClient client_{pair_.client};
  tsql::ProcedureRegistry registry_;
  FakeAuthenticator authenticator_;
  ConnectionSettings settings_;
  std::unique_ptr<Connection> connection_;
  std::thread server_;
};

TEST_F(ConnectionTest, RefusalAnswersTheLogin) {
  settings_.refusal = "The server has too many connections.";
  Start();
  client_.LogIn();
  ExpectClosed();
}

TEST_F(ConnectionTest, FaultsEndTheConnectionWithOneLogLine) {
  // A batch before the login.
  Start();
  client_.Send(0x01, testing::TdsClient::Batch(u"SELECT 1"));
  ExpectClosed();
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_NE(LogLines()[0].find("127.0.0.1:40000"), std::string::npos);
}

TEST_F(ConnectionTest, Tds8ClientIsClosedAtOnce) {
  Start();
  Bytes client_hello = {0x16, 0x03, 0x01, 0x02, 0x00, 0x01, 0x00, 0x01, 0xFC, 0x03, 0x03};
  pair_.client.Write(client_hello.data(), client_hello.size());
  ExpectClosed();
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_NE(LogLines()[0].find("TDS 8.0"), std::string::npos);
}

TEST_F(ConnectionTest, FaultsAfterLogin) {
  // Each ends its connection in one log line: a packet shorter than its header, an unknown
  // packet type, an RPC parameter of an unknown type, a client gone inside a packet.
  const std::vector<Bytes> faults = {
      {0x01, 0x01, 0x00, 0x04, 0, 0, 1, 0},
      {0x05, 0x01, 0x00, 0x08, 0, 0, 1, 0},
      {0x03, 0x01, 0x00, 0x27, 0, 0, 1, 0, 0x16, 0, 0,    0,    0x12, 0,    0, 0, 2, 0, 0,   0,
       0,    0,    0,    0,    0, 0, 1, 0, 0,    0, 0x01, 0x00, 'p',  0x00, 0, 0, 0, 0, 0x99},
      {0x01, 0x01, 0x00, 0x40, 0, 0, 1, 0, 'S', 0}};
  for (size_t i = 0; i < faults.size(); ++i) {
    testing::StreamPair pair;
    testing::TdsClient client(pair.client);
    Connection connection(pair.server, settings_);
    std::thread server([&] { connection.Run(); });
    client.LogIn();
    pair.client.Write(faults[i].data(), faults[i].size());
    if (i + 1 == faults.size()) pair.client.Close();
    server.join();
    EXPECT_EQ(LogLines().size(), i + 1) << "fault " << i;
  }
  EXPECT_NE(LogLines().at(2).find("unknown data type 0x99"), std::string::npos);
}

TEST_F(ConnectionTest, IdleTimeout) {
  settings_.limits.idle_timeout = std::chrono::milliseconds(50);
  Start();
  client_.LogIn();
  ExpectClosed();
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_NE(LogLines()[0].find("idle timeout"), std::string::npos);
}

TEST_F(ConnectionTest, OversizedRequestIsAnsweredAndClosed) {
  settings_.limits.max_message_bytes = 6000;
  Start();
  client_.LogIn();
  client_.Send(0x01, testing::TdsClient::Batch(std::u16string(4000, u'x')));
  testing::Reply reply = client_.Read();
  EXPECT_TRUE(Contains(reply.payload, testing::Utf16(u"the request is larger than 6000 bytes")));
  ExpectClosed();
  EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(ConnectionTest, LoginTimeout) {
  settings_.limits.login_timeout = std::chrono::milliseconds(50);
  Start();
  ExpectClosed();
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_NE(LogLines()[0].find("login timeout"), std::string::npos);
}

TEST_F(ConnectionTest, AttentionStopsTheBatchAndIsAcknowledgedApart) {
  Start();
  client_.LogIn();
  // The batch and the attention arrive together: no statement runs.
  Bytes both = {0x01, 0x01, 0, 0, 0, 0, 1, 0};
  Bytes batch = testing::TdsClient::Batch(u"SELECT 1 AS a; SELECT 2 AS b");
  both[3] = static_cast<uint8_t>(batch.size() + 8);
  both.insert(both.end(), batch.begin(), batch.end());
  both.insert(both.end(), {0x06, 0x01, 0x00, 0x08, 0, 0, 1, 0});
  pair_.client.Write(both.data(), both.size());
  EXPECT_EQ(client_.Read().payload, Done(0));
  EXPECT_EQ(client_.Read().payload, Done(0x20));
  // An attention with nothing running is acknowledged too.
  client_.Send(0x06, {});
  EXPECT_EQ(client_.Read().payload, Done(0x20));
}

TEST_F(ConnectionTest, ResetConnectionAndIgnore) {
  Start();
  client_.LogIn();
  EXPECT_TRUE(EndsWith(Batch(u"SET NOCOUNT ON").payload, Done(0)));
  testing::Reply reset = Batch(u"SELECT 1 AS n", 0x09);
  EXPECT_EQ(Bytes(reset.payload.begin(), reset.payload.begin() + 6),
            (Bytes{0xE3, 0x03, 0x00, 0x12, 0x00, 0x00}));
  // NOCOUNT is off again: the count is back.
  EXPECT_TRUE(EndsWith(reset.payload, Done(0x10, 1, 0xFD, 0xC1)));
  // A request the client abandons halfway: one DONE with DONE_ERROR.
  Bytes half = {0x01, 0x00, 0x00, 0x0C, 0, 0, 1, 0, 'S', 0, 'E', 0};
  pair_.client.Write(half.data(), half.size());
  client_.Send(0x01, {'L', 0}, 0x03);
  EXPECT_EQ(client_.Read().payload, Done(0x02));
}

TEST_F(ConnectionTest, RepliesAreCutAtTheNegotiatedPacketSize) {
  Start();
  testing::Reply login = client_.LogIn(0x74000004, 512);
  EXPECT_TRUE(Contains(login.payload, testing::Utf16(u"512")));
  testing::Reply reply = Batch(u"SELECT REPLICATE('x', 3000) AS x");
  ASSERT_GT(reply.headers.size(), 5u);
  for (size_t i = 0; i < reply.headers.size(); ++i) {
    const Bytes& h = reply.headers[i];
    size_t length = static_cast<size_t>(h[2] << 8 | h[3]);
    bool last = i + 1 == reply.headers.size();
    EXPECT_EQ(h[1], last ? 0x01 : 0x00);
    EXPECT_EQ(h[6], static_cast<uint8_t>(i + 1));
    if (!last) {
      EXPECT_EQ(length, 512u);
    }
    EXPECT_LE(length, 512u);
  }
}

}  // namespace
}  // namespace dunmarrow::server
