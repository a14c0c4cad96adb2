// xp_Ping, xp_GetAddrByHost and xp_GetHostByAddr end to end through the ODS library. Echoes
// and lookups are scripted, except for the loopback cases.
#include "net/internet.h"
#include "tests/unit/call_helpers.h"
#include "tests/unit/net_fakes.h"
#include "tests/unit/procedures.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;
using Lines = std::vector<std::string>;

// Text as the result set carries it: UTF-16LE.
std::string WideHex(const std::string& ascii) {
  std::string wide;
  for (char c : ascii) {
    wide += c;
    wide += '\0';
  }
  return Hex(wide);
}

std::string IntHex(int32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i)
    bytes[i] = static_cast<char>((static_cast<uint32_t>(value) >> (8 * i)) & 0xFF);
  return Hex(bytes);
}

const Lines kPingColumns = {
    "describe 1 \"Address\" type=0xE7 len=70 srctype=0xE7 srclen=0",
    "describe 2 \"Time\" type=0x26 len=4 srctype=0x26 srclen=0",
    "describe 3 \"TTL\" type=0x26 len=4 srctype=0x26 srclen=0",
};

Lines AnsweredRow(const std::string& address, int32_t time, int32_t ttl) {
  std::string text = WideHex(address);
  return {"setcollen 1 " + std::to_string(address.size() * 2),
          "setcoldata 1 " + text,
          "setcollen 2 4",
          "setcoldata 2 " + IntHex(time),
          "setcollen 3 4",
          "setcoldata 3 " + IntHex(ttl),
          "sendrow " + text + " " + IntHex(time) + " " + IntHex(ttl)};
}

Lines TimedOutRow() {
  std::string text = WideHex("Request timed out");
  return {"setcollen 1 34",
          "setcoldata 1 " + text,
          "setcollen 2 0",
          "setcoldata 2 none",
          "setcollen 3 0",
          "setcoldata 3 none",
          "sendrow " + text + " NULL NULL"};
}

Lines Concat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The six statistics as named OUTPUT parameters after the others.
std::vector<ods::Param> WithStatistics(std::vector<ods::Param> params) {
  for (const char* name :
       {"@MinTime", "@MaxTime", "@AvgTime", "@TotalTime", "@LostPackets", "@PercentLost"}) {
    params.push_back(Named(name, Output(Null(SRVINTN, 4))));
  }
  return params;
}

Lines Statistics(int first, std::initializer_list<int32_t> values) {
  Lines lines;
  for (int32_t value : values)
    lines.push_back("paramsetoutput " + std::to_string(first++) + " " + IntHex(value));
  return lines;
}

Lines AddressOut(const std::string& dotted) {
  return {kDone, "paramsetoutput 2 " + Hex(dotted)};
}

class NetProcedures : public DriveRootTest {
 protected:
  void SetUp() override {
    DriveRootTest::SetUp();
    EnsureNetworkStarted();
    NetworkCleanup();
    NetworkStartup();
    resolver_.AddHost("echo.test", "echo.test", Ipv4(192, 0, 2, 33));
  }
  CountingResolver resolver_;
  ScriptedIcmpService service_;
  NetworkSeams seams_{&resolver_, &service_};
};

// --- xp_Ping --------------------------------------------------------------------------------

TEST_F(NetProcedures, PingRowsAndStatistics) {
  service_.Script({Reply(10, 64), Reply(20, 63), Reply(30, 62), Reply(41, 61)});
  CallResult result = Call(xp_Ping, WithStatistics({VarChar("echo.test"), Int(-1), Int(-1)}));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), Concat({kPingColumns,
                                         AnsweredRow("192.0.2.33", 10, 64),
                                         AnsweredRow("192.0.2.33", 20, 63),
                                         AnsweredRow("192.0.2.33", 30, 62),
                                         AnsweredRow("192.0.2.33", 41, 61),
                                         {"senddone status=0x0011 info=0 count=4", kDone},
                                         Statistics(4, {10, 41, 25, 101, 0, 0})}));
  auto requests = service_.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].timeout, 3000u);
  EXPECT_EQ(requests[0].size, 32u);
}

