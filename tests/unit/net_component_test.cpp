// The network component layer: the cached lookups, the worker threads and the hand-over of
// their results to the thread that owns the component.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "net/internet.h"
#include "tests/unit/net_fakes.h"

namespace dunmarrow::test {
namespace {

TEST(IsDottedQuad, AcceptsFourFieldsFromZeroTo255) {
  for (const char* text : {"1.2.3.4", " 1. 2.3.4 ", "0x7f.0.0.1", "$ff.X1.+0.-0", "255.255.255.255",
                           "010.0.0.1", "0.0.0.0"}) {
    EXPECT_TRUE(IsDottedQuad(text)) << "'" << text << "'";
  }
  for (const char* text :
       {"1.2.3", "1.2.3.4.5", "1.2.3.4.", "1..2.3", "256.1.1.1", "-1.2.3.4", "a.b.c.d", "",
        "1.2.3.0x", "1.2.3.4a", "1.2.3.$100", "localhost", "1.2.3.99999999999"}) {
    EXPECT_FALSE(IsDottedQuad(text)) << "'" << text << "'";
  }
}

// Each test starts with the module's network state as a fresh load leaves it.
class HostCache : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureNetworkStarted();
    NetworkCleanup();
    NetworkStartup();
  }
  CountingResolver resolver_;
  NetworkSeams seams_{&resolver_, nullptr};
};

TEST_F(HostCache, EmptyNamesAndDottedQuadsNeverReachTheResolver) {
  EXPECT_EQ(ResolveHostAddress(""), 0u);
  EXPECT_EQ(ResolveHostAddress("10.0.0.1"), Ipv4(10, 0, 0, 1));
  EXPECT_EQ(ResolveHostAddress("010.0.0.1"), Ipv4(8, 0, 0, 1));
  EXPECT_EQ(ResolveHostAddress("255.255.255.255"), 0xFFFFFFFFu);
  // A quad with spaces passes the test but not the conversion: it is no address, not
  // 255.255.255.255.
  EXPECT_EQ(ResolveHostAddress(" 1. 2.3.4 "), 0u);
  EXPECT_EQ(resolver_.ForwardCalls(), 0);
  EXPECT_EQ(HostCacheCount(), 0u);
}

TEST_F(HostCache, NamesAreAskedInLowerCaseOnce) {
  resolver_.AddHost("db.test", "db.test", Ipv4(192, 0, 2, 5));
  EXPECT_EQ(ResolveHostAddress("DB.Test"), Ipv4(192, 0, 2, 5));
  EXPECT_EQ(ResolveHostAddress("db.test"), Ipv4(192, 0, 2, 5));
  EXPECT_EQ(ResolveHostAddress("dB.tEST"), Ipv4(192, 0, 2, 5));
  EXPECT_EQ(resolver_.ForwardNames(), std::vector<std::string>{"db.test"});
  EXPECT_EQ(HostCacheCount(), 1u);
}

TEST_F(HostCache, UnresolvedNamesAreAskedAgain) {
  EXPECT_EQ(ResolveHostAddress("no-such-host.test"), 0u);
  EXPECT_EQ(ResolveHostAddress("no-such-host.test"), 0u);
  EXPECT_EQ(resolver_.ForwardCalls(), 2);
  EXPECT_EQ(HostCacheCount(), 0u);
  EXPECT_EQ(ResolveHostName(Ipv4(192, 0, 2, 77)), "");
  EXPECT_EQ(ResolveHostName(Ipv4(192, 0, 2, 77)), "");
  EXPECT_EQ(resolver_.ReverseCalls(), 2);
  // A NUL would cut the name short: no host has such a name.
  EXPECT_EQ(ResolveHostAddress(std::string("localhost\0.evil", 15)), 0u);
  EXPECT_EQ(resolver_.ForwardCalls(), 2);
}

