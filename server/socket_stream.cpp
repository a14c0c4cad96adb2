// The socket's reads and writes, retried after signals, with their time limits.
#include "server/socket_stream.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace dunmarrow::server {

namespace {

[[noreturn]] void Fail(const char* what) {
  throw StreamError(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

SocketStream::SocketStream(int fd, std::chrono::milliseconds write_timeout)
    : fd_(fd), write_timeout_(write_timeout) {}

SocketStream::~SocketStream() {
  close(fd_);
}

bool SocketStream::Wait(short events, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int wait = -1;
    if (timeout.count() > 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      wait = static_cast<int>(std::min<long long>(left.count() + 1, 1 << 30));
    }
    pollfd entry{fd_, events, 0};
    int ready = poll(&entry, 1, wait);
    if (ready > 0) return true;  // ready, or an error or hang-up the next call reports
    if (ready < 0 && errno != EINTR) Fail("poll");
  }
}

size_t SocketStream::Read(uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (in_begin_ == in_end_) {
    // A large read goes straight to the caller; a small one fills the buffer.
    if (size >= kBufferSize) return Receive(data, size);
    in_begin_ = 0;
    in_end_ = Receive(in_.get(), kBufferSize);
    if (in_end_ == 0) return 0;
  }
  size_t n = std::min(size, in_end_ - in_begin_);
  std::memcpy(data, in_.get() + in_begin_, n);
  in_begin_ += n;
  return n;
}

size_t SocketStream::Receive(uint8_t* data, size_t size) {
  if (!Wait(POLLIN, read_timeout_)) throw StreamTimeout("the client sent nothing in time");
  for (;;) {
    ssize_t got = recv(fd_, data, size, MSG_DONTWAIT);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!Wait(POLLIN, read_timeout_)) throw StreamTimeout("the client sent nothing in time");
      continue;
    }
    Fail("receive");
  }
}

void SocketStream::Write(const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t sent = send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      data += sent;
      size -= static_cast<size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) Fail("send");
    if (!Wait(POLLOUT, write_timeout_)) throw StreamTimeout("the client stopped reading");
  }
}

bool SocketStream::ReadReady() {
  if (in_begin_ != in_end_) return true;
  pollfd entry{fd_, POLLIN, 0};
  int ready;
  do {
    ready = poll(&entry, 1, 0);
  } while (ready < 0 && errno == EINTR);
  return ready != 0;
}

void SocketStream::SetReadTimeout(std::chrono::milliseconds timeout) {
  read_timeout_ = timeout;
}

}  // namespace dunmarrow::server
