// xp_Ping: a series of ICMP echo requests to one host, one result row per echo and the
// statistics of the series in OUTPUT parameters found by name.
#include <string>

#include "net/icmp.h"
#include "platform/windows.h"
#include "runtime/context.h"
#include "runtime/export.h"
#include "runtime/failure.h"
#include "runtime/param_checks.h"

namespace dunmarrow {
namespace {

// The value of an optional numeric parameter at a position, when it counts: an integer,
// binary or other number passed without a name, other than -1 (which asks for the default).
// Numeric, money and float values count by their whole value.
bool OptionalNumber(TxpParams& params, int index, int32_t& value) {
  if (params.Count() <= index) return false;
  TxpItem& item = *params.Items(index);
  TxpDataKind kind = item.Kind();
  if (kind != dkInteger && kind != dkBytes && kind != dkBCD && kind != dkCurrency &&
      kind != dkFloat) {
    return false;
  }
  if (item.DisplayName() != std::to_string(index + 1)) return false;
  value = IntegerOf(item);
  return value != -1;
}

void SetStatistic(TxpParams& params, const char* name, uint32_t value) {
  TxpItem* item = params.ItemByName(name);
  if (item && item->Kind() == dkInteger) item->SetAsInteger(CheckedNarrow<int32_t>(value));
}

int Ping(TXProc& proc) {
  TxpParams& params = proc.Params();
  if (params.Count() == 0 ||
      (params.Items(0)->Kind() != dkString && params.Items(0)->Kind() != dkWideString)) {
    RaiseInvalidParams();
  }
  CheckName(*params.Items(0), "the host name", 1);
  TkxPing ping(true);
  int32_t value;
  if (OptionalNumber(params, 1, value)) {
    if (value < 0) RaiseRangeError();
    ping.SetTimeout(value);
  }
  if (OptionalNumber(params, 2, value)) ping.EchoCount = value;
  ping.Ping(params.Items(0)->AsString());

  TxpFields& fields = proc.Fields();
  fields.DefineField(0, dkString, "Address")->SetSize(70);
  fields.DefineField(1, dkInteger, "Time");
  fields.DefineField(2, dkInteger, "TTL");
  if (ping.ReplyCount() == 0) RaiseRangeError();
  for (int32_t i = 0; i < ping.ReplyCount(); ++i) {
    TEchoReply reply = ping.GetReply(i);
    if (reply.Address != 0) {
      in_addr address{};
      address.s_addr = reply.Address;
      fields.Items(0)->SetAsString(inet_ntoa(address));
      fields.Items(1)->SetAsInteger(CheckedNarrow<int32_t>(reply.Time));
      fields.Items(2)->SetAsInteger(reply.TTL);
    } else {
      fields.Items(0)->SetAsString("Request timed out");
    }
    fields.SendRow();
  }
  fields.SendDone();

  SetStatistic(params, "@MinTime", ping.MinTime);
  SetStatistic(params, "@MaxTime", ping.MaxTime);
  SetStatistic(params, "@AvgTime", ping.AvgTime);
  SetStatistic(params, "@TotalTime", ping.TotalTime);
  SetStatistic(params, "@LostPackets", static_cast<uint32_t>(ping.Lost));
  SetStatistic(params, "@PercentLost", ping.PercentLost);
  return 1;
}

}  // namespace
}  // namespace dunmarrow

XP_PROCEDURE(xp_Ping) {
  return dunmarrow::RunContextFrame(srvproc, "xp_Ping: ", dunmarrow::Ping);
}
