// An address to listen on, as the command line gives it: "127.0.0.1:1433", "[::1]:1433".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct sockaddr_storage;

namespace dunmarrow::server {

// A numeric address and a port to listen on; port 0 lets the system choose.
struct ListenAddress {
  std::string address;  // an IPv4 or IPv6 literal, without brackets
  uint16_t port = 0;
  bool ipv6 = false;
  bool loopback = false;  // 127.0.0.0/8 or ::1

  // "127.0.0.1:1433", "[::1]:1433".
  std::string Text() const;
};

// "ADDR:PORT" with an IPv4 address, or "[ADDR]:PORT" with an IPv6 one; nullopt and `error`
// when it is neither.
std::optional<ListenAddress> ParseListenAddress(const std::string& text, std::string& error);

// The socket address of `address` in `storage`; returns its length.
unsigned ToSocketAddress(const ListenAddress& address, sockaddr_storage& storage);

}  // namespace dunmarrow::server
