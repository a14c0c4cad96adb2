// Reading and writing listen addresses. The address must be numeric: a server names the
// interfaces it listens on exactly, without asking a name service.
#include "server/listen_address.h"

#include <arpa/inet.h>
#include <sys/socket.h>

namespace dunmarrow::server {

namespace {

bool IsLoopback(const ListenAddress& listener) {
  if (listener.ipv6) {
    in6_addr address{};
    inet_pton(AF_INET6, listener.address.c_str(), &address);
    return IN6_IS_ADDR_LOOPBACK(&address);
  }
  in_addr address{};
  inet_pton(AF_INET, listener.address.c_str(), &address);
  return (ntohl(address.s_addr) >> 24) == 127;
}

}  // namespace

std::string ListenAddress::Text() const {
  std::string host = ipv6 ? "[" + address + "]" : address;
  return host + ":" + std::to_string(port);
}

std::optional<ListenAddress> ParseListenAddress(const std::string& text, std::string& error) {
  error = "'" + text + "' is no ADDR:PORT (an IPv4 address, or an IPv6 address in brackets)";
  ListenAddress listener;
  size_t colon = text.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    listener.address = host.substr(1, host.size() - 2);
    listener.ipv6 = true;
    in6_addr address{};
    if (inet_pton(AF_INET6, listener.address.c_str(), &address) != 1) return std::nullopt;
  } else {
    listener.address = host;
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) != 1) return std::nullopt;
  }
  std::string digits = text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos || std::stoul(digits) > 65535) {
    error = "the port of '" + text + "' is not a number from 0 to 65535";
    return std::nullopt;
  }
  listener.port = static_cast<uint16_t>(std::stoul(digits));
  listener.loopback = IsLoopback(listener);
  error.clear();
  return listener;
}

unsigned ToSocketAddress(const ListenAddress& address, sockaddr_storage& storage) {
  storage = {};
  if (address.ipv6) {
    auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(address.port);
    inet_pton(AF_INET6, address.address.c_str(), &v6.sin6_addr);
    return sizeof v6;
  }
  auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
  v4.sin_family = AF_INET;
  v4.sin_port = htons(address.port);
  inet_pton(AF_INET, address.address.c_str(), &v4.sin_addr);
  return sizeof v4;
}

}  // namespace dunmarrow::server
