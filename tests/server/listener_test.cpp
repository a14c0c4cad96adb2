// The listener on loopback with a port the system picks: connections served on threads of
// their own over the socket stream, spids, the connection limit, and a stop that lets the
// connection being served finish.
#include "server/listener.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "server/socket_stream.h"

namespace dunmarrow::server {
namespace {

// A client socket connected to the listener, or -1.
int Connect(const ListenAddress& address) {
  sockaddr_storage storage;
  socklen_t length = ToSocketAddress(address, storage);
  int fd = socket(storage.ss_family, SOCK_STREAM, 0);
  if (connect(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string Receive(int fd) {
  char buffer[256];
  ssize_t got = recv(fd, buffer, sizeof buffer, 0);
  return got > 0 ? std::string(buffer, size_t(got)) : "";
}

std::unique_ptr<Listener> Open(const std::string& text) {
  std::string error;
  auto address = ParseListenAddress(text, error);
  EXPECT_TRUE(address) << error;
  auto listener = Listener::Open(*address, error);
  EXPECT_TRUE(listener) << error;
  return listener;
}

// Each connection is told its spid and whether it is refused, then echoes what it reads
// until the client or the server ends it.
void Echo(ByteStream& stream, const Accepted& connection) {
  std::string hello = std::to_string(connection.spid) + (connection.over_limit ? " refused" : "");
  stream.Write(reinterpret_cast<const uint8_t*>(hello.data()), hello.size());
  uint8_t buffer[256];
  while (size_t got = stream.Read(buffer, sizeof buffer)) stream.Write(buffer, got);
}

TEST(Listener, PortZeroGetsAPortOfItsOwn) {
  auto listener = Open("127.0.0.1:0");
  ASSERT_TRUE(listener);
  EXPECT_NE(listener->address().port, 0);
  EXPECT_EQ(listener->address().Text(), "127.0.0.1:" + std::to_string(listener->address().port));
  std::string error;
  EXPECT_FALSE(Listener::Open(listener->address(), error));  // taken
  EXPECT_NE(error.find("cannot listen on " + listener->address().Text()), std::string::npos);
}

TEST(Listener, ServesConnectionsUpToTheLimitThenRefusesAndStops) {
  std::vector<std::unique_ptr<Listener>> listeners;
  listeners.push_back(Open("127.0.0.1:0"));
  ASSERT_TRUE(listeners[0]);
  ListenAddress address = listeners[0]->address();
  ConnectionServer server(std::move(listeners), 2, Echo);
  std::thread running([&] { server.Run(); });

  int first = Connect(address);
  ASSERT_GE(first, 0);
  EXPECT_EQ(Receive(first), "51");
  int second = Connect(address);
  EXPECT_EQ(Receive(second), "52");
  int third = Connect(address);
  EXPECT_EQ(Receive(third), "53 refused");
  EXPECT_EQ(server.Live(), 3u);

  // A spid is free again once its connection is over.
  close(first);
  close(third);
  while (server.Live() > 1) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  int fourth = Connect(address);
  EXPECT_EQ(Receive(fourth), "51");

  // The stop ends the connections' reading; what they write still reaches the client.
  send(second, "ping", 4, 0);
  EXPECT_EQ(Receive(second), "ping");
  server.Stop();
  running.join();
  EXPECT_EQ(server.Live(), 0u);
  EXPECT_EQ(Receive(second), "");  // closed by the server
  EXPECT_LT(Connect(address), 0);  // no longer listening
  close(second);
  close(fourth);
}

TEST(Listener, Ipv6Loopback) {
  std::string error;
  auto listener = Listener::Open(*ParseListenAddress("[::1]:0", error), error);
  if (!listener) GTEST_SKIP() << error;
  ListenAddress address = listener->address();
  EXPECT_EQ(address.Text(), "[::1]:" + std::to_string(address.port));
  std::vector<std::unique_ptr<Listener>> listeners;
  listeners.push_back(std::move(listener));
  std::promise<Accepted> seen;
  ConnectionServer server(std::move(listeners), 4,
                          [&](ByteStream&, const Accepted& accepted) { seen.set_value(accepted); });
  std::thread running([&] { server.Run(); });
  int fd = Connect(address);
  Accepted accepted = seen.get_future().get();
  EXPECT_EQ(accepted.peer_address, "::1");
  EXPECT_EQ(accepted.peer.rfind("[::1]:", 0), 0u) << accepted.peer;
  server.Stop();
  running.join();
  close(fd);
}

TEST(SocketStream, ReadTimesOutAndReadyShowsArrivals) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  SocketStream stream(pair[0]);
  stream.SetReadTimeout(std::chrono::milliseconds(50));
  EXPECT_FALSE(stream.ReadReady());
  uint8_t byte;
  EXPECT_THROW(stream.Read(&byte, 1), StreamTimeout);
  send(pair[1], "x", 1, 0);
  EXPECT_TRUE(stream.ReadReady());
  EXPECT_EQ(stream.Read(&byte, 1), 1u);
  close(pair[1]);
  EXPECT_TRUE(stream.ReadReady());  // the end of the stream is ready too
  EXPECT_EQ(stream.Read(&byte, 1), 0u);
  EXPECT_THROW(stream.Write(&byte, 1), StreamError);  // no SIGPIPE: an error
}

TEST(SocketStream, BytesReceivedAheadAreReadyAndReadInOrder) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  SocketStream stream(pair[0]);
  stream.SetReadTimeout(std::chrono::milliseconds(50));
  send(pair[1], "headbodynext", 12, 0);
  uint8_t head[4];
  ASSERT_EQ(stream.Read(head, sizeof head), 4u);
  EXPECT_EQ(std::string(head, head + 4), "head");
  // The rest came in the same receive: the socket is drained, the stream still has it.
  EXPECT_TRUE(stream.ReadReady());
  uint8_t rest[16];
  ASSERT_EQ(stream.Read(rest, sizeof rest), 8u);
  EXPECT_EQ(std::string(rest, rest + 8), "bodynext");
  EXPECT_FALSE(stream.ReadReady());
  // A read as large as the buffer takes what comes without it.
  std::vector<uint8_t> large(64 * 1024);
  send(pair[1], "tail", 4, 0);
  ASSERT_EQ(stream.Read(large.data(), large.size()), 4u);
  EXPECT_EQ(std::string(large.begin(), large.begin() + 4), "tail");
  close(pair[1]);
}

}  // namespace
}  // namespace dunmarrow::server
