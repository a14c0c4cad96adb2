// One client connection speaking TDS: PRELOGIN, TLS, LOGIN7, then batches, RPC calls and
// transaction-manager requests on an engine session of its own, until the client leaves.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "server/authenticator.h"
#include "server/byte_stream.h"
#include "server/tls_session.h"
#include "tsql/procedures.h"

namespace dunmarrow::server {

// off: TLS is not offered. on: offered; the client chooses full or login-only encryption.
// required: the whole connection is encrypted, and a client that will not encrypt is refused.
enum class EncryptMode { kOff, kOn, kRequired };

struct ConnectionLimits {
  size_t max_message_bytes = 64 * 1024 * 1024;     // a larger request is refused and the
                                                   // connection closed
  std::chrono::milliseconds login_timeout{30000};  // from accept to the end of the login
  std::chrono::milliseconds idle_timeout{0};       // between requests; zero: none
};

struct ConnectionSettings {
  tsql::ProcedureRegistry* registry = nullptr;
  Authenticator* authenticator = nullptr;
  TlsContext* tls = nullptr;  // null: TLS is not offered whatever `encrypt` says
  EncryptMode encrypt = EncryptMode::kOn;
  ConnectionLimits limits;
  int spid = 51;             // the session id in every packet header and @@SPID
  std::string peer;          // "address:port", for log lines
  std::string peer_address;  // the address alone, for the authenticator
  // Set when the server cannot take the connection (too many): the login is answered with
  // this error message and the connection closed.
  std::optional<std::string> refusal;
};

class Connection {
 public:
  Connection(ByteStream& stream, ConnectionSettings settings);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Serves the client until it leaves, the stream fails or a protocol fault ends the
  // connection. A fault is logged in one line; Run never throws.
  void Run();

  uint64_t Calls() const;            // batches and RPC calls served
  const std::string& Login() const;  // the login name once logged in, else empty

 private:
  struct State;
  ByteStream& stream_;
  ConnectionSettings settings_;
  std::unique_ptr<State> state_;
};

}  // namespace dunmarrow::server
