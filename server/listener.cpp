// Listening, accepting and the threads of the connections. Run's thread alone adds and
// removes slots; a connection's thread marks its slot finished and wakes Run's thread through
// a pipe, which joins it. Stop() writes to the same pipe, so a signal handler may call it.
#include "server/listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "server/server_log.h"
#include "server/socket_stream.h"

namespace dunmarrow::server {

namespace {

constexpr int kFirstSpid = 51;
// Connections beyond the limit are answered with an error by their own threads; beyond this
// many of those at once, further ones are closed unanswered.
constexpr size_t kMaxRefusing = 16;

std::string Errno() {
  return std::strerror(errno);
}

// "address:port" of a socket address, and the address alone.
void DescribePeer(const sockaddr_storage& peer, Accepted& info) {
  char text[INET6_ADDRSTRLEN] = "?";
  uint16_t port = 0;
  if (peer.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(peer);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    port = ntohs(v6.sin6_port);
    info.peer_address = text;
    info.peer = "[" + info.peer_address + "]:" + std::to_string(port);
  } else {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(peer);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    port = ntohs(v4.sin_port);
    info.peer_address = text;
    info.peer = info.peer_address + ":" + std::to_string(port);
  }
}

}  // namespace

std::unique_ptr<Listener> Listener::Open(const ListenAddress& address, std::string& error) {
  sockaddr_storage storage;
  socklen_t length = ToSocketAddress(address, storage);
  int fd = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error = "cannot listen on " + address.Text() + ": " + Errno();
    return nullptr;
  }
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (address.ipv6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || listen(fd, 128) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    error = "cannot listen on " + address.Text() + ": " + Errno();
    close(fd);
    return nullptr;
  }
  ListenAddress bound = address;
  bound.port = ntohs(address.ipv6 ? reinterpret_cast<sockaddr_in6&>(storage).sin6_port
                                  : reinterpret_cast<sockaddr_in&>(storage).sin_port);
  return std::unique_ptr<Listener>(new Listener(fd, bound));
}

Listener::~Listener() {
  close(fd_);
}

ConnectionServer::ConnectionServer(std::vector<std::unique_ptr<Listener>> listeners,
                                   size_t max_connections, Handler handler)
    : listeners_(std::move(listeners)),
      max_connections_(max_connections),
      handler_(std::move(handler)) {
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::runtime_error("cannot make a pipe: " + Errno());
  }
}

ConnectionServer::~ConnectionServer() {
  close(wake_[0]);
  close(wake_[1]);
}

void ConnectionServer::Wake() {
  char byte = 0;
  // A full pipe already holds a wake-up; nothing to do when the write fails.
  [[maybe_unused]] ssize_t written = write(wake_[1], &byte, 1);
}

void ConnectionServer::Stop() {
  stopping_.store(true);
  Wake();
}

size_t ConnectionServer::Live() const {
  std::lock_guard<std::mutex> hold(lock_);
  return served_ + refusing_;
}

void ConnectionServer::Run() {
  std::vector<pollfd> watched;
  for (const auto& listener : listeners_) watched.push_back({listener->fd(), POLLIN, 0});
  watched.push_back({wake_[0], POLLIN, 0});
  while (!stopping_.load()) {
    for (pollfd& entry : watched) entry.revents = 0;
    if (poll(watched.data(), watched.size(), -1) < 0) {
      if (errno == EINTR) continue;
      LogLine("poll of the listeners failed: " + Errno());
      break;
    }
    if (watched.back().revents) {
      char drain[64];
      while (read(wake_[0], drain, sizeof drain) > 0) {
      }
      Reap();
    }
    for (size_t i = 0; i + 1 < watched.size() && !stopping_.load(); ++i) {
      if (watched[i].revents) Accept(i);
    }
  }
  listeners_.clear();
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (Slot& slot : slots_) {
      if (slot.fd >= 0) shutdown(slot.fd, SHUT_RD);
    }
  }
  for (Slot& slot : slots_) slot.thread.join();
  slots_.clear();
}

void ConnectionServer::Accept(size_t index) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  int fd =
      accept4(listeners_[index]->fd(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
  if (fd < 0) {
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      // Out of descriptors: the pending connection stays queued; wait before trying again
      // rather than spinning on it.
      LogLine("cannot accept a connection: " + Errno());
      poll(nullptr, 0, 100);
    }
    return;
  }
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  Accepted info;
  DescribePeer(peer, info);
  info.listener = index;
  {
    std::lock_guard<std::mutex> hold(lock_);
    info.over_limit = served_ >= max_connections_;
    if (info.over_limit && refusing_ >= kMaxRefusing) {
      close(fd);
      LogLine("connection from " + info.peer + " closed unanswered: too many connections");
      return;
    }
    int spid = kFirstSpid;
    while (spids_.count(spid)) ++spid;
    spids_.insert(spid);
    info.spid = spid;
    ++(info.over_limit ? refusing_ : served_);
  }
  Slot& slot = slots_.emplace_back();
  slot.fd = fd;
  slot.info = std::move(info);
  try {
    slot.thread = std::thread(&ConnectionServer::Serve, this, &slot);
  } catch (const std::system_error& e) {
    LogLine("cannot start a thread for the connection from " + slot.info.peer + ": " + e.what());
    std::lock_guard<std::mutex> hold(lock_);
    spids_.erase(slot.info.spid);
    --(slot.info.over_limit ? refusing_ : served_);
    close(fd);
    slots_.pop_back();
  }
}

void ConnectionServer::Serve(Slot* slot) {
  // Signals are for the thread that runs the server.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  {
    SocketStream stream(slot->fd);
    try {
      handler_(stream, slot->info);
    } catch (const std::exception& e) {
      LogLine("connection from " + slot->info.peer + " failed: " + e.what());
    }
    // From here Run's thread no longer shuts the socket down: its number may be reused as
    // soon as the stream closes it.
    std::lock_guard<std::mutex> hold(lock_);
    slot->fd = -1;
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    slot->finished = true;
    spids_.erase(slot->info.spid);
    --(slot->info.over_limit ? refusing_ : served_);
  }
  Wake();
}

void ConnectionServer::Reap() {
  for (auto it = slots_.begin(); it != slots_.end();) {
    bool finished;
    {
      std::lock_guard<std::mutex> hold(lock_);
      finished = it->finished;
    }
    if (finished) {
      it->thread.join();
      it = slots_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace dunmarrow::server
