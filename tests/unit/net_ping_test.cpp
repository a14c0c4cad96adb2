// The ICMP echo engine: one series per Ping, its reply slots and its statistics.
#include <gtest/gtest.h>

#include <chrono>
#include <limits>

#include "net/icmp.h"
#include "runtime/failure.h"
#include "tests/unit/net_fakes.h"

namespace dunmarrow::test {
namespace {

TEST(PingStatistics, AverageRoundsHalvesToEven) {
  EXPECT_EQ(RoundedAverageTime(5, 2), 2u);
  EXPECT_EQ(RoundedAverageTime(7, 2), 4u);
  EXPECT_EQ(RoundedAverageTime(101, 4), 25u);
  EXPECT_EQ(RoundedAverageTime(103, 4), 26u);
  EXPECT_EQ(RoundedAverageTime(0xFFFFFFFFu, 2), 0x80000000u);
  EXPECT_EQ(RoundedAverageTime(0xFFFFFFFFu, 1), 0xFFFFFFFFu);
}

TEST(PingStatistics, PercentLostFollowsExtendedPrecision) {
  EXPECT_EQ(ExtendedPercentLost(53, 100), 52);
  EXPECT_EQ(ExtendedPercentLost(29, 100), 29);
  EXPECT_EQ(ExtendedPercentLost(1, 3), 33);
  EXPECT_EQ(ExtendedPercentLost(2, 4), 50);
  EXPECT_EQ(ExtendedPercentLost(0, 7), 0);
  EXPECT_EQ(ExtendedPercentLost(7, 7), 100);
  // Below 100 echoes the percentage is the exact one, truncated.
  for (int sent = 1; sent < 100; ++sent) {
    for (int lost = 0; lost <= sent; ++lost) {
      ASSERT_EQ(ExtendedPercentLost(lost, sent), 100 * lost / sent) << lost << " of " << sent;
    }
  }
}

// Where the compiler's long double is the x87 extended format, it is the reference.
TEST(PingStatistics, PercentLostAgreesWithTheFloatingPointUnit) {
  if (std::numeric_limits<long double>::digits != 64) {
    GTEST_SKIP() << "long double has no 64-bit significand here";
  }
  int differences_from_exact = 0;
  for (int sent = 1; sent <= 1500; ++sent) {
    for (int lost = 0; lost <= sent; ++lost) {
      volatile long double quotient = static_cast<long double>(lost) / sent;
      volatile long double product = quotient * 100;
      auto expected = static_cast<int>(product);
      ASSERT_EQ(ExtendedPercentLost(lost, sent), expected) << lost << " of " << sent;
      if (expected != 100 * lost / sent) ++differences_from_exact;
    }
  }
  EXPECT_GT(differences_from_exact, 0);
  volatile int32_t lost = 2000000011, sent = 2147483647;
  volatile long double product = static_cast<long double>(lost) / sent * 100;
  EXPECT_EQ(ExtendedPercentLost(lost, sent), static_cast<int>(product));
}

class PingEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureNetworkStarted();
    NetworkCleanup();
    NetworkStartup();
    resolver_.AddHost("echo.test", "echo.test", Ipv4(192, 0, 2, 33));
    resolver_.AddReverse(Ipv4(192, 0, 2, 33), "Echo.Test");
  }

  void ExpectStatistics(const TkxPing& ping, uint32_t min, uint32_t max, uint32_t total,
                        uint32_t average, int32_t sent, int32_t lost, uint8_t percent) {
    EXPECT_EQ(ping.MinTime, min);
    EXPECT_EQ(ping.MaxTime, max);
    EXPECT_EQ(ping.TotalTime, total);
    EXPECT_EQ(ping.AvgTime, average);
    EXPECT_EQ(ping.Sent, sent);
    EXPECT_EQ(ping.Lost, lost);
    EXPECT_EQ(ping.PercentLost, percent);
  }

  CountingResolver resolver_;
  ScriptedIcmpService service_;
  NetworkSeams seams_{&resolver_, &service_};
};

