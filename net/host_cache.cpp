// The name cache and the lookups through it: host name to IPv4 address and back, shared by
// every network procedure under the network layer's lock.
#include <cstring>
#include <vector>

#include "net/internet.h"
#include "net/network_internal.h"
#include "runtime/ascii.h"

namespace dunmarrow {
namespace {

using net_internal::NetworkLockGuard;

struct HostCacheEntry {
  std::string name;  // lower case
  uint32_t address;  // network byte order
};

std::vector<HostCacheEntry>* host_cache = nullptr;

std::vector<HostCacheEntry>& HostCache() {
  if (!host_cache) host_cache = new std::vector<HostCacheEntry>;
  return *host_cache;
}

// Flushed whole when full, rather than aged.
void AddToHostCache(std::string name, uint32_t address) {
  auto& cache = HostCache();
  if (cache.size() >= kHostCacheCapacity) cache.clear();
  cache.push_back(HostCacheEntry{std::move(name), address});
}

}  // namespace

namespace net_internal {

void DestroyHostCache() {
  delete host_cache;
  host_cache = nullptr;
}

}  // namespace net_internal

uint32_t ResolveHostAddress(std::string_view host_name) {
  NetworkLockGuard guard;
  try {
    // A name with a NUL in it could only be cut short; no host has such a name.
    if (host_name.empty() || host_name.find('\0') != std::string_view::npos) return 0;
    int64_t fields[4];
    if (net_internal::DottedQuadFields(host_name, fields)) {
      // inet_addr answers INADDR_NONE also for a quad it cannot read ("127.0.0.08",
      // "127. 0. 0. 1", "+127.0.0.1"): such a text is no address, not 255.255.255.255.
      ULONG address = inet_addr(std::string(host_name).c_str());
      bool all_ones = fields[0] == 255 && fields[1] == 255 && fields[2] == 255 && fields[3] == 255;
      return address == INADDR_NONE && !all_ones ? 0 : address;
    }
    std::string name = AsciiLower(host_name);
    for (const auto& entry : HostCache()) {
      if (entry.name == name) return entry.address;
    }
    hostent* host = gethostbyname(name.c_str());
    if (!host || host->h_addrtype != AF_INET || host->h_length != 4 || !host->h_addr_list ||
        !host->h_addr_list[0]) {
      return 0;
    }
    uint32_t address;
    std::memcpy(&address, host->h_addr_list[0], sizeof address);
    AddToHostCache(std::move(name), address);
    return address;
  } catch (...) {
    return 0;
  }
}

std::string ResolveHostName(uint32_t address) {
  NetworkLockGuard guard;
  try {
    for (const auto& entry : HostCache()) {
      if (entry.address == address) return entry.name;
    }
    hostent* host = gethostbyaddr(reinterpret_cast<const char*>(&address), 4, AF_INET);
    if (!host || !host->h_name) return std::string();
    std::string name = host->h_name;
    AddToHostCache(AsciiLower(name), address);
    return name;
  } catch (...) {
    return std::string();
  }
}

size_t HostCacheCount() {
  NetworkLockGuard guard;
  return host_cache ? host_cache->size() : 0;
}

}  // namespace dunmarrow
