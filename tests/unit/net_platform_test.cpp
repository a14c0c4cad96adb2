// The Linux stand-ins of Windows Sockets, the ICMP service, threads and window messages.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/windows.h"
#include "tests/unit/net_fakes.h"

namespace dunmarrow::test {
namespace {

std::string Dotted(ULONG address) {
  in_addr a;
  a.s_addr = address;
  return inet_ntoa(a);
}

// --- Address conversions --------------------------------------------------------------------

TEST(InetAddr, ReadsOneToFourPartsInEveryBase) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"127.0.0.1", "127.0.0.1"},
      {"010.0.0.1", "8.0.0.1"},
      {"0x7f.0.0.1", "127.0.0.1"},
      {"0X7F.0.0.0x1", "127.0.0.1"},
      {"1.2.3", "1.2.0.3"},
      {"1.65536", "1.1.0.0"},
      {"16909060", "1.2.3.4"},
      {"0", "0.0.0.0"},
      {"1.2.3.4 trailing", "1.2.3.4"},
      {"0.0.0.0", "0.0.0.0"},
      {"1.2.3.4\v", "1.2.3.4"},
      {"1.2.3.4\f", "1.2.3.4"},
      {" ", "0.0.0.0"},  // exactly one space reads as address 0, as on Windows
  };
  for (const auto& [text, dotted] : cases) EXPECT_EQ(Dotted(inet_addr(text)), dotted) << text;
}

TEST(InetAddr, RejectsWhatIsNoAddress) {
  for (const char* text : {"",           "255.255.255.255",
                           "256.1.1.1",  "1.2.3.4.5",
                           "1.2.3.256",  "08.1.1.1",
                           "1.2.3.4x",   "a.b.c.d",
                           "1..2.3",     "1.2.3.",
                           "-1.2.3.4",   " 1.2.3.4",
                           "4294967296", "1.0x1000000",
                           "localhost",  "  ",
                           "\t",         " 1",
                           "0x",         "0X.1",
                           "1.0x"}) {
    EXPECT_EQ(inet_addr(text), INADDR_NONE) << "'" << text << "'";
  }
  EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);
}

TEST(InetNtoa, WritesFourDecimalFieldsPerThread) {
  EXPECT_STREQ(inet_ntoa(in_addr{Ipv4(10, 0, 200, 7)}), "10.0.200.7");
  char* mine = inet_ntoa(in_addr{Ipv4(1, 2, 3, 4)});
  std::thread other([] { inet_ntoa(in_addr{Ipv4(255, 255, 255, 255)}); });
  other.join();
  EXPECT_STREQ(mine, "1.2.3.4");
}

// --- Start-up and the resolver calls --------------------------------------------------------

TEST(WinSock, StartUpGrantsTheVersionsWindowsGrants) {
  const std::vector<std::pair<WORD, WORD>> granted = {
      {MAKEWORD(1, 0), MAKEWORD(1, 0)}, {MAKEWORD(1, 1), MAKEWORD(1, 1)},
      {MAKEWORD(1, 2), MAKEWORD(1, 1)}, {MAKEWORD(1, 9), MAKEWORD(1, 1)},
      {MAKEWORD(2, 0), MAKEWORD(2, 0)}, {MAKEWORD(2, 1), MAKEWORD(2, 1)},
      {MAKEWORD(2, 2), MAKEWORD(2, 2)}, {MAKEWORD(2, 3), MAKEWORD(2, 2)},
      {MAKEWORD(3, 0), MAKEWORD(2, 2)}, {MAKEWORD(255, 255), MAKEWORD(2, 2)},
  };
  for (const auto& [asked, version] : granted) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(asked, &data), 0) << std::hex << asked;
    EXPECT_EQ(data.wVersion, version) << std::hex << asked;
    EXPECT_EQ(data.wHighVersion, MAKEWORD(2, 2));
    EXPECT_EQ(WSACleanup(), 0);
  }
  WSADATA data;
  EXPECT_EQ(WSAStartup(MAKEWORD(0, 0), &data), WSAVERNOTSUPPORTED);
  EXPECT_EQ(WSAStartup(MAKEWORD(0, 2), &data), WSAVERNOTSUPPORTED);
  EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), nullptr), WSAEFAULT);
}

