// How a connection negotiates encryption and switches streams, with a stand-in for TLS (a
// one-step handshake, then every byte XORed): the whole connection encrypted, the login packet
// alone encrypted, and a client refused where encryption is required.
#include <gtest/gtest.h>

#include <thread>

#include "memory_stream.h"
#include "server/connection.h"
#include "tds_client.h"

namespace dunmarrow::server {
namespace {

using testing::Bytes;

// The stand-in's records: every byte XORed with 0x5A.
class XorStream : public ByteStream {
 public:
  explicit XorStream(ByteStream& raw) : raw_(raw) {}
  size_t Read(uint8_t* data, size_t size) override {
    size_t n = raw_.Read(data, size);
    for (size_t i = 0; i < n; ++i) data[i] ^= 0x5A;
    return n;
  }
  void Write(const uint8_t* data, size_t size) override {
    Bytes out(data, data + size);
    for (uint8_t& b : out) b ^= 0x5A;
    raw_.Write(out.data(), out.size());
  }
  bool ReadReady() override { return raw_.ReadReady(); }
  void SetReadTimeout(std::chrono::milliseconds timeout) override { raw_.SetReadTimeout(timeout); }

 private:
  ByteStream& raw_;
};

class FakeHandshake : public TlsHandshake {
 public:
  std::vector<uint8_t> Step(std::span<const uint8_t> client_bytes) override {
    if (Bytes(client_bytes.begin(), client_bytes.end()) != Bytes{'h', 'i'}) {
      throw StreamError("bad handshake");
    }
    complete_ = true;
    return {'o', 'k'};
  }
  bool Complete() const override { return complete_; }
  std::unique_ptr<ByteStream> Secure(ByteStream& raw) override {
    return std::make_unique<XorStream>(raw);
  }

 private:
  bool complete_ = false;
};

class FakeTls : public TlsContext {
 public:
  std::unique_ptr<TlsHandshake> Accept() override { return std::make_unique<FakeHandshake>(); }
};

class AnyLogin : public Authenticator {
 public:
  std::optional<LoginIdentity> Authenticate(std::string_view name, std::string_view,
                                            std::string_view) override {
    return LoginIdentity{std::string(name), nullptr};
  }
};

class ConnectionTlsTest : public ::testing::Test {
 protected:
  void Start(EncryptMode mode) {
    settings_.registry = &registry_;
    settings_.authenticator = &authenticator_;
    settings_.tls = &tls_;
    settings_.encrypt = mode;
    connection_ = std::make_unique<Connection>(pair_.server, settings_);
    server_ = std::thread([this] { connection_->Run(); });
  }
  void TearDown() override {
    pair_.client.Close();
    server_.join();
  }
  // PRELOGIN with the client's wish; the server's ENCRYPTION answer.
  uint8_t Prelogin(uint8_t encryption) {
    plain_.Send(0x12, testing::TdsClient::Prelogin(encryption));
    return plain_.Read().payload.at(32);
  }
  void Handshake() {
    plain_.Send(0x12, {'h', 'i'});
    testing::Reply answer = plain_.Read();
    EXPECT_EQ(answer.type, 0x12);
    EXPECT_EQ(answer.payload, (Bytes{'o', 'k'}));
  }

  testing::StreamPair pair_;
  XorStream secure_{pair_.client};
  testing::TdsClient plain_{pair_.client};
  testing::TdsClient encrypted_{secure_};
  tsql::ProcedureRegistry registry_;
  AnyLogin authenticator_;
  FakeTls tls_;
  ConnectionSettings settings_;
  std::unique_ptr<Connection> connection_;
  std::thread server_;
};

TEST_F(ConnectionTlsTest, WholeConnectionEncrypted) {
  Start(EncryptMode::kOn);
  EXPECT_EQ(Prelogin(0x01), 0x01);
  Handshake();
  encrypted_.Send(0x10, testing::TdsClient::Login7(0x74000004, u"bob", u"x"));
  EXPECT_TRUE(testing::Contains(encrypted_.Read().payload, {0xAD}));
  encrypted_.Send(0x01, testing::TdsClient::Batch(u"SELECT 5 AS v"));
  EXPECT_TRUE(testing::Contains(encrypted_.Read().payload, {0xD1, 0x04, 5, 0, 0, 0}));
  EXPECT_EQ(connection_->Login(), "bob");
}

TEST_F(ConnectionTlsTest, LoginPacketAloneEncrypted) {
  Start(EncryptMode::kOn);
  EXPECT_EQ(Prelogin(0x00), 0x00);
  Handshake();
  encrypted_.Send(0x10, testing::TdsClient::Login7(0x74000004, u"bob", u"x"));
  // The reply and everything after: plain text.
  EXPECT_TRUE(testing::Contains(plain_.Read().payload, {0xAD}));
  plain_.Send(0x01, testing::TdsClient::Batch(u"SELECT 5 AS v"));
  EXPECT_TRUE(testing::Contains(plain_.Read().payload, {0xD1, 0x04, 5, 0, 0, 0}));
}

TEST_F(ConnectionTlsTest, RequiredRefusesAClientThatWillNotEncrypt) {
  Start(EncryptMode::kRequired);
  EXPECT_EQ(Prelogin(0x02), 0x03);
  server_.join();
  pair_.server.Close();
  EXPECT_EQ(plain_.Read().type, 0);
  server_ = std::thread([] {});
}

}  // namespace
}  // namespace dunmarrow::server
