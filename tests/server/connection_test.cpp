// A Connection end to end over memory streams: a test client on this thread logs in and sends
// batches, RPC calls, transaction-manager requests and attentions; the connection runs on its
// own thread, without TLS.
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

// An RPC message: calls by procedure id with their parameters, after ALL_HEADERS.
class RpcBuilder {
 public:
  RpcBuilder() {
    out_.Append(Bytes{0x16, 0, 0, 0, 0x12, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0});
  }
  RpcBuilder& Call(uint16_t proc_id) {
    if (calls_++) out_.U8(0xFF);
    out_.U16(0xFFFF);
    out_.U16(proc_id);
    out_.U16(0);
    return *this;
  }
  // An unnamed NTEXT, as FreeTDS sends statements and declarations.
  RpcBuilder& NText(const std::u16string& text) {
    out_.Append(Bytes{0, 0, 0x63, 0xFF, 0xFF, 0xFF, 0x7F, 0x09, 0x04, 0xD0, 0x00, 0x34});
    out_.U32(static_cast<uint32_t>(text.size() * 2));
    out_.Utf16(text);
    return *this;
  }
  RpcBuilder& Int(std::optional<int32_t> value, bool output = false,
                  const std::u16string& name = u"") {
    out_.BVarChar(name);
    out_.Append(Bytes{static_cast<uint8_t>(output ? 1 : 0), 0x26, 0x04});
    if (value) {
      out_.U8(4);
      out_.U32(static_cast<uint32_t>(*value));
    } else {
      out_.U8(0);
    }
    return *this;
  }
  Bytes Message() { return out_.Bytes(); }

 private:
  tds::Writer out_;
  int calls_ = 0;
};

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

