// TLS with OpenSSL: the server's context (certificate, TLS 1.2 at most, no resumption), the
// handshake through memory buffers, and the stream of TLS records that follows it.
#pragma once

#include <memory>
#include <string>

#include "server/tls_session.h"

namespace dunmarrow::server {

// The context for the PEM certificate chain and private key in these files; null and `error`
// when they cannot be read or do not belong together.
std::unique_ptr<TlsContext> OpenTlsContext(const std::string& certificate_file,
                                           const std::string& key_file, std::string& error);

}  // namespace dunmarrow::server