TEST_F(NetProcedures, PingOfAnUnresolvableHostTimesOutAtOnce) {
  // A name the resolver does not know, and one under the reserved domain "invalid", which no
  // resolver is asked about; neither is sent anything.
  for (const char* host : {"no-such-host.test", "no-such-host.invalid"}) {
    CallResult result = Call(xp_Ping, WithStatistics({VarChar(host), Int(100), Int(2)}));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.Transcript(), Concat({kPingColumns,
                                           TimedOutRow(),
                                           TimedOutRow(),
                                           {"senddone status=0x0011 info=0 count=2", kDone},
                                           Statistics(4, {0, 0, 0, 0, 2, 100})}))
        << host;
  }
  EXPECT_TRUE(service_.Requests().empty());
  EXPECT_EQ(resolver_.ForwardNames(), Lines{"no-such-host.test"});
}

TEST_F(NetProcedures, PingAveragesHalvesToEven) {
  service_.Script({Reply(1), NoReply(), Reply(4), NoReply()});
  CallResult result = Call(xp_Ping, WithStatistics({NVarChar(u"Echo.Test"), Int(250)}));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), Concat({kPingColumns,
                                         AnsweredRow("192.0.2.33", 1, 64),
                                         TimedOutRow(),
                                         AnsweredRow("192.0.2.33", 4, 64),
                                         TimedOutRow(),
                                         {"senddone status=0x0011 info=0 count=4", kDone},
                                         Statistics(3, {1, 4, 2, 5, 2, 50})}));
  EXPECT_EQ(service_.Requests()[0].timeout, 250u);
}

TEST_F(NetProcedures, PingRangeFailuresComeBeforeAnyRow) {
  for (const auto& params : std::vector<std::vector<ods::Param>>{
           {VarChar("echo.test"), Int(-2)},
           {VarChar("echo.test"), Int(100), Int(0)},
           {VarChar("echo.test"), Int(100), Int(-2)},
       }) {
    CallResult result = Call(xp_Ping, params);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.Transcript(), ContextFailure("xp_Ping: Range check error"));
  }
  EXPECT_TRUE(service_.Requests().empty());
  EXPECT_NE(ReadLog().find("xp_Ping: Range check error (Runtime Addr: $"), std::string::npos);
}

TEST_F(NetProcedures, PingWithoutATextHostFails) {
  for (const auto& params :
       std::vector<std::vector<ods::Param>>{{}, {Int(1)}, {Null(SRVINTN, 4)}}) {
    CallResult result = Call(xp_Ping, params);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.Transcript(), ContextFailure("xp_Ping: Invalid list of parameters."));
  }
}

TEST_F(NetProcedures, PingOfANullOrEmptyHostTimesOut) {
  for (const auto& host : {Null(SRVBIGVARCHAR, 10), VarChar(""), NVarChar(u"")}) {
    CallResult result = Call(xp_Ping, {host, Int(10), Int(1)});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(
        result.Transcript(),
        Concat({kPingColumns, TimedOutRow(), {"senddone status=0x0011 info=0 count=1", kDone}}));
  }
  EXPECT_EQ(resolver_.ForwardCalls(), 0);
  EXPECT_TRUE(service_.Requests().empty());
}

TEST_F(NetProcedures, PingReadsOnlyUnnamedNumbersAsTimeLimitAndCount) {
  // A NULL time limit reads as 0; a named one is ignored; -1 asks for the default.
  Call(xp_Ping, {VarChar("echo.test"), Null(SRVINTN, 4), Int(1)});
  Call(xp_Ping, {VarChar("echo.test"), Named("@Timeout", Int(100)), Int(1)});
  Call(xp_Ping, {VarChar("echo.test"), Output(Null(SRVINTN, 4)), Int(1)});
  Call(xp_Ping, {VarChar("echo.test"), VarChar("100"), Int(1)});
  Call(xp_Ping, {VarChar("echo.test"), Int(7), Named("@Count", Int(1))});
  auto requests = service_.Requests();
  ASSERT_EQ(requests.size(), 8u);
  EXPECT_EQ(requests[0].timeout, 0u);
  EXPECT_EQ(requests[1].timeout, 3000u);
  EXPECT_EQ(requests[2].timeout, 0u);  // an unnamed OUTPUT variable at position 2
  EXPECT_EQ(requests[3].timeout, 3000u);
  for (size_t i = 4; i < 8; ++i) EXPECT_EQ(requests[i].timeout, 7u);  // the default count
}