TEST_F(PingEngine, FourAnsweredEchoes) {
  service_.Script({Reply(10, 64), Reply(20, 63), Reply(30, 62), Reply(41, 61)});
  TkxPing ping(true);
  ping.Ping("echo.test");
  ExpectStatistics(ping, 10, 41, 101, 25, 4, 0, 0);
  ASSERT_EQ(ping.ReplyCount(), 4);
  for (int i = 0; i < 4; ++i) {
    TEchoReply reply = ping.GetReply(i);
    EXPECT_EQ(reply.Address, Ipv4(192, 0, 2, 33));
    EXPECT_EQ(reply.TTL, 64 - i);
    EXPECT_EQ(reply.HostName, "echo.test");
  }
  EXPECT_EQ(ping.GetReply(1).Time, 20u);
  // One forward lookup of the host; its entry also names the replying address.
  EXPECT_EQ(resolver_.ForwardCalls(), 1);
  EXPECT_EQ(resolver_.ReverseCalls(), 0);
  auto requests = service_.Requests();
  ASSERT_EQ(requests.size(), 4u);
  for (const auto& request : requests) {
    EXPECT_EQ(request.address, Ipv4(192, 0, 2, 33));
    EXPECT_EQ(request.size, 32u);
    EXPECT_TRUE(request.zero_payload);
    EXPECT_EQ(request.timeout, 3000u);
  }
}

TEST_F(PingEngine, LostEchoesLeaveClearedSlots) {
  service_.Script({Reply(1), NoReply(), Reply(4), NoReply()});
  TkxPing ping(true);
  ping.SetTimeout(250);
  ping.Ping("echo.test");
  ExpectStatistics(ping, 1, 4, 5, 2, 4, 2, 50);
  EXPECT_EQ(ping.GetReply(1).Address, 0u);
  EXPECT_EQ(ping.GetReply(1).TTL, 0);
  EXPECT_EQ(ping.GetReply(3).HostName, "");
  EXPECT_EQ(ping.GetReply(2).Address, Ipv4(192, 0, 2, 33));
  EXPECT_EQ(service_.Requests()[0].timeout, 250u);

  service_.Script({Reply(3), Reply(4)});
  ping.EchoCount = 2;
  ping.Ping("echo.test");  // a second series starts over
  ExpectStatistics(ping, 3, 4, 7, 4, 2, 0, 0);
  EXPECT_EQ(ping.ReplyCount(), 2);
}

TEST_F(PingEngine, EveryEchoLost) {
  TkxPing ping(true);
  ping.EchoCount = 3;
  ping.Ping("echo.test");
  ExpectStatistics(ping, 0, 0, 0, 0, 3, 3, 100);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ping.GetReply(i).Address, 0u);
}

TEST_F(PingEngine, PercentOfAHundredEchoes) {
  std::vector<ScriptedEcho> script;
  for (int i = 0; i < 100; ++i) script.push_back(i < 53 ? NoReply() : Reply(1));
  service_.Script(script);
  TkxPing ping(true);
  ping.EchoCount = 100;
  ping.Ping("localhost");
  EXPECT_EQ(ping.Lost, 53);
  EXPECT_EQ(ping.PercentLost, 52);
}

TEST_F(PingEngine, UnresolvableHostsAreNotSentTo) {
  TkxPing ping(true);
  ping.EchoCount = 2;
  ping.Ping("no-such-host.test");
  ExpectStatistics(ping, 0, 0, 0, 0, 2, 2, 100);
  EXPECT_TRUE(service_.Requests().empty());
}

