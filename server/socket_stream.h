// A connection's TCP socket as a ByteStream: reads wait in poll() up to the read timeout,
// writes never raise SIGPIPE and give up on a peer that stops reading.
#pragma once

#include <chrono>

#include "server/byte_stream.h"

namespace dunmarrow::server {

class SocketStream : public ByteStream {
 public:
  // Takes the connected socket; it is closed with the stream. A write that cannot send a byte
  // for `write_timeout` fails: a client that never reads cannot hold a thread for ever.
  explicit SocketStream(int fd, std::chrono::milliseconds write_timeout = std::chrono::minutes(2));
  ~SocketStream() override;
  SocketStream(const SocketStream&) = delete;
  SocketStream& operator=(const SocketStream&) = delete;

  size_t Read(uint8_t* data, size_t size) override;
  void Write(const uint8_t* data, size_t size) override;
  bool ReadReady() override;
  void SetReadTimeout(std::chrono::milliseconds timeout) override;

 private:
  // Waits until the socket is ready for `events`; false when `timeout` passed (zero: waits
  // for ever).
  bool Wait(short events, std::chrono::milliseconds timeout);

  int fd_;
  std::chrono::milliseconds read_timeout_{0};
  std::chrono::milliseconds write_timeout_;
};

}  // namespace dunmarrow::server
