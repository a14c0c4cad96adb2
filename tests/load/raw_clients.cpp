// The raw-socket clients: each builds its messages with the test TDS client over a socket
// stream and misbehaves in its own way.
#include "raw_clients.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <stdexcept>
#include <thread>

#include "server/socket_stream.h"
#include "tests/server/tds_client.h"

namespace dunmarrow::load {

using server::SocketStream;
using server::testing::Bytes;
using server::testing::Contains;
using server::testing::TdsClient;

namespace {

constexpr uint32_t kTds74 = 0x74000004;
constexpr uint8_t kEncryptOn = 0x01;
constexpr uint8_t kEncryptNotSupported = 0x02;

std::u16string Wide(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

// A connected socket from `source` to the server; its local port in `local_port`.
int Connect(int port, const std::string& source, int& local_port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in from{};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, source.c_str(), &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    throw std::runtime_error("cannot connect to the server");
  }
  socklen_t length = sizeof from;
  getsockname(fd, reinterpret_cast<sockaddr*>(&from), &length);
  local_port = ntohs(from.sin_port);
  return fd;
}

// Makes the next close send a reset, as a killed process's socket does.
void ResetOnClose(int fd) {
  linger now{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
}

// PRELOGIN without encryption and LOGIN7; throws unless the login is acknowledged.
void LogIn(TdsClient& client, const RawTarget& target) {
  client.Send(0x12, TdsClient::Prelogin(kEncryptNotSupported));
  if (client.Read().type != 0x04) throw std::runtime_error("no PRELOGIN answer");
  client.Send(0x10, TdsClient::Login7(kTds74, Wide(target.user), Wide(target.password)));
  if (!Contains(client.Read().payload, {0xAD})) throw std::runtime_error("no LOGINACK");
}

// Reads until the server closes or `wait` passes.
void DrainUntilClosed(SocketStream& stream, std::chrono::milliseconds wait) {
  stream.SetReadTimeout(wait);
  uint8_t buffer[65536];
  try {
    while (stream.Read(buffer, sizeof buffer) > 0) {
    }
  } catch (const std::exception&) {
  }
}

// The first flight of a TLS client (its ClientHello), as OpenSSL writes it.
Bytes ClientHello() {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  SSL* ssl = SSL_new(context);
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  SSL_set_bio(ssl, in, out);
  SSL_set_connect_state(ssl);
  SSL_do_handshake(ssl);
  Bytes hello(static_cast<size_t>(BIO_ctrl_pending(out)));
  BIO_read(out, hello.data(), static_cast<int>(hello.size()));
  SSL_free(ssl);
  SSL_CTX_free(context);
  return hello;
}

std::u16string BigResults(int sets, int bytes) {
  std::u16string one =
      u"SELECT REPLICATE(CAST('x' AS varchar(max)), " + Wide(std::to_string(bytes)) + u")\n";
  std::u16string all;
  for (int i = 0; i < sets; ++i) all += one;
  return all;
}

using Misbehaviour = void (*)(int fd, SocketStream& stream, TdsClient& client,
                              const RawTarget& target);

void MidMessage(int fd, SocketStream&, TdsClient& client, const RawTarget& target) {
  LogIn(client, target);
  Bytes batch = TdsClient::Batch(u"SELECT 1");
  client.Send(0x01, batch, 0x00);  // no end of message: the rest never comes
  ResetOnClose(fd);
}

void MidTlsHandshake(int fd, SocketStream&, TdsClient& client, const RawTarget&) {
  client.Send(0x12, TdsClient::Prelogin(kEncryptOn));
  if (client.Read().type != 0x04) throw std::runtime_error("no PRELOGIN answer");
  client.Send(0x12, ClientHello());
  if (client.Read().type == 0) throw std::runtime_error("no server flight");
  ResetOnClose(fd);
}

void MidResult(int fd, SocketStream& stream, TdsClient& client, const RawTarget& target) {
  LogIn(client, target);
  client.Send(0x01, TdsClient::Batch(BigResults(1, 2000000)));
  uint8_t some[1000];
  if (stream.Read(some, sizeof some) == 0) throw std::runtime_error("no result");
  ResetOnClose(fd);
}

void Trickle(int, SocketStream& stream, TdsClient&, const RawTarget&) {
  Bytes prelogin = TdsClient::Prelogin(kEncryptNotSupported);
  Bytes packet = {0x12, 0x01, 0, static_cast<uint8_t>(prelogin.size() + 8), 0, 0, 1, 0};
  packet.insert(packet.end(), prelogin.begin(), prelogin.end());
  for (uint8_t byte : packet) {
    stream.Write(&byte, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  TdsClient reader(stream);
  if (reader.Read().type != 0x04) throw std::runtime_error("no answer to the slow PRELOGIN");
}

void NeverReads(int fd, SocketStream&, TdsClient& client, const RawTarget& target) {
  LogIn(client, target);
  client.Send(0x01, TdsClient::Batch(BigResults(10, 1000000)));
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ResetOnClose(fd);
}

void LyingPacketLength(int, SocketStream& stream, TdsClient&, const RawTarget&) {
  Bytes packet = {0x12, 0x01, 0x00, 0x04, 0, 0, 1, 0, 0xFF};  // shorter than its own header
  stream.Write(packet.data(), packet.size());
  DrainUntilClosed(stream, std::chrono::seconds(10));
}

void LyingPreloginOffset(int, SocketStream&, TdsClient& client, const RawTarget&) {
  Bytes prelogin = TdsClient::Prelogin(kEncryptNotSupported);
  prelogin[1] = 0x7F;  // VERSION's offset far past the payload
  client.Send(0x12, prelogin);
  client.Read();
}

void LyingLoginLengths(int fd, SocketStream& stream, TdsClient& client, const RawTarget& target) {
  client.Send(0x12, TdsClient::Prelogin(kEncryptNotSupported));
  client.Read();
  Bytes login = TdsClient::Login7(kTds74, Wide(target.user), Wide(target.password));
  login[42] = 0xFF;  // cchUserName: more characters than the message holds
  login[43] = 0x7F;
  client.Send(0x10, login);
  DrainUntilClosed(stream, std::chrono::seconds(10));
  ResetOnClose(fd);
}

void RandomAfterLogin(int fd, SocketStream& stream, TdsClient& client, const RawTarget& target) {
  LogIn(client, target);
  std::mt19937 random(static_cast<unsigned>(fd) * 7919u + static_cast<unsigned>(target.port));
  Bytes noise(4096);
  for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
  stream.Write(noise.data(), noise.size());
  DrainUntilClosed(stream, std::chrono::seconds(5));
  ResetOnClose(fd);
}

}  // namespace

std::vector<HostileRun> RunHostileRound(const RawTarget& target, bool slow) {
  struct Kind {
    const char* name;
    Misbehaviour run;
    bool slow;
  };
  static const Kind kinds[] = {
      {"killed mid-message", MidMessage, false},
      {"killed mid-TLS handshake", MidTlsHandshake, false},
      {"killed mid-result", MidResult, false},
      {"one byte every 100 ms", Trickle, true},
      {"never reads its results", NeverReads, true},
      {"packet length shorter than its header", LyingPacketLength, false},
      {"PRELOGIN offset past its end", LyingPreloginOffset, false},
      {"LOGIN7 lengths past its end", LyingLoginLengths, false},
      {"random bytes after the login", RandomAfterLogin, false},
  };
  std::vector<HostileRun> runs;
  for (const Kind& kind : kinds) {
    if (kind.slow && !slow) continue;
    HostileRun run{kind.name, 0, ""};
    try {
      int fd = Connect(target.port, kHostileSource, run.local_port);
      SocketStream stream(fd, std::chrono::seconds(30));
      stream.SetReadTimeout(std::chrono::seconds(30));
      TdsClient client(stream);
      kind.run(fd, stream, client, target);
    } catch (const std::exception& e) {
      run.failure = e.what();
    }
    runs.push_back(run);
  }
  return runs;
}

bool FailedLogin(const RawTarget& target, const std::string& source,
                 std::chrono::milliseconds& took) {
  int local_port = 0;
  int fd = Connect(target.port, source, local_port);
  SocketStream stream(fd, std::chrono::seconds(30));
  stream.SetReadTimeout(std::chrono::seconds(60));
  TdsClient client(stream);
  client.Send(0x12, TdsClient::Prelogin(kEncryptNotSupported));
  if (client.Read().type != 0x04) return false;
  auto start = std::chrono::steady_clock::now();
  client.Send(0x10, TdsClient::Login7(kTds74, Wide(target.user), u"not the password"));
  Bytes answer = client.Read().payload;
  // ERROR 18456 (0x4818, little-endian after the token and its length)
  bool refused = !answer.empty() && answer[0] == 0xAA && Contains(answer, {0x18, 0x48, 0, 0});
  took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start);
  return refused;
}

}  // namespace dunmarrow::load