TEST_F(PingEngine, EchoCountsOfZeroAndBelow) {
  TkxPing ping(true);
  ping.EchoCount = 0;
  ping.Ping("echo.test");
  EXPECT_EQ(ping.ReplyCount(), 0);
  ExpectStatistics(ping, 0, 0, 0, 0, 0, 0, 100);
  ping.EchoCount = -1;
  try {
    ping.Ping("echo.test");
    ADD_FAILURE() << "a negative echo count must fail";
  } catch (const Exception& failure) {
    EXPECT_EQ(failure.Message(), "Range check error");
  }
  ping.EchoCount = 0x7FFFFFFF;
  try {
    ping.Ping("echo.test");
    ADD_FAILURE() << "a reply table that no 32-bit process could hold must fail";
  } catch (const Exception& failure) {
    EXPECT_EQ(failure.Message(), "Out of memory");
  }
  EXPECT_TRUE(service_.Requests().empty());
  EXPECT_EQ(resolver_.ForwardCalls(), 1);
}

TEST_F(PingEngine, ReplySlotsOutsideTheSeriesAreCleared) {
  service_.Script({}, Reply(7));
  TkxPing ping(true);
  ping.Ping("echo.test");
  EXPECT_EQ(ping.GetReply(-1).Address, 0u);
  EXPECT_EQ(ping.GetReply(ping.ReplyCount()).Address, 0u);
  EXPECT_EQ(ping.GetReply(ping.ReplyCount()).Time, 0u);
  EXPECT_EQ(ping.GetReply(3).Time, 7u);
}

TEST_F(PingEngine, TotalTimePastThirtyTwoBitsFails) {
  service_.Script({Reply(0xFFFFFFF0u), Reply(0x20)});
  TkxPing ping(true);
  ping.EchoCount = 2;
  try {
    ping.Ping("echo.test");
    ADD_FAILURE() << "the total must not wrap";
  } catch (const Exception& failure) {
    EXPECT_EQ(failure.Message(), "Integer overflow");
  }
}

TEST_F(PingEngine, EchoesGoOutFromTheWorkerOneAfterAnother) {
  std::vector<DWORD> threads;
  service_.OnEcho([&](size_t) { threads.push_back(GetCurrentThreadId()); });
  TkxPing ping(true);
  ping.EchoCount = 5;
  ping.Ping("echo.test");
  ASSERT_EQ(threads.size(), 5u);
  for (DWORD thread : threads) {
    EXPECT_EQ(thread, threads[0]);
    EXPECT_NE(thread, GetCurrentThreadId());
  }
}

// Real echoes, to loopback only.
TEST_F(PingEngine, PingsLoopback) {
  NetworkSeams system(nullptr, nullptr);
  if (!HostsFileNamesLocalhost()) GTEST_SKIP() << "/etc/hosts does not name 127.0.0.1 localhost";
  std::unique_ptr<TkxPing> ping;
  try {
    ping = std::make_unique<TkxPing>(true);
  } catch (const Exception& failure) {
    GTEST_SKIP() << failure.Message() << ": no ICMP socket may be opened here";
  }
  ping->Ping("127.0.0.1");
  EXPECT_EQ(ping->Sent, 4);
  EXPECT_EQ(ping->Lost, 0);
  EXPECT_EQ(ping->PercentLost, 0);
  for (int i = 0; i < 4; ++i) {
    TEchoReply reply = ping->GetReply(i);
    EXPECT_EQ(reply.Address, Ipv4(127, 0, 0, 1));
    EXPECT_GT(reply.TTL, 0);
    EXPECT_EQ(reply.HostName, "localhost");
  }
  EXPECT_LE(ping->MinTime, ping->MaxTime);
}

TEST_F(PingEngine, TimesOutAgainstAHostThatDropsEchoes) {
  NetworkSeams system(nullptr, nullptr);
  std::string why_not;
  bool ran = RunInPrivateNetwork(
      {{"ipv4/icmp_echo_ignore_all", "1"}},
      [] {
        TkxPing ping(true);
        ping.SetTimeout(100);
        ping.EchoCount = 2;
        auto start = std::chrono::steady_clock::now();
        ping.Ping("127.0.0.1");
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
        EXPECT_EQ(ping.Lost, 2);
        EXPECT_EQ(ping.PercentLost, 100);
        EXPECT_EQ(ping.MinTime, 0u);
      },
      why_not);
  if (!ran) GTEST_SKIP() << why_not;
}

}  // namespace
}  // namespace dunmarrow::test