TEST_F(NetProcedures, PingStatisticsGoOnlyToIntegerParametersFoundByName) {
  service_.Script({}, Reply(3));
  CallResult result =
      Call(xp_Ping, {Named("@mintime", Output(Null(SRVINTN, 4))), VarChar("x"),
                     Named("@MaxTime", Output(VarChar("keep", 10))), Output(Null(SRVINTN, 4))});
  // The host must come first: an OUTPUT integer at position 1 is no host.
  EXPECT_EQ(result.status, -1);
  result = Call(xp_Ping, {VarChar("echo.test"), Int(5), Int(2),
                          Named("@MaxTime", Output(VarChar("keep", 10))),
                          Named("@mintime", Output(Int(99))), Output(Int(123))});
  EXPECT_EQ(result.status, 1);
  Lines lines = result.Transcript();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
            (Lines{"paramsetoutput 4 " + Hex("keep"), "paramsetoutput 5 " + IntHex(3),
                   "paramsetoutput 6 " + IntHex(123)}));
}

TEST_F(NetProcedures, OverlongHostNamesAreNoHosts) {
  std::string name(8001, 'h');
  CallResult result = Call(xp_Ping, {VarCharMax(name), Int(5), Int(1)});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(
      result.Transcript(),
      Concat({kPingColumns, TimedOutRow(), {"senddone status=0x0011 info=0 count=1", kDone}}));
  result =
      Call(xp_GetAddrByHost, {NVarCharMax(std::u16string(4001, u'h')), Output(VarChar("", 20))});
  EXPECT_EQ(result.Transcript(), AddressOut("0.0.0.0"));
  // No resolver is asked about a name longer than any host name.
  EXPECT_EQ(resolver_.ForwardCalls(), 0);
  EXPECT_TRUE(service_.Requests().empty());
}

// No echo goes to 0.0.0.0, to the broadcast address or to a multicast group, whatever the
// caller passes: quads that are no valid address (which inet_addr answers with 255.255.255.255)
// are not found, and such addresses given or resolved time out without an echo.
TEST_F(NetProcedures, PingSendsNothingToBroadcastMulticastOrInvalidQuads) {
  resolver_.AddHost("group.test", "group.test", Ipv4(224, 0, 0, 251));
  service_.Script({}, Reply(1));
  for (const char* host :
       {"127.0.0.08", "127. 0. 0. 1", "+127.0.0.1", "$7f.0.0.1", "255.255.255.255",
        "0xff.0xff.0xff.0xff", "224.0.0.1", "239.1.2.3", "0.0.0.0", "group.test"}) {
    CallResult result = Call(xp_Ping, WithStatistics({VarChar(host), Int(5), Int(1)}));
    EXPECT_EQ(result.status, 1) << host;
    EXPECT_EQ(result.Transcript(), Concat({kPingColumns,
                                           TimedOutRow(),
                                           {"senddone status=0x0011 info=0 count=1", kDone},
                                           Statistics(4, {0, 0, 0, 0, 1, 100})}))
        << host;
  }
  EXPECT_TRUE(service_.Requests().empty());
  EXPECT_EQ(Call(xp_GetAddrByHost, {VarChar("127.0.0.08"), Output(VarChar("", 20))}).Transcript(),
            AddressOut("0.0.0.0"));
}

// The time limit and the count may come as other numbers: they count by their whole value.
// A value that is not whole fails before anything is sent.
TEST_F(NetProcedures, PingReadsNumbersOfOtherTypesByTheirValue) {
  Call(xp_Ping, {VarChar("echo.test"), Decimal(25, 5, 2), Money(20000)});
  Call(xp_Ping, {VarChar("echo.test"), Float(30), Real(1)});
  auto requests = service_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].timeout, 25u);
  EXPECT_EQ(requests[2].timeout, 30u);
  for (const auto& params : std::vector<std::vector<ods::Param>>{
           {VarChar("echo.test"), Float(2.5)},
           {VarChar("echo.test"), Int(5), Money(15000)},
           {VarChar("echo.test"), Int(5), Decimal(4294967297.0, 10, 0)},
       }) {
    CallResult result = Call(xp_Ping, params);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.Transcript(), ContextFailure("xp_Ping: Range check error"));
  }
  EXPECT_EQ(service_.Requests().size(), 3u);
}