TEST(WinSock, ResolverCallsFailUntilStarted) {
  CountingResolver resolver;
  NetworkSeams seams(&resolver, nullptr);
  int started = 0;
  while (WSACleanup() == 0) ++started;  // other start-ups of this process, given back below
  EXPECT_EQ(gethostbyname("localhost"), nullptr);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 2), &data), 0);
  EXPECT_NE(gethostbyname("localhost"), nullptr);
  EXPECT_EQ(resolver.ForwardCalls(), 1);
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_EQ(WSACleanup(), -1);
  for (int i = 0; i < started; ++i) WSAStartup(MAKEWORD(1, 2), &data);
}

class ResolverCalls : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(WSAStartup(MAKEWORD(1, 2), &data_), 0); }
  void TearDown() override { WSACleanup(); }
  WSADATA data_;
};

TEST_F(ResolverCalls, ForwardEntryHasWindowsLayoutAndThreadStorage) {
  CountingResolver resolver;
  resolver.AddHost("db.test", "DB.Test.Example", Ipv4(192, 0, 2, 10));
  NetworkSeams seams(&resolver, nullptr);
  hostent* entry = gethostbyname("db.test");
  ASSERT_NE(entry, nullptr);
  EXPECT_STREQ(entry->h_name, "DB.Test.Example");
  EXPECT_EQ(entry->h_addrtype, AF_INET);
  EXPECT_EQ(entry->h_length, 4);
  ASSERT_NE(entry->h_addr_list[0], nullptr);
  EXPECT_EQ(std::memcmp(entry->h_addr_list[0], "\xC0\x00\x02\x0A", 4), 0);
  EXPECT_EQ(entry->h_addr_list[1], nullptr);
  EXPECT_EQ(entry->h_aliases[0], nullptr);
  // Another thread's lookup does not touch this thread's entry.
  std::thread other([] { gethostbyname("localhost"); });
  other.join();
  EXPECT_STREQ(entry->h_name, "DB.Test.Example");

  EXPECT_EQ(gethostbyname("unknown.test"), nullptr);
  EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
  EXPECT_EQ(gethostbyname(std::string(256, 'a').c_str()), nullptr);
  EXPECT_EQ(resolver.ForwardCalls(), 3);  // the overlong name was not asked about
}

// Names under the reserved domain "invalid" exist nowhere: no resolver is asked about them.
// Names that only contain the word, or end in it without a dot before, are asked as usual.
TEST_F(ResolverCalls, ReservedInvalidDomainIsAnsweredWithoutAResolver) {
  CountingResolver resolver;
  resolver.AddHost("invalid.test", "invalid.test", Ipv4(192, 0, 2, 1));
  resolver.AddHost("notinvalid", "notinvalid", Ipv4(192, 0, 2, 2));
  NetworkSeams seams(&resolver, nullptr);
  for (const char* name :
       {"no-such-host.invalid", "invalid", "INVALID", "a.b.Invalid", "host.invalid.", "invalid."}) {
    SetLastError(0);
    EXPECT_EQ(gethostbyname(name), nullptr) << name;
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND) << name;
  }
  EXPECT_EQ(resolver.ForwardCalls(), 0);
  EXPECT_NE(gethostbyname("invalid.test"), nullptr);
  EXPECT_NE(gethostbyname("notinvalid"), nullptr);
  EXPECT_EQ(gethostbyname("invalid.example"), nullptr);
  EXPECT_EQ(resolver.ForwardNames(),
            (std::vector<std::string>{"invalid.test", "notinvalid", "invalid.example"}));
}

