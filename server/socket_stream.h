// A connection's TCP socket as a ByteStream: reads wait in poll() up to the read timeout and
// take what has arrived into a buffer of their own (a packet's header and payload in one
// receive), writes never raise SIGPIPE and give up on a peer that stops reading.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

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
  // One receive of up to `size` bytes, waiting up to the read timeout.
  size_t Receive(uint8_t* data, size_t size);

  static constexpr size_t kBufferSize = 16 * 1024;

  int fd_;
  std::chrono::milliseconds read_timeout_{0};
  std::chrono::milliseconds write_timeout_;
  // Bytes received and not yet read: in_[in_begin_, in_end_).
  std::unique_ptr<uint8_t[]> in_ = std::make_unique<uint8_t[]>(kBufferSize);
  size_t in_begin_ = 0, in_end_ = 0;
};

}  // namespace dunmarrow::server