// The replies of one call take at most 64 MiB: a count whose table would take more fails with
// "Out of memory" before anything is sent (35,000,000 echoes would take gigabytes).
TEST_F(NetProcedures, PingCountsBeyondTheReplyMemoryFailAtOnce) {
  for (int32_t count : {35000000, 2000000}) {
    CallResult result = Call(xp_Ping, {VarChar("echo.test"), Int(1), Int(count)});
    EXPECT_EQ(result.status, -1) << count;
    EXPECT_EQ(result.Transcript(), ContextFailure("xp_Ping: Out of memory")) << count;
  }
  EXPECT_TRUE(service_.Requests().empty());
}

TEST_F(NetProcedures, PingsLoopback) {
  if (!HostsFileNamesLocalhost()) GTEST_SKIP() << "/etc/hosts does not name 127.0.0.1 localhost";
  NetworkSeams system(nullptr, nullptr);
  CallResult result = Call(xp_Ping, WithStatistics({VarChar("127.0.0.1")}));
  if (result.status == -1 && !result.events.empty() &&
      result.Transcript().back().find("IcmpCreateFile failed") != std::string::npos) {
    GTEST_SKIP() << "no ICMP socket may be opened here";
  }
  ASSERT_EQ(result.status, 1);
  int rows = 0;
  for (const auto& event : result.events) {
    if (event.kind != ods::EventKind::SendRow) continue;
    ++rows;
    ASSERT_EQ(event.row.size(), 3u);
    ASSERT_TRUE(event.row[0] && event.row[1] && event.row[2]);
    EXPECT_EQ(std::string(event.row[0]->begin(), event.row[0]->end()), std::string("1\0"
                                                                                   "2\0"
                                                                                   "7\0.\0"
                                                                                   "0\0.\0"
                                                                                   "0\0.\0"
                                                                                   "1\0",
                                                                                   18));
    EXPECT_GT((*event.row[2])[0], 0);  // the TTL
  }
  EXPECT_EQ(rows, 4);
  Lines lines = result.Transcript();
  EXPECT_EQ(lines[lines.size() - 2], "paramsetoutput 6 " + IntHex(0));  // @LostPackets
  EXPECT_EQ(lines[lines.size() - 1], "paramsetoutput 7 " + IntHex(0));  // @PercentLost
}

// --- xp_GetAddrByHost -----------------------------------------------------------------------

TEST_F(NetProcedures, AddrByHostResolvesNamesOnceAndQuadsWithout) {
  CallResult result = Call(xp_GetAddrByHost, {VarChar("LocalHost"), Output(VarChar("", 20))});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), AddressOut("127.0.0.1"));
  result = Call(xp_GetAddrByHost, {NVarChar(u"localhost"), Output(VarChar("", 20))});
  EXPECT_EQ(result.Transcript(), AddressOut("127.0.0.1"));
  EXPECT_EQ(resolver_.ForwardCalls(), 1);

  EXPECT_EQ(Call(xp_GetAddrByHost, {VarChar("010.0.0.1"), Output(VarChar("", 20))}).Transcript(),
            AddressOut("8.0.0.1"));
  EXPECT_EQ(
      Call(xp_GetAddrByHost, {VarChar("255.255.255.255"), Output(VarChar("", 20))}).Transcript(),
      AddressOut("255.255.255.255"));
  EXPECT_EQ(resolver_.ForwardCalls(), 1);

  result = Call(xp_GetAddrByHost, {VarChar("no-such-host.invalid"), Output(NVarChar(u"", 20))});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), (Lines{kDone, "paramsetoutput 2 " + WideHex("0.0.0.0")}));
}