TEST_F(HostCache, IsFlushedWholeWhenFull) {
  for (size_t i = 0; i < kHostCacheCapacity; ++i) {
    std::string name = "h" + std::to_string(i) + ".test";
    resolver_.AddHost(name, name, Ipv4(192, 0, 2, static_cast<uint8_t>(i % 250 + 1)));
    ASSERT_NE(ResolveHostAddress(name), 0u);
  }
  EXPECT_EQ(HostCacheCount(), kHostCacheCapacity);
  EXPECT_EQ(ResolveHostAddress("h5.test"), Ipv4(192, 0, 2, 6));
  EXPECT_EQ(resolver_.ForwardCalls(), static_cast<int>(kHostCacheCapacity));
  resolver_.AddHost("one-more.test", "one-more.test", Ipv4(192, 0, 2, 251));
  EXPECT_EQ(ResolveHostAddress("one-more.test"), Ipv4(192, 0, 2, 251));
  EXPECT_EQ(HostCacheCount(), 1u);
  EXPECT_EQ(ResolveHostAddress("h5.test"), Ipv4(192, 0, 2, 6));
  EXPECT_EQ(resolver_.ForwardCalls(), static_cast<int>(kHostCacheCapacity) + 2);
}

TEST_F(HostCache, ForwardLookupsAnswerReverseOnesInTheCallersSpelling) {
  resolver_.AddHost("mail.test", "Official.Mail.Test", Ipv4(192, 0, 2, 9));
  resolver_.AddReverse(Ipv4(192, 0, 2, 9), "Official.Mail.Test");
  resolver_.AddHost("alias.test", "Official.Mail.Test", Ipv4(192, 0, 2, 9));
  ASSERT_EQ(ResolveHostAddress("MAIL.test"), Ipv4(192, 0, 2, 9));
  ASSERT_EQ(ResolveHostAddress("alias.test"), Ipv4(192, 0, 2, 9));
  // The oldest name of the address answers, lower-cased, without asking.
  EXPECT_EQ(ResolveHostName(Ipv4(192, 0, 2, 9)), "mail.test");
  EXPECT_EQ(resolver_.ReverseCalls(), 0);
}

TEST_F(HostCache, ReverseAnswersKeepTheResolversSpellingAndAnswerForwardOnes) {
  resolver_.AddReverse(Ipv4(192, 0, 2, 20), "Printer.Test");
  EXPECT_EQ(ResolveHostName(Ipv4(192, 0, 2, 20)), "Printer.Test");
  EXPECT_EQ(ResolveHostName(Ipv4(192, 0, 2, 20)), "printer.test");
  EXPECT_EQ(resolver_.ReverseCalls(), 1);
  EXPECT_EQ(ResolveHostAddress("PRINTER.test"), Ipv4(192, 0, 2, 20));
  EXPECT_EQ(resolver_.ForwardCalls(), 0);
}

TEST_F(HostCache, LocalhostThroughTheSystemResolver) {
  if (!HostsFileNamesLocalhost()) GTEST_SKIP() << "/etc/hosts does not name 127.0.0.1 localhost";
  NetworkSeams system(nullptr, nullptr);
  EXPECT_EQ(ResolveHostAddress("LocalHost"), Ipv4(127, 0, 0, 1));
  EXPECT_EQ(ResolveHostName(Ipv4(127, 0, 0, 1)), "localhost");
}

// --- Components and workers -----------------------------------------------------------------

constexpr UINT kResult = WM_USER + 50;

class RecordingComponent : public TkxInternetComponent {
 public:
  using TkxInternetComponent::TkxInternetComponent;
  ~RecordingComponent() override { StopThreads(); }

  void HandleMessage(TMessage& message) override {
    int inside = ++inside_;
    std::lock_guard<std::mutex> lock(mutex_);
    if (inside != 1) overlapped_ = true;
    if (message.Msg == kResult || message.Msg == WM_QUIT) {
      messages_.push_back(message.Msg);
      values_.push_back(static_cast<int>(message.WParam));
      threads_.push_back(GetCurrentThreadId());
    }
    if (slow_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    --inside_;
  }

  std::atomic<int> inside_{0};
  std::mutex mutex_;
  bool overlapped_ = false;
  bool slow_ = false;
  std::vector<UINT> messages_;
  std::vector<int> values_;
  std::vector<DWORD> threads_;
};

class CountingWorker : public TkxInternetComponentThread {
 public:
  CountingWorker(TkxInternetComponent* component, int id, int count,
                 std::atomic<int>* finished = nullptr)
      : TkxInternetComponentThread(component, "host"),
        id_(id),
        count_(count),
        finished_(finished) {}

  std::function<void(CountingWorker&)> before;
  bool fail = false;
  bool until_stopped = false;