TEST_F(ResolverCalls, ReverseEntryCarriesTheAddress) {
  CountingResolver resolver;
  NetworkSeams seams(&resolver, nullptr);
  uint32_t loopback = Ipv4(127, 0, 0, 1);
  hostent* entry = gethostbyaddr(reinterpret_cast<const char*>(&loopback), 4, AF_INET);
  ASSERT_NE(entry, nullptr);
  EXPECT_STREQ(entry->h_name, "localhost");
  EXPECT_EQ(std::memcmp(entry->h_addr_list[0], &loopback, 4), 0);
  uint32_t unnamed = Ipv4(192, 0, 2, 99);
  EXPECT_EQ(gethostbyaddr(reinterpret_cast<const char*>(&unnamed), 4, AF_INET), nullptr);
  EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
  EXPECT_EQ(gethostbyaddr(reinterpret_cast<const char*>(&loopback), 4, 23), nullptr);
  EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
  EXPECT_EQ(gethostbyaddr(reinterpret_cast<const char*>(&loopback), 3, AF_INET), nullptr);
  EXPECT_EQ(resolver.ReverseCalls(), 2);
}

// The system resolver, for the loopback names only: they come from the hosts file.
TEST_F(ResolverCalls, SystemResolverKnowsLocalhostBothWays) {
  if (!HostsFileNamesLocalhost()) GTEST_SKIP() << "/etc/hosts does not name 127.0.0.1 localhost";
  NetworkSeams seams(nullptr, nullptr);
  hostent* entry = gethostbyname("localhost");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(std::memcmp(entry->h_addr_list[0], "\x7F\x00\x00\x01", 4), 0);
  uint32_t loopback = Ipv4(127, 0, 0, 1);
  entry = gethostbyaddr(reinterpret_cast<const char*>(&loopback), 4, AF_INET);
  ASSERT_NE(entry, nullptr);
  EXPECT_GT(std::strlen(entry->h_name), 0u);
}

// --- Threads --------------------------------------------------------------------------------

DWORD WINAPI CountUp(LPVOID parameter) {
  static_cast<std::atomic<int>*>(parameter)->fetch_add(1);
  return 42;
}

TEST(Threads, SuspendedThreadRunsOnlyWhenResumed) {
  std::atomic<int> runs{0};
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, CountUp, &runs, CREATE_SUSPENDED, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  EXPECT_EQ(runs.load(), 0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(runs.load(), 1);
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(ResumeThread(thread), 0u);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
  EXPECT_FALSE(CloseHandle(thread));
}

// --- Window messages ------------------------------------------------------------------------

struct WindowLog {
  std::vector<UINT> messages;
  std::vector<DWORD> threads;
};

LRESULT CALLBACK LoggingProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* log = reinterpret_cast<WindowLog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!log) return DefWindowProcA(window, message, wparam, lparam);
  log->messages.push_back(message);
  log->threads.push_back(GetCurrentThreadId());
  return static_cast<LRESULT>(wparam * 2);
}

HINSTANCE TestInstance() {
  return reinterpret_cast<HINSTANCE>(&LoggingProcedure);
}

class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = LoggingProcedure;
    window_class.hInstance = TestInstance();
    window_class.lpszClassName = "TestLogWindow";
    RegisterClassA(&window_class);
    window_ = CreateWindowExA(0, "testlogwindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              TestInstance(), nullptr);
    ASSERT_NE(window_, nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&log_));
  }
  void TearDown() override {
    if (window_) DestroyWindow(window_);
    UnregisterClassA("TestLogWindow", TestInstance());
  }
  HWND window_ = nullptr;
  WindowLog log_;
};

TEST_F(Messages, ClassesAreToldApartByNameAndInstance) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = LoggingProcedure;
  window_class.hInstance = TestInstance();
  window_class.lpszClassName = "TESTLOGWINDOW";
  EXPECT_EQ(RegisterClassA(&window_class), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
  window_class.hInstance = nullptr;
  EXPECT_NE(RegisterClassA(&window_class), 0);
  EXPECT_TRUE(UnregisterClassA("TestLogWindow", nullptr));
  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            TestInstance(), nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
}

TEST_F(Messages, SentFromAnotherThreadWaitsForTheOwnersPeek) {
  std::atomic<bool> returned{false};
  LRESULT result = 0;
  std::thread sender([&] {
    result = SendMessageA(window_, WM_USER + 7, 21, 0);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(returned.load()) << "the sender must wait until the owner takes its messages";
  EXPECT_TRUE(log_.messages.empty());
  MSG message;
  while (!returned.load()) {
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));  // sent, not posted
    std::this_thread::yield();
  }
  sender.join();
  EXPECT_EQ(result, 42);
  ASSERT_EQ(log_.messages.size(), 1u);
  EXPECT_EQ(log_.messages[0], WM_USER + 7);
  EXPECT_EQ(log_.threads[0], GetCurrentThreadId());
}

