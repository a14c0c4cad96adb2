// xp_GetAddrByHost and xp_GetHostByAddr: host names to IPv4 addresses and back, through the
// network layer's shared name cache.
#include <new>
#include <string>

#include "net/internet.h"
#include "platform/windows.h"
#include "runtime/context.h"
#include "runtime/export.h"
#include "runtime/failure.h"
#include "runtime/param_checks.h"

namespace dunmarrow {
namespace {

bool IsText(const TxpItem& item) {
  return item.Kind() == dkString || item.Kind() == dkWideString;
}

bool TwoTextParams(TxpParams& params) {
  return params.Count() >= 2 && IsText(*params.Items(0)) && IsText(*params.Items(1));
}

// Parameter 2 receives the dotted address of the host in parameter 1 ('0.0.0.0' when it
// cannot be resolved).
int GetAddrByHost(TXProc& proc) {
  TxpParams& params = proc.Params();
  if (!TwoTextParams(params)) RaiseInvalidParams();
  CheckName(*params.Items(0), "the host name", 1);
  in_addr address{};
  address.s_addr = ResolveHostAddress(params.Items(0)->AsString());
  params.Items(1)->SetAsString(inet_ntoa(address));
  return params.Items(1)->IsNull() ? 0 : 1;
}

// Parameter 2 receives a name of the dotted address in parameter 1: NULL with status 0 when
// the text is no address, NULL with status 1 when the address has no name.
int GetHostByAddr(TXProc& proc) {
  TxpParams& params = proc.Params();
  if (!TwoTextParams(params)) RaiseInvalidParams();
  CheckName(*params.Items(0), "the address", 1);
  ULONG address = inet_addr(params.Items(0)->AsString().c_str());
  if (address == INADDR_NONE) {
    params.Items(1)->Clear();
    return 0;
  }
  params.Items(1)->SetAsString(ResolveHostName(address));
  return 1;
}

constexpr char kHostByAddrPrefix[] = "xp_GetHostByAddr: ";
constexpr int32_t kHostByAddrMessage = 50000;

}  // namespace
}  // namespace dunmarrow

XP_PROCEDURE(xp_GetAddrByHost) {
  return dunmarrow::RunContextFrame(srvproc, "xp_GetAddrByHost: ", dunmarrow::GetAddrByHost);
}

// Its failures go to the client as an error message of its own, sent from the work, so before
// the frame ends the call with its DONE; nothing is logged.
XP_PROCEDURE(xp_GetHostByAddr) {
  using namespace dunmarrow;
  return RunContextFrame(srvproc, kHostByAddrPrefix, [](TXProc& proc) {
    std::string message;
    try {
      return GetHostByAddr(proc);
    } catch (const Exception& failure) {
      message = failure.Message();
    } catch (const std::bad_alloc&) {
      message = kOutOfMemoryMessage;
    }
    proc.SendMessage(kHostByAddrPrefix + message, kHostByAddrMessage, 11, 1);
    return -1;
  });
}
