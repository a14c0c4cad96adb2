// How the network procedures answer in the bad-input sweep. Every call runs against a resolver
// that knows only localhost and an ICMP service that never answers: the sweep sends nothing
// and asks no name server.
#include <gtest/gtest.h>

#include "runtime/data_kind.h"
#include "tests/unit/net_fakes.h"
#include "tests/unit/sweep.h"

namespace {

using dunmarrow::ods::Param;
using dunmarrow::test::SweepFrame;

bool IsText(const Param& param) {
  auto kind = dunmarrow::OdsTypeKind(param.type);
  return kind == dunmarrow::dkString || kind == dunmarrow::dkWideString;
}

bool TwoTexts(const std::vector<Param>& params) {
  return params.size() >= 2 && IsText(params[0]) && IsText(params[1]);
}

// Answers no echo, and fails the sweep for any echo that reaches it addressed to 0.0.0.0, the
// broadcast address or a multicast group: none may be sent, whatever the caller passes.
class GuardedIcmpService : public dunmarrow::test::ScriptedIcmpService {
 public:
  bool Echo(uint32_t address, const void* data, size_t size, uint32_t timeout_ms,
            winplatform::EchoAnswer& answer) override {
    const auto* octets = reinterpret_cast<const unsigned char*>(&address);
    EXPECT_TRUE(address != 0 && address != 0xFFFFFFFFu && (octets[0] & 0xF0) != 0xE0)
        << "an echo to " << static_cast<int>(octets[0]) << "." << static_cast<int>(octets[1]) << "."
        << static_cast<int>(octets[2]) << "." << static_cast<int>(octets[3]);
    return ScriptedIcmpService::Echo(address, data, size, timeout_ms, answer);
  }
};

void NoNetwork() {
  static dunmarrow::test::CountingResolver resolver;
  static GuardedIcmpService service;
  winplatform::InstallResolver(&resolver);
  winplatform::InstallIcmpService(&service);
}

bool PingStatus(int status, const std::vector<Param>& params) {
  return status == 1 && !params.empty() && IsText(params[0]);
}

// A binary echo count reads as a number of up to 32 bits: millions of echoes, each handed
// over on its own. The engine's tests cover long series and counts too large to hold.
bool HugeSeries(const std::vector<Param>& params) {
  return params.size() >= 3 && params[2].name.empty() &&
         dunmarrow::OdsTypeKind(params[2].type) == dunmarrow::dkBytes;
}

bool AddrByHostStatus(int status, const std::vector<Param>& params) {
  return status == 1 && TwoTexts(params);
}

bool HostByAddrStatus(int status, const std::vector<Param>& params) {
  return (status == 0 || status == 1) && TwoTexts(params);
}

}  // namespace

SWEEP_RULE("xp_Ping", {SweepFrame::kContext, "xp_Ping: ", PingStatus, NoNetwork});
static const bool ping_skips_huge_series =
    dunmarrow::test::RegisterSweepSkip("xp_Ping", HugeSeries);
SWEEP_RULE("xp_GetAddrByHost",
           {SweepFrame::kContext, "xp_GetAddrByHost: ", AddrByHostStatus, NoNetwork});
SWEEP_RULE("xp_GetHostByAddr",
           {SweepFrame::kContextOwnMessage, "xp_GetHostByAddr: ", HostByAddrStatus, NoNetwork});
