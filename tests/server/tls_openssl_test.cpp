// The server's TLS against an OpenSSL client in memory: the self-signed certificate, the
// handshake through buffers as TDS carries it, then records over a stream both ways, and a
// stream dropped after one record as login-only encryption drops it.
#include "server/tls_openssl.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "server/self_signed.h"

namespace dunmarrow::server {
namespace {

namespace fs = std::filesystem;

// A connection's raw bytes in memory: what the client sent, and what the server wrote.
class BufferStream : public ByteStream {
 public:
  size_t Read(uint8_t* data, size_t size) override {
    size_t n = std::min(size, in.size());
    std::copy_n(in.begin(), n, data);
    in.erase(in.begin(), in.begin() + static_cast<long>(n));
    return n;
  }
  void Write(const uint8_t* data, size_t size) override {
    out.insert(out.end(), data, data + size);
  }
  bool ReadReady() override { return !in.empty(); }
  void SetReadTimeout(std::chrono::milliseconds) override {}

  std::deque<uint8_t> in;
  std::vector<uint8_t> out;
};

std::vector<uint8_t> Drain(BIO* bio) {
  std::vector<uint8_t> bytes(static_cast<size_t>(BIO_ctrl_pending(bio)));
  if (!bytes.empty()) BIO_read(bio, bytes.data(), static_cast<int>(bytes.size()));
  return bytes;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A TLS client over memory BIOs, accepting any certificate as the drivers' "trust the
// server certificate" settings do.
class Client {
 public:
  explicit Client(int max_version = 0) {
    context_ = SSL_CTX_new(TLS_client_method());
    if (max_version) SSL_CTX_set_max_proto_version(context_, max_version);
    ssl_ = SSL_new(context_);
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl_, in_, out_);
    SSL_set_connect_state(ssl_);
  }
  ~Client() {
    SSL_free(ssl_);
    SSL_CTX_free(context_);
  }

  // Takes the server's flight, returns the client's next one.
  std::vector<uint8_t> Step(const std::vector<uint8_t>& server_bytes) {
    if (!server_bytes.empty()) BIO_write(in_, server_bytes.data(), int(server_bytes.size()));
    done_ = SSL_do_handshake(ssl_) == 1;
    return Drain(out_);
  }
  bool Done() const { return done_; }
  int Version() const { return SSL_version(ssl_); }

  std::vector<uint8_t> Seal(const std::string& text) {
    EXPECT_EQ(SSL_write(ssl_, text.data(), int(text.size())), int(text.size()));
    return Drain(out_);
  }
  std::string Open(const std::vector<uint8_t>& records) {
    BIO_write(in_, records.data(), int(records.size()));
    std::string text;
    char buffer[4096];
    int got;
    while ((got = SSL_read(ssl_, buffer, sizeof buffer)) > 0) text.append(buffer, size_t(got));
    return text;
  }
  X509* PeerCertificate() const { return SSL_get0_peer_certificate(ssl_); }

 private:
  SSL_CTX* context_;
  SSL* ssl_;
  BIO* in_;
  BIO* out_;
  bool done_ = false;
};

class TlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() /
                 ("dunmarrow-tls-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  void TearDown() override { fs::remove_all(directory_); }

  std::unique_ptr<TlsContext> Context() {
    CertificateFiles files;
    std::string error;
    EXPECT_TRUE(EnsureSelfSignedCertificate(directory_.string(), files, error)) << error;
    auto context = OpenTlsContext(files.certificate, files.key, error);
    EXPECT_TRUE(context) << error;
    return context;
  }

  // Runs the handshake as a connection does: each client flight in, the answer out as one
  // message. Returns the number of server flights.
  int Handshake(TlsHandshake& server, Client& client) {
    std::vector<uint8_t> to_server = client.Step({});
    int flights = 0;
    while (!server.Complete()) {
      std::vector<uint8_t> answer = server.Step(to_server);
      if (!answer.empty()) ++flights;
      to_server = client.Step(answer);
    }
    return flights;
  }

  fs::path directory_;
};

TEST_F(TlsTest, SelfSignedCertificateIsMadeOnceWithAPrivateKey) {
  CertificateFiles files;
  std::string error;
  ASSERT_TRUE(EnsureSelfSignedCertificate(directory_.string(), files, error)) << error;
  EXPECT_EQ(files.certificate, (directory_ / "server.crt").string());
  EXPECT_EQ(files.key, (directory_ / "server.key").string());
  struct stat key_status {};
  ASSERT_EQ(stat(files.key.c_str(), &key_status), 0);
  EXPECT_EQ(key_status.st_mode & 0777, 0600u);
  std::string certificate = ReadFile(files.certificate);
  std::string key = ReadFile(files.key);
  EXPECT_EQ(certificate.rfind("-----BEGIN CERTIFICATE-----", 0), 0u);

  // A second start keeps both.
  ASSERT_TRUE(EnsureSelfSignedCertificate(directory_.string(), files, error)) << error;
  EXPECT_EQ(ReadFile(files.certificate), certificate);
  EXPECT_EQ(ReadFile(files.key), key);

  // A key without its certificate is left alone and refused.
  fs::remove(files.certificate);
  EXPECT_FALSE(EnsureSelfSignedCertificate(directory_.string(), files, error));
  EXPECT_NE(error.find("server.key exists without"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(files.key), key);
}

TEST_F(TlsTest, MismatchedKeyIsRefused) {
  CertificateFiles files;
  std::string error;
  ASSERT_TRUE(EnsureSelfSignedCertificate(directory_.string(), files, error)) << error;
  fs::path other = directory_ / "other";
  fs::create_directories(other);
  CertificateFiles other_files;
  ASSERT_TRUE(EnsureSelfSignedCertificate(other.string(), other_files, error)) << error;
  EXPECT_FALSE(OpenTlsContext(files.certificate, other_files.key, error));
  EXPECT_NE(error.find("does not belong"), std::string::npos) << error;
  EXPECT_FALSE(OpenTlsContext((directory_ / "missing.crt").string(), files.key, error));
}

TEST_F(TlsTest, HandshakeThroughBuffersThenRecordsBothWays) {
  auto context = Context();
  ASSERT_TRUE(context);
  auto server = context->Accept();
  Client client;                             // offers TLS 1.3 too; the server holds it to 1.2
  EXPECT_EQ(Handshake(*server, client), 2);  // ServerHello..Done, then CCS and Finished
  EXPECT_TRUE(client.Done());
  EXPECT_EQ(client.Version(), TLS1_2_VERSION);
  char common_name[256] = {};
  X509_NAME_get_text_by_NID(X509_get_subject_name(client.PeerCertificate()), NID_commonName,
                            common_name, sizeof common_name);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_STREQ(common_name, host);

  BufferStream raw;
  auto secure = server->Secure(raw);
  EXPECT_FALSE(secure->ReadReady());
  std::vector<uint8_t> sealed = client.Seal("LOGIN7 packet");
  raw.in.insert(raw.in.end(), sealed.begin(), sealed.end());
  EXPECT_TRUE(secure->ReadReady());
  uint8_t buffer[64];
  size_t got = secure->Read(buffer, sizeof buffer);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "LOGIN7 packet");

  std::string reply(40000, 'r');  // more than one record
  secure->Write(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
  EXPECT_EQ(std::search(raw.out.begin(), raw.out.end(), reply.begin(), reply.begin() + 16),
            raw.out.end());  // nothing in clear text
  EXPECT_EQ(client.Open(raw.out), reply);

  EXPECT_EQ(secure->Read(buffer, sizeof buffer), 0u);  // the raw stream ended
}

TEST_F(TlsTest, LoginOnlyEncryptionLeavesThePlainBytesAfterTheRecord) {
  auto context = Context();
  ASSERT_TRUE(context);
  auto server = context->Accept();
  Client client;
  Handshake(*server, client);
  BufferStream raw;
  std::vector<uint8_t> sealed = client.Seal("login");
  raw.in.insert(raw.in.end(), sealed.begin(), sealed.end());
  std::string plain = "\x01\x01 a plaintext batch";
  raw.in.insert(raw.in.end(), plain.begin(), plain.end());
  {
    auto secure = server->Secure(raw);
    uint8_t buffer[64];
    size_t got = secure->Read(buffer, sizeof buffer);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "login");
  }  // dropped without a close_notify
  EXPECT_TRUE(raw.out.empty());
  EXPECT_EQ(std::string(raw.in.begin(), raw.in.end()), plain);
}

TEST_F(TlsTest, ClientsThatCannotSpeakTls12OrSendGarbageFail) {
  auto context = Context();
  ASSERT_TRUE(context);
  auto server = context->Accept();
  Client old_client(TLS1_1_VERSION);
  EXPECT_THROW(server->Step(old_client.Step({})), StreamError);

  auto second = context->Accept();
  std::vector<uint8_t> garbage(64, 0x42);
  EXPECT_THROW(second->Step(garbage), StreamError);

  BufferStream raw;
  EXPECT_THROW(context->Accept()->Secure(raw), StreamError);  // before any handshake
}

}  // namespace
}  // namespace dunmarrow::server