TEST_F(ConnectionTest, LogsInAndRunsBatches) {
  Start();
  client_.Send(0x12, testing::TdsClient::Prelogin(0x00));
  testing::Reply prelogin = client_.Read();
  ASSERT_EQ(prelogin.type, 0x04);
  EXPECT_EQ(prelogin.payload[32], 0x02);  // ENCRYPTION: not supported without TLS
  client_.Send(0x10, testing::TdsClient::Login7(0x74000004, u"alice", u"Passw0rd"));
  testing::Reply login = client_.Read();
  EXPECT_EQ(login.headers[0][4], 0);
  EXPECT_EQ(login.headers[0][5], 51);  // the session id
  EXPECT_TRUE(Contains(login.payload, {0xAD, 0x32, 0x00, 0x01, 0x74, 0x00, 0x00, 0x04}));
  EXPECT_TRUE(EndsWith(login.payload, Done(0)));
  EXPECT_EQ(authenticator_.peer, "127.0.0.1");

  testing::Reply rows = Batch(u"SELECT 1 AS n, N'abc' AS s; SELECT NULL AS a, 2 AS b");
  EXPECT_TRUE(Contains(rows.payload,
                       {0xD1, 0x04, 0x01, 0x00, 0x00, 0x00, 0x06, 0x00, 'a', 0, 'b', 0, 'c', 0}));
  // The first statement's DONE says more follow; a row with a NULL goes as NBCROW.
  EXPECT_TRUE(Contains(rows.payload, Done(0x11, 1, 0xFD, 0xC1)));
  EXPECT_TRUE(Contains(rows.payload, {0xD2, 0x01, 0x04, 0x02, 0x00, 0x00, 0x00}));
  EXPECT_TRUE(EndsWith(rows.payload, Done(0x10, 1, 0xFD, 0xC1)));
  EXPECT_EQ(connection_->Calls(), 1u);
  EXPECT_EQ(connection_->Login(), "alice");
  Stop();
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(ConnectionTest, WrongPasswordIsRefusedAndClosed) {
  Start();
  client_.Send(0x12, testing::TdsClient::Prelogin(0x02));
  client_.Read();
  client_.Send(0x10, testing::TdsClient::Login7(0x74000004, u"alice", u"wrong"));
  testing::Reply reply = client_.Read();
  EXPECT_TRUE(Contains(reply.payload, {0xAA}));
  EXPECT_TRUE(Contains(reply.payload, {0x18, 0x48, 0x00, 0x00, 0x01, 0x0E}));  // 18456, 1, 14
  EXPECT_TRUE(Contains(reply.payload, testing::Utf16(u"Login failed for user 'alice'.")));
  EXPECT_TRUE(EndsWith(reply.payload, Done(0x02)));
  ExpectClosed();
  EXPECT_EQ(connection_->Login(), "");
}

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

TEST_F(ConnectionTest, ExecuteSqlWithOutputParameter) {
  Start();
  client_.LogIn();
  client_.Send(0x03, RpcBuilder()
                         .Call(10)
                         .NText(u"EXEC sp_executesql N'SELECT 1 AS x'; SET @o = @a + 1")
                         .NText(u"@a int, @o int OUTPUT")
                         .Int(41)
                         .Int(std::nullopt, true)
                         .Message());
  testing::Reply reply = client_.Read();
  EXPECT_TRUE(Contains(reply.payload, {0x79, 0, 0, 0, 0}));
  // @o, the fourth parameter, named as declared.
  EXPECT_TRUE(Contains(reply.payload, {0xAC, 0x04, 0x00, 0x02, '@',  0,    'o',  0,  0x01, 0, 0,
                                       0,    0,    0,    0,    0x26, 0x04, 0x04, 42, 0,    0, 0}));
  // The procedure it runs in turn ends in DONEINPROC; the call itself in DONEPROC.
  EXPECT_TRUE(Contains(reply.payload, Done(0x11, 1, 0xFF, 0xC1)));
  EXPECT_TRUE(Contains(reply.payload, Done(0x01, 0, 0xFF, 0xE0)));
  EXPECT_TRUE(EndsWith(reply.payload, Done(0, 0, 0xFE, 0xE0)));
}

TEST_F(ConnectionTest, PreparedStatements) {
  Start();
  client_.LogIn();
  client_.Send(0x03, RpcBuilder()
                         .Call(13)
                         .Int(std::nullopt, true)
                         .NText(u"@P1 int")
                         .NText(u"SELECT @P1 AS v")
                         .Int(7)
                         .Message());
  testing::Reply prepexec = client_.Read();
  EXPECT_TRUE(Contains(prepexec.payload, {0xD1, 0x04, 7, 0, 0, 0}));
  EXPECT_TRUE(
      Contains(prepexec.payload, {0x79, 0,   0, 0,   0, 0xAC, 0x01, 0x00, 0x07, '@', 0, 'h',
                                  0,    'a', 0, 'n', 0, 'd',  0,    'l',  0,    'e', 0, 0x01}));
  EXPECT_TRUE(EndsWith(prepexec.payload, {0x26, 0x04, 0x04, 1, 0, 0, 0, 0xFE, 0, 0,
                                          0xE0, 0,    0,    0, 0, 0, 0, 0,    0, 0}));
  // Two calls in one message: the first DONEPROC says more follow.
  client_.Send(0x03, RpcBuilder().Call(12).Int(1).Int(8).Call(15).Int(1).Message());
  testing::Reply two = client_.Read();
  EXPECT_TRUE(Contains(two.payload, {0xD1, 0x04, 8, 0, 0, 0}));
  EXPECT_TRUE(Contains(two.payload, Done(0x01, 0, 0xFE, 0xE0)));
  EXPECT_TRUE(EndsWith(two.payload, Done(0, 0, 0xFE, 0xE0)));
  client_.Send(0x03, RpcBuilder().Call(12).Int(1).Int(9).Message());
  testing::Reply gone = client_.Read();
  EXPECT_TRUE(
      Contains(gone.payload, testing::Utf16(u"Could not find prepared statement with handle 1.")));
  EXPECT_TRUE(EndsWith(gone.payload, Done(0x02, 0, 0xFE, 0xE0)));
  EXPECT_EQ(connection_->Calls(), 4u);
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

TEST_F(ConnectionTest, TransactionManagerRequests) {
  Start();
  client_.LogIn();
  Bytes headers = {0x16, 0, 0, 0, 0x12, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
  auto tm = [&](Bytes request) {
    Bytes message = headers;
    message.insert(message.end(), request.begin(), request.end());
    client_.Send(0x0E, message);
    return client_.Read();
  };
  testing::Reply begin = tm({5, 0, 0, 0});
  EXPECT_TRUE(Contains(begin.payload, {0xE3, 0x0B, 0x00, 0x08, 0x08, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(Contains(Batch(u"SELECT @@TRANCOUNT AS t").payload, {0xD1, 0x04, 1, 0, 0, 0}));
  testing::Reply commit = tm({7, 0, 0, 0});
  EXPECT_TRUE(
      Contains(commit.payload, {0xE3, 0x0B, 0x00, 0x09, 0x00, 0x08, 1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(Contains(tm({7, 0, 0, 0}).payload, {0xAA}));  // nothing to commit
  EXPECT_TRUE(EndsWith(tm({6, 0}).payload, Done(0x02)));    // PROMOTE: refused
  EXPECT_EQ(connection_->Calls(), 1u);
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

TEST_F(ConnectionTest, Tds71) {
  Start();
  testing::Reply login = client_.LogIn(0x71000001);
  EXPECT_TRUE(Contains(login.payload, {0xAD, 0x32, 0x00, 0x01, 0x71, 0x00, 0x00, 0x01}));
  client_.Send(0x01, testing::TdsClient::Batch(u"SELECT CAST(N'ab' AS nvarchar(max)) AS m", false));
  testing::Reply reply = client_.Read();
  // ntext instead of nvarchar(max), a 2-byte UserType, 4-byte counts.
  EXPECT_TRUE(Contains(reply.payload, {0x81, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x63}));
  EXPECT_TRUE(EndsWith(reply.payload, {0xFD, 0x10, 0x00, 0xC1, 0x00, 0x01, 0x00, 0x00, 0x00}));
}

}  // namespace
}  // namespace dunmarrow::server
