// A connection's bytes: the socket, TLS records over it, or a test's buffers. Reads and writes
// block; a failure, a timeout or a peer that went away raises StreamError.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace dunmarrow::server {

class StreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A read waited longer than the stream's read timeout.
class StreamTimeout : public StreamError {
 public:
  using StreamError::StreamError;
};

class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Up to `size` bytes, at least one; 0 when the peer closed its side.
  virtual size_t Read(uint8_t* data, size_t size) = 0;
  // Every byte, or StreamError.
  virtual void Write(const uint8_t* data, size_t size) = 0;
  // Whether a Read would return without waiting (bytes buffered or arrived, or the end of the
  // stream): how a running request notices an attention without blocking.
  virtual bool ReadReady() = 0;
  // The longest a Read waits for its first byte before StreamTimeout; zero waits forever.
  virtual void SetReadTimeout(std::chrono::milliseconds timeout) = 0;
};

}  // namespace dunmarrow::server
