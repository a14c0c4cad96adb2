// The command line of `dunmarrow serve`: what to load, where to listen, how to encrypt, and the
// limits each connection runs under.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/connection.h"
#include "server/listen_address.h"

namespace dunmarrow::server {

struct ServeOptions {
  std::string module;                     // -m / --module
  std::optional<std::string> drive_root;  // --drive-root
  std::optional<std::string> logins;      // --logins; none: "logins" beside the drive root
  std::vector<ListenAddress> listen;      // --listen, in order; 127.0.0.1:1433 when none given
  std::optional<EncryptMode> encrypt;     // --encrypt; none: on for loopback, else required
  std::optional<std::string> tls_cert;    // --tls-cert
  std::optional<std::string> tls_key;     // --tls-key
  std::vector<std::string> allow_paths;   // --allow-path; none: the drive root
  uint64_t buffer_limit = 256ull << 20;   // --buffer-limit; 0: none
  size_t max_connections = 256;           // --max-connections
  ConnectionLimits limits;                // --login-timeout, --idle-timeout, --max-message
  std::optional<std::string> log;         // --log
  bool help = false;                      // --help
};

// Parses the arguments after "serve"; on a bad command line returns nullopt and sets `error`.
std::optional<ServeOptions> ParseServeOptions(const std::vector<std::string>& args,
                                              const std::string& default_module,
                                              std::string& error);

// The encryption a listener runs with: the one asked for, or the default for its address.
EncryptMode ListenerEncryption(const ServeOptions& options, const ListenAddress& listener);

const char* ServeUsage();

}  // namespace dunmarrow::server
