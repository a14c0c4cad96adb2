// The plain TCP exchange the TDS benchmarks are measured against.
#include "bench/wire_loop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tds_bench {

namespace {

// Both ends send each message as soon as it is written, as the TDS server does.
void NoDelay(int fd) {
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool ReadAll(int fd, char* data, size_t size) {
  while (size > 0) {
    ssize_t got = recv(fd, data, size, 0);
    if (got <= 0) return false;
    data += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

}  // namespace

WireServer::WireServer(size_t request, size_t reply) : request_(request), reply_(reply) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener_, 64) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

WireServer::~WireServer() {
  if (listener_ >= 0) shutdown(listener_, SHUT_RDWR);
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
}

// One connection at a time, each served until the client closes it.
void WireServer::Serve() {
  std::vector<char> in(request_);
  std::string out(reply_, 'r');
  for (;;) {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    NoDelay(fd);
    while (ReadAll(fd, in.data(), in.size()) && WriteAll(fd, out.data(), out.size())) {
    }
    close(fd);
  }
}

WireClient::~WireClient() {
  Close();
}

bool WireClient::Connect(int port) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(port);
  if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return false;
  }
  NoDelay(fd_);
  return true;
}

void WireClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool WireClient::Exchange() {
  return WriteAll(fd_, out_.data(), out_.size()) && ReadAll(fd_, in_.data(), in_.size());
}

}  // namespace tds_bench
