// Test doubles for the network: a resolver that answers from a table and an ICMP service that
// answers from a script, put in place of the system's in the platform layer.
#include "tests/unit/net_fakes.h"

#include <cstring>
#include <fstream>
#include <sstream>

#include "net/internet.h"

namespace dunmarrow::test {

uint32_t Ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t address;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

CountingResolver::CountingResolver() {
  AddHost("localhost", "localhost", Ipv4(127, 0, 0, 1));
  AddReverse(Ipv4(127, 0, 0, 1), "localhost");
}

void CountingResolver::AddHost(const std::string& name, const std::string& official_name,
                               uint32_t address) {
  std::lock_guard<std::mutex> lock(mutex_);
  hosts_[name] = {official_name, address};
}

void CountingResolver::AddReverse(uint32_t address, const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  reverse_[address] = name;
}

bool CountingResolver::Forward(const std::string& name, std::string& official_name,
                               std::vector<uint32_t>& addresses) {
  ++forward_calls_;
  std::lock_guard<std::mutex> lock(mutex_);
  asked_.push_back(name);
  auto found = hosts_.find(name);
  if (found == hosts_.end()) return false;
  official_name = found->second.first;
  addresses = {found->second.second};
  return true;
}

bool CountingResolver::Reverse(uint32_t address, std::string& name) {
  ++reverse_calls_;
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = reverse_.find(address);
  if (found == reverse_.end()) return false;
  name = found->second;
  return true;
}

std::vector<std::string> CountingResolver::ForwardNames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return asked_;
}

void ScriptedIcmpService::Script(std::vector<ScriptedEcho> echoes, ScriptedEcho fallback) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.assign(echoes.begin(), echoes.end());
  fallback_ = fallback;
}

bool ScriptedIcmpService::Echo(uint32_t address, const void* data, size_t size, uint32_t timeout_ms,
                               winplatform::EchoAnswer& answer) {
  ScriptedEcho echo;
  size_t index;
  std::function<void(size_t)> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    bool zero = true;
    for (size_t i = 0; i < size; ++i) zero = zero && static_cast<const uint8_t*>(data)[i] == 0;
    requests_.push_back(Request{address, size, timeout_ms, zero});
    index = requests_.size() - 1;
    if (script_.empty()) {
      echo = fallback_;
    } else {
      echo = script_.front();
      script_.pop_front();
    }
    hook = hook_;
  }
  if (hook) hook(index);
  if (!echo.replied) return false;
  answer.address = echo.from ? echo.from : address;
  answer.round_trip_ms = echo.time;
  answer.ttl = echo.ttl;
  return true;
}

std::vector<ScriptedIcmpService::Request> ScriptedIcmpService::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

NetworkSeams::NetworkSeams(winplatform::Resolver* resolver, winplatform::IcmpService* service)
    : previous_resolver_(winplatform::InstallResolver(resolver)),
      previous_service_(winplatform::InstallIcmpService(service)) {}

NetworkSeams::~NetworkSeams() {
  winplatform::InstallResolver(previous_resolver_);
  winplatform::InstallIcmpService(previous_service_);
}

bool HostsFileNamesLocalhost() {
  std::ifstream hosts("/etc/hosts");
  std::string line;
  while (std::getline(hosts, line)) {
    std::istringstream words(line);
    std::string address, name;
    words >> address;
    if (address != "127.0.0.1") continue;
    while (words >> name) {
      if (name == "localhost") return true;
    }
  }
  return false;
}

void EnsureNetworkStarted() {
  NetworkStartup();
}

}  // namespace dunmarrow::test
