// Linux only, for tests: the system resolver and the ICMP service can be replaced, so that a
// test scripts the answers and counts the questions without sending any traffic. The module
// never calls these; it sees the replacement through gethostbyname, gethostbyaddr and
// IcmpSendEcho like the real thing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/types.h"

namespace winplatform {

class Resolver {
 public:
  virtual ~Resolver() = default;
  // The official name and the IPv4 addresses (network byte order) of a name; false when the
  // name is unknown.
  virtual bool Forward(const std::string& name, std::string& official_name,
                       std::vector<uint32_t>& addresses) = 0;
  // A name of an IPv4 address (network byte order); false when there is none.
  virtual bool Reverse(uint32_t address, std::string& name) = 0;
};

struct EchoAnswer {
  uint32_t address = 0;  // the replying host, network byte order
  uint32_t round_trip_ms = 0;
  uint8_t ttl = 0;
};

class IcmpService {
 public:
  virtual ~IcmpService() = default;
  // One echo request to an address (network byte order, never 0); false when no reply came
  // within the time limit.
  virtual bool Echo(uint32_t address, const void* data, size_t size, uint32_t timeout_ms,
                    EchoAnswer& answer) = 0;
};

// Each returns the previous replacement; null restores the system's own.
WINAPI_EXPORT Resolver* InstallResolver(Resolver* resolver);
WINAPI_EXPORT IcmpService* InstallIcmpService(IcmpService* service);

}  // namespace winplatform