TEST_F(NetProcedures, AddrByHostNeedsTwoTexts) {
  for (const auto& params : std::vector<std::vector<ods::Param>>{
           {VarChar("localhost")}, {VarChar("localhost"), Output(Int(0))}, {Int(1), VarChar("")}}) {
    CallResult result = Call(xp_GetAddrByHost, params);
    EXPECT_EQ(result.status, -1);
    Lines expected = ContextFailure("xp_GetAddrByHost: Invalid list of parameters.");
    if (params.size() == 2 && params[1].is_output) {
      expected.insert(expected.begin() + 1, "paramsetoutput 2 " + IntHex(0));
    }
    EXPECT_EQ(result.Transcript(), expected);
  }
  EXPECT_EQ(resolver_.ForwardCalls(), 0);
}

// --- xp_GetHostByAddr -----------------------------------------------------------------------

TEST_F(NetProcedures, HostByAddrNamesAddresses) {
  CallResult result = Call(xp_GetHostByAddr, {VarChar("127.0.0.1"), Output(VarChar("", 64))});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), (Lines{kDone, "paramsetoutput 2 " + Hex("localhost")}));
  // A valid address without a name: NULL, status 1.
  result = Call(xp_GetHostByAddr, {VarChar("192.0.2.200"), Output(VarChar("x", 64))});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), (Lines{kDone, "paramset 2 NULL"}));
  EXPECT_EQ(resolver_.ReverseCalls(), 2);
}

TEST_F(NetProcedures, HostByAddrAcceptsNoNamesOrInvalidAddresses) {
  for (const auto& address : {VarChar("255.255.255.255"), VarChar("localhost"), VarChar(""),
                              Null(SRVBIGVARCHAR, 10), NVarChar(u"1.2.3.4.5")}) {
    CallResult result = Call(xp_GetHostByAddr, {address, Output(VarChar("x", 64))});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.Transcript(), (Lines{kDone, "paramset 2 NULL"}));
  }
  EXPECT_EQ(resolver_.ForwardCalls() + resolver_.ReverseCalls(), 0);
}

TEST_F(NetProcedures, HostByAddrAnswersFromNamesResolvedBefore) {
  resolver_.AddHost("mail.test", "Official.Mail.Test", Ipv4(192, 0, 2, 9));
  resolver_.AddReverse(Ipv4(192, 0, 2, 9), "Official.Mail.Test");
  Call(xp_GetAddrByHost, {VarChar("Mail.TEST"), Output(VarChar("", 20))});
  CallResult result = Call(xp_GetHostByAddr, {NVarChar(u"192.0.2.9"), Output(NVarChar(u"", 64))});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), (Lines{kDone, "paramsetoutput 2 " + WideHex("mail.test")}));
  EXPECT_EQ(resolver_.ReverseCalls(), 0);
}

TEST_F(NetProcedures, HostByAddrSendsItsOwnErrorMessageAndLogsNothing) {
  for (const auto& params : std::vector<std::vector<ods::Param>>{
           {VarChar("127.0.0.1")}, {VarChar("127.0.0.1"), Int(5)}, {Int(1), VarChar("")}}) {
    CallResult result = Call(xp_GetHostByAddr, params);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.Transcript(),
              (Lines{"sendmsg type=2 number=50000 severity=11 state=1 line=1 \"xp_GetHostByAddr: "
                     "Invalid list of parameters.\"",
                     kDone}));
  }
  EXPECT_EQ(ReadLog(), "");
}

TEST_F(NetProcedures, LoopbackNamesThroughTheSystemResolver) {
  if (!HostsFileNamesLocalhost()) GTEST_SKIP() << "/etc/hosts does not name 127.0.0.1 localhost";
  NetworkSeams system(nullptr, nullptr);
  EXPECT_EQ(Call(xp_GetAddrByHost, {VarChar("localhost"), Output(VarChar("", 20))}).Transcript(),
            AddressOut("127.0.0.1"));
  NetworkCleanup();
  NetworkStartup();
  CallResult result = Call(xp_GetHostByAddr, {VarChar("127.0.0.1"), Output(VarChar("", 64))});
  EXPECT_EQ(result.status, 1);
  ASSERT_EQ(result.events.size(), 2u);
  EXPECT_FALSE(result.events[1].is_null);
  EXPECT_FALSE(result.events[1].data.empty());
}

}  // namespace
}  // namespace dunmarrow::test
