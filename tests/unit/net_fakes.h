// Test doubles for the network: a resolver that answers from a table and counts the
// questions, and an ICMP service that answers echoes from a script. Both replace the system's
// own in the platform layer, which the module and the tests share, so nothing goes out.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/net_hooks.h"

namespace dunmarrow::test {

// An IPv4 address in network byte order from its four bytes.
uint32_t Ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d);

class CountingResolver : public winplatform::Resolver {
 public:
  // localhost is 127.0.0.1, and 127.0.0.1 is named localhost.
  CountingResolver();
  void AddHost(const std::string& name, const std::string& official_name, uint32_t address);
  void AddReverse(uint32_t address, const std::string& name);

  bool Forward(const std::string& name, std::string& official_name,
               std::vector<uint32_t>& addresses) override;
  bool Reverse(uint32_t address, std::string& name) override;

  int ForwardCalls() const { return forward_calls_.load(); }
  int ReverseCalls() const { return reverse_calls_.load(); }
  std::vector<std::string> ForwardNames() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::pair<std::string, uint32_t>> hosts_;
  std::map<uint32_t, std::string> reverse_;
  std::vector<std::string> asked_;
  std::atomic<int> forward_calls_{0};
  std::atomic<int> reverse_calls_{0};
};

struct ScriptedEcho {
  bool replied = false;
  uint32_t time = 0;
  uint8_t ttl = 0;
  uint32_t from = 0;  // 0: the address asked
};

inline ScriptedEcho Reply(uint32_t time, uint8_t ttl = 64) {
  return {true, time, ttl, 0};
}
inline ScriptedEcho NoReply() {
  return {};
}

class ScriptedIcmpService : public winplatform::IcmpService {
 public:
  struct Request {
    uint32_t address;
    size_t size;
    uint32_t timeout;
    bool zero_payload;
  };

  // Echoes beyond the script get the fallback.
  void Script(std::vector<ScriptedEcho> echoes, ScriptedEcho fallback = NoReply());
  // Runs on the thread that sends, before each answer.
  void OnEcho(std::function<void(size_t index)> hook) { hook_ = std::move(hook); }

  bool Echo(uint32_t address, const void* data, size_t size, uint32_t timeout_ms,
            winplatform::EchoAnswer& answer) override;

  std::vector<Request> Requests() const;

 private:
  mutable std::mutex mutex_;
  std::deque<ScriptedEcho> script_;
  ScriptedEcho fallback_;
  std::vector<Request> requests_;
  std::function<void(size_t)> hook_;
};

// Installs a resolver and an ICMP service for the life of the object (null: the system's
// own); the previous ones come back afterwards.
class NetworkSeams {
 public:
  NetworkSeams(winplatform::Resolver* resolver, winplatform::IcmpService* service);
  ~NetworkSeams();
  NetworkSeams(const NetworkSeams&) = delete;
  NetworkSeams& operator=(const NetworkSeams&) = delete;

 private:
  winplatform::Resolver* previous_resolver_;
  winplatform::IcmpService* previous_service_;
};

// Whether the hosts file names 127.0.0.1 localhost, so that looking the name up asks no
// name server.
bool HostsFileNamesLocalhost();

// Runs the network start-up of the module code linked into the tests (the loaded module runs
// its own).
void EnsureNetworkStarted();

}  // namespace dunmarrow::test

namespace dunmarrow::test {

// Runs the body on a thread of its own inside a new network namespace: only a loopback
// interface, brought up, that nothing outside can reach. The sysctls (paths below
// /proc/sys/net, values) are set inside the namespace first. Returns false with the reason
// when such a namespace cannot be made here.
bool RunInPrivateNetwork(const std::vector<std::pair<std::string, std::string>>& sysctls,
                         const std::function<void()>& body, std::string& why_not);

}  // namespace dunmarrow::test
