// Pings and name lookups from several threads at once, as a server runs its calls: each call
// has its own component and worker, and all share the name cache. `make test-tsan` runs this
// under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "net/internet.h"
#include "tests/unit/call_helpers.h"
#include "tests/unit/net_fakes.h"
#include "tests/unit/procedures.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;

constexpr int kThreads = 6;
constexpr int kRounds = 45;
constexpr int kHosts = 50;

std::string Dotted(int host) {
  return "192.0.2." + std::to_string(host + 1);
}

int Rows(const CallResult& result) {
  int rows = 0;
  for (const auto& event : result.events) rows += event.kind == ods::EventKind::SendRow;
  return rows;
}

std::string OutputText(const CallResult& result) {
  for (const auto& event : result.events) {
    if (event.kind == ods::EventKind::ParamSetOutput) {
      return std::string(event.data.begin(), event.data.end());
    }
  }
  return "";
}

void RunRounds(int thread) {
  for (int round = 0; round < kRounds; ++round) {
    int host = (thread * 7 + round) % kHosts;
    std::string name = "host" + std::to_string(host) + ".test";
    switch (round % 3) {
      case 0: {
        CallResult result = Call(xp_Ping, {VarChar(name), Int(100), Int(3)});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(Rows(result), 3);
        break;
      }
      case 1: {
        std::string upper = name;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        CallResult result = Call(xp_GetAddrByHost, {VarChar(upper), Output(VarChar("", 20))});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(OutputText(result), Dotted(host));
        break;
      }
      default: {
        CallResult result =
            Call(xp_GetHostByAddr, {VarChar(Dotted(host)), Output(VarChar("", 64))});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(OutputText(result), name);
        break;
      }
    }
  }
}

TEST(NetStress, PingsAndLookupsFromManyThreads) {
  EnsureNetworkStarted();
  NetworkCleanup();
  NetworkStartup();
  CountingResolver resolver;
  for (int host = 0; host < kHosts; ++host) {
    std::string name = "host" + std::to_string(host) + ".test";
    uint32_t address = Ipv4(192, 0, 2, static_cast<uint8_t>(host + 1));
    resolver.AddHost(name, name, address);
    resolver.AddReverse(address, name);
  }
  for (int i = 0; i < 2100; ++i) {
    std::string name = "flush" + std::to_string(i) + ".test";
    resolver.AddHost(name, name, Ipv4(198, 51, 100, static_cast<uint8_t>(i % 250 + 1)));
  }
  ScriptedIcmpService service;
  service.Script({}, Reply(1));
  NetworkSeams seams(&resolver, &service);

  std::vector<std::thread> threads;
  for (int thread = 0; thread < kThreads; ++thread) threads.emplace_back(RunRounds, thread);
  // Meanwhile the cache fills past its size and is flushed.
  threads.emplace_back([] {
    for (int i = 0; i < 2100; ++i) {
      EXPECT_NE(ResolveHostAddress("flush" + std::to_string(i) + ".test"), 0u);
    }
  });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(service.Requests().size(), static_cast<size_t>(kThreads * 15 * 3));
}

TEST(NetStress, LoopbackPingsFromManyThreads) {
  EnsureNetworkStarted();
  NetworkSeams system(nullptr, nullptr);
  HANDLE probe = IcmpCreateFile();
  if (probe == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no ICMP socket may be opened here";
  IcmpCloseHandle(probe);
  std::vector<std::thread> threads;
  for (int thread = 0; thread < 4; ++thread) {
    threads.emplace_back([] {
      for (int round = 0; round < 3; ++round) {
        CallResult result = Call(xp_Ping, {VarChar("127.0.0.1"), Int(2000), Int(2)});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(Rows(result), 2);
        for (const auto& event : result.events) {
          if (event.kind == ods::EventKind::SendRow) {
            EXPECT_TRUE(event.row[1].has_value());
          }
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
}

}  // namespace
}  // namespace dunmarrow::test