 protected:
  void Run() override {
    if (before) before(*this);
    for (int i = 0; i < count_ || (until_stopped && !StopRequested()); ++i) {
      SendMessageA(Component()->WindowHandle(), kResult, static_cast<WPARAM>(id_ * 1000 + i), 0);
      if (fail && i == 0) throw std::runtime_error("worker failure");
    }
  }
  void DoFinish() override {
    if (finished_) ++*finished_;
  }

 private:
  int id_;
  int count_;
  std::atomic<int>* finished_;
};

class Components : public ::testing::Test {
 protected:
  void SetUp() override { EnsureNetworkStarted(); }
};

TEST_F(Components, HandOversRunOnTheOwnerOneAtATimeInOrder) {
  RecordingComponent component(true);
  component.slow_ = true;
  std::atomic<int> finished{0};
  std::vector<TkxInternetComponentThread*> workers;
  for (int id = 1; id <= 3; ++id)
    workers.push_back(new CountingWorker(&component, id, 20, &finished));
  component.StartThreads(workers);
  EXPECT_FALSE(component.HasThreads());
  EXPECT_EQ(finished.load(), 3);
  EXPECT_FALSE(component.overlapped_);
  ASSERT_EQ(component.values_.size(), 60u);
  for (DWORD thread : component.threads_) EXPECT_EQ(thread, GetCurrentThreadId());
  int next[4] = {0, 0, 0, 0};
  for (int value : component.values_) {
    int id = value / 1000;
    ASSERT_GE(id, 1);
    EXPECT_EQ(value % 1000, next[id]++) << "worker " << id << " out of order";
  }
}

TEST_F(Components, QuitMessagesDuringTheWaitAreDropped) {
  RecordingComponent component(true);
  auto* worker = new CountingWorker(&component, 1, 2);
  worker->before = [&](CountingWorker&) { PostMessageA(component.WindowHandle(), WM_QUIT, 0, 0); };
  component.StartThreads({worker});
  EXPECT_EQ(component.messages_, (std::vector<UINT>{kResult, kResult}));
  EXPECT_FALSE(component.HasThreads());
}

TEST_F(Components, FailuresOfAWorkerStopAtItsThread) {
  RecordingComponent component(true);
  std::atomic<int> finished{0};
  auto* worker = new CountingWorker(&component, 1, 5, &finished);
  worker->fail = true;
  component.StartThreads({worker});
  EXPECT_EQ(component.values_, std::vector<int>{1000});
  EXPECT_EQ(finished.load(), 1);
  EXPECT_FALSE(component.HasThreads());
}

TEST_F(Components, NonBlockingStartReturnsAtOnce) {
  RecordingComponent component(false);
  EXPECT_FALSE(component.HasThreads());
  std::atomic<bool> release{false};
  auto* worker = new CountingWorker(&component, 1, 1);
  worker->before = [&](CountingWorker&) {
    while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  component.StartThreads({worker});
  EXPECT_TRUE(component.HasThreads());
  release = true;
  while (component.HasThreads()) ProcessOneMessage();
  EXPECT_EQ(component.values_, std::vector<int>{1000});
}

TEST_F(Components, DestroyingAComponentStopsItsWorkers) {
  std::atomic<int> finished{0};
  {
    RecordingComponent component(false);
    auto* worker = new CountingWorker(&component, 1, 0, &finished);
    worker->until_stopped = true;
    component.StartThreads({worker});
    while (component.values_.size() < 5) {
      if (!ProcessOneMessage()) WaitMessage();
    }
    // The worker is now blocked in a hand-over, or about to be: the destructor lets it go.
  }
  EXPECT_EQ(finished.load(), 1);
}

TEST_F(Components, UnstartedWorkersEndWithoutRunning) {
  RecordingComponent component(true);
  std::atomic<int> finished{0};
  std::atomic<bool> ran{false};
  auto* worker = new CountingWorker(&component, 1, 1, &finished);
  worker->before = [&](CountingWorker&) { ran = true; };
  ASSERT_TRUE(worker->SetFreeOnEnd(false));
  delete worker;
  EXPECT_FALSE(ran.load());
  EXPECT_EQ(finished.load(), 0);
}

}  // namespace
}  // namespace dunmarrow::test
