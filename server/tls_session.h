// TLS for one connection. The handshake travels inside TDS packets, so it is driven through
// buffers: the connection hands over each client flight and sends back what comes out. Once
// it is complete, TLS records go over the connection's stream directly.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "server/byte_stream.h"

namespace dunmarrow::server {

class TlsHandshake {
 public:
  virtual ~TlsHandshake() = default;
  // Takes the client's handshake bytes (the payload of one message) and returns the server's
  // answer, to be sent as one message (empty when there is none yet). StreamError when the
  // handshake fails.
  virtual std::vector<uint8_t> Step(std::span<const uint8_t> client_bytes) = 0;
  virtual bool Complete() const = 0;
  // After Complete: TLS records over `raw`. The TLS state moves into the returned stream; `raw`
  // must outlive it. Dropping the stream sends nothing (no close_notify), which is how a
  // login-only encryption ends after the login packet.
  virtual std::unique_ptr<ByteStream> Secure(ByteStream& raw) = 0;
};

// The server's certificate and settings (TLS 1.2 at most, no session resumption), shared by
// every connection.
class TlsContext {
 public:
  virtual ~TlsContext() = default;
  virtual std::unique_ptr<TlsHandshake> Accept() = 0;
};

}  // namespace dunmarrow::server