TEST_F(Messages, SentOnTheOwningThreadIsHandledAtOnce) {
  EXPECT_EQ(SendMessageA(window_, WM_USER, 5, 0), 10);
  EXPECT_EQ(log_.messages, std::vector<UINT>{WM_USER});
}

TEST_F(Messages, DestroyingTheWindowReleasesTheSenderUnhandled) {
  std::atomic<bool> returned{false};
  std::thread sender([&] {
    EXPECT_EQ(SendMessageA(window_, WM_USER + 1, 1, 0), 0);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(returned.load());
  log_.messages.clear();
  HWND gone = window_;
  ASSERT_TRUE(DestroyWindow(window_));
  window_ = nullptr;
  sender.join();
  EXPECT_EQ(log_.messages, (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
  // Later hand-overs fail at once.
  std::thread late([&] {
    EXPECT_EQ(SendMessageA(gone, WM_USER + 2, 1, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(PostMessageA(gone, WM_USER + 3, 0, 0));
  });
  late.join();
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Messages, PostedMessagesComeInOrderAndDispatchToTheirWindow) {
  ASSERT_TRUE(PostMessageA(window_, WM_USER + 1, 1, 0));
  ASSERT_TRUE(PostMessageA(window_, WM_QUIT, 0, 0));
  ASSERT_TRUE(PostMessageA(window_, WM_USER + 2, 2, 0));
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(message.message, WM_USER + 1);
  std::vector<UINT> taken;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    taken.push_back(message.message);
    EXPECT_EQ(message.hwnd, window_);
    DispatchMessageA(&message);
  }
  EXPECT_EQ(taken, (std::vector<UINT>{WM_USER + 1, WM_QUIT, WM_USER + 2}));
  EXPECT_EQ(log_.messages, taken);
  // Another thread may not dispatch to this thread's window.
  ASSERT_TRUE(PostMessageA(window_, WM_USER + 4, 0, 0));
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  std::thread other([&] {
    EXPECT_EQ(DispatchMessageA(&message), 0);
    EXPECT_EQ(GetLastError(), ERROR_WINDOW_OF_OTHER_THREAD);
  });
  other.join();
  EXPECT_EQ(log_.messages.size(), 3u);
}

TEST_F(Messages, WaitMessageSleepsUntilSomethingArrives) {
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  std::atomic<bool> posted{false};
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    posted = true;
    PostMessageA(window_, WM_USER + 9, 0, 0);
  });
  ASSERT_TRUE(WaitMessage());
  EXPECT_TRUE(posted.load());
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, WM_USER + 9);
  poster.join();
  // A message sent from another thread wakes the wait too.
  std::thread sender([&] { SendMessageA(window_, WM_USER + 10, 0, 0); });
  ASSERT_TRUE(WaitMessage());
  PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);
  sender.join();
  EXPECT_EQ(log_.messages.back(), WM_USER + 10);
}

// --- The ICMP service -----------------------------------------------------------------------

constexpr DWORD kReplySize = sizeof(ICMP_ECHO_REPLY) + 32 + 8;

// Nothing is sent to 0.0.0.0, to the broadcast address or to a multicast group; the
// neighbours of those ranges are ordinary addresses.
TEST(IcmpService, AddressZeroBroadcastAndMulticastSendNothing) {
  ScriptedIcmpService service;
  service.Script({}, Reply(1));
  NetworkSeams seams(nullptr, &service);
  HANDLE icmp = IcmpCreateFile();
  ASSERT_NE(icmp, INVALID_HANDLE_VALUE);
  unsigned char data[32] = {};
  unsigned char reply[kReplySize];
  for (IPAddr address :
       {IPAddr{0}, Ipv4(255, 255, 255, 255), Ipv4(224, 0, 0, 1), Ipv4(239, 255, 255, 250)}) {
    EXPECT_EQ(IcmpSendEcho(icmp, address, data, 32, nullptr, reply, kReplySize, 5000), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(IP_GENERAL_FAILURE));
  }
  EXPECT_TRUE(service.Requests().empty());
  for (IPAddr address : {Ipv4(223, 255, 255, 255), Ipv4(240, 0, 0, 1), Ipv4(127, 255, 255, 255)}) {
    EXPECT_EQ(IcmpSendEcho(icmp, address, data, 32, nullptr, reply, kReplySize, 5000), 1u);
  }
  EXPECT_EQ(service.Requests().size(), 3u);
  EXPECT_EQ(IcmpSendEcho(icmp, Ipv4(127, 0, 0, 1), data, 32, nullptr, reply, 40, 5000), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(IP_BUF_TOO_SMALL));
  EXPECT_EQ(IcmpSendEcho(icmp, Ipv4(127, 0, 0, 1), data, 32, nullptr, reply, kReplySize, 77), 1u);
  ASSERT_EQ(service.Requests().size(), 4u);
  EXPECT_EQ(service.Requests()[3].timeout, 77u);
  EXPECT_TRUE(IcmpCloseHandle(icmp));
  EXPECT_FALSE(IcmpCloseHandle(icmp));
  EXPECT_EQ(IcmpSendEcho(icmp, Ipv4(127, 0, 0, 1), data, 32, nullptr, reply, kReplySize, 5), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// One echo to 127.0.0.1 through the kernel; the reply record as Windows fills it.
void ExpectLoopbackEcho() {
  HANDLE icmp = IcmpCreateFile();
  if (icmp == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no ICMP socket may be opened here";
  unsigned char data[32];
  for (int i = 0; i < 32; ++i) data[i] = static_cast<unsigned char>(i * 7);
  alignas(ICMP_ECHO_REPLY) unsigned char reply[kReplySize];
  ASSERT_EQ(IcmpSendEcho(icmp, Ipv4(127, 0, 0, 1), data, 32, nullptr, reply, kReplySize, 3000), 1u);
  const auto* record = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply);
  EXPECT_EQ(record->Address, Ipv4(127, 0, 0, 1));
  EXPECT_EQ(record->Status, static_cast<ULONG>(IP_SUCCESS));
  EXPECT_GT(record->Options.Ttl, 0);
  EXPECT_LT(record->RoundTripTime, 3000u);
  ASSERT_EQ(record->DataSize, 32);
  EXPECT_EQ(record->Data, reply + sizeof(ICMP_ECHO_REPLY));
  EXPECT_EQ(std::memcmp(record->Data, data, 32), 0);
  EXPECT_TRUE(IcmpCloseHandle(icmp));
}

TEST(IcmpService, EchoesLoopback) {
  NetworkSeams seams(nullptr, nullptr);
  ExpectLoopbackEcho();
}

// The kernel's unprivileged ICMP datagram sockets, allowed for everyone in a namespace of our
// own; the TTL then comes as ancillary data rather than in the IP header.
TEST(IcmpService, EchoesLoopbackOverDatagramSockets) {
  NetworkSeams seams(nullptr, nullptr);
  std::string why_not;
  if (!RunInPrivateNetwork({{"ipv4/ping_group_range", "0 2147483647"}}, ExpectLoopbackEcho,
                           why_not)) {
    GTEST_SKIP() << why_not;
  }
}

TEST(IcmpService, TimesOutAgainstAHostThatDropsEchoes) {
  NetworkSeams seams(nullptr, nullptr);
  std::string why_not;
  bool ran = RunInPrivateNetwork(
      {{"ipv4/icmp_echo_ignore_all", "1"}},
      [] {
        HANDLE icmp = IcmpCreateFile();
        if (icmp == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no ICMP socket may be opened here";
        unsigned char data[32] = {};
        unsigned char reply[kReplySize];
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(IcmpSendEcho(icmp, Ipv4(127, 0, 0, 1), data, 32, nullptr, reply, kReplySize, 150),
                  0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(IP_REQ_TIMED_OUT));
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
        IcmpCloseHandle(icmp);
      },
      why_not);
  if (!ran) GTEST_SKIP() << why_not;
}

}  // namespace
}  // namespace dunmarrow::test
