// 1000 ICMP echoes to 127.0.0.1 through xp_Ping (one call with an echo count of 1000: the
// echoes of a series follow one another without pause) and through the echo engine alone,
// without the procedure's parameters and result set. ping_socket_bench.cpp sends the same
// echoes directly on a socket.
//
// Counters, per 1000 echoes (echo_meter.h):
//   caller_cpu_ms   CPU time of the calling thread, which waits while the worker pings
//   process_cpu_ms  CPU time of the whole process (caller, worker and anything else)
//   us_per_echo     wall time of one echo
#include <benchmark/benchmark.h>

#include <cstring>
#include <exception>
#include <memory>

#include "bench/echo_meter.h"
#include "net/icmp.h"
#include "net/internet.h"
#include "ods/params.h"
#include "ods/session.h"
#include "runtime/export.h"

XP_PROCEDURE(xp_Ping);

namespace {

using echo_bench::kEchoes;
using echo_bench::kTimeoutMs;
using echo_bench::Meter;

// --- xp_Ping --------------------------------------------------------------------------------

int32_t IntValue(const dunmarrow::ods::Bytes& bytes) {
  int32_t value = 0;
  if (bytes.size() == sizeof value) std::memcpy(&value, bytes.data(), sizeof value);
  return value;
}

void BM_XpPing1000Loopback(benchmark::State& state) {
  using namespace dunmarrow::ods::params;
  dunmarrow::NetworkStartup();  // the module's load step
  // Parameter 4 receives the number of lost echoes.
  dunmarrow::ods::RecordingSession session(
      {VarChar("127.0.0.1"), Int(kTimeoutMs), Int(kEchoes), Named("@LostPackets", Output(Int(0)))});
  Meter meter;
  for (auto _ : state) {
    meter.Begin();
    int status = dunmarrow::ods::ExecuteProc(xp_Ping, session);
    meter.End();
    state.PauseTiming();
    int rows = 0;
    int32_t lost = -1;
    for (const auto& event : session.Events()) {
      if (event.kind == dunmarrow::ods::EventKind::SendRow) ++rows;
      if (event.kind == dunmarrow::ods::EventKind::ParamSetOutput && event.number == 4) {
        lost = IntValue(event.data);
      }
    }
    session.ClearEvents();
    state.ResumeTiming();
    if (status != 1 || rows != kEchoes) {
      state.SkipWithError("xp_Ping failed (no ICMP socket could be opened?)");
      break;
    }
    if (lost != 0) {
      state.SkipWithError("echoes to 127.0.0.1 went unanswered");
      break;
    }
  }
  meter.Report(state);
  dunmarrow::NetworkCleanup();  // the module's unload step
}
BENCHMARK(BM_XpPing1000Loopback)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The echo engine without the procedure around it: no parameters, no result set.
void BM_TkxPing1000Loopback(benchmark::State& state) {
  dunmarrow::NetworkStartup();
  Meter meter;
  for (auto _ : state) {
    // Only the series is timed: not the component's window and ICMP handle.
    state.PauseTiming();
    std::unique_ptr<dunmarrow::TkxPing> ping;
    try {
      ping = std::make_unique<dunmarrow::TkxPing>(true);
    } catch (const std::exception& failure) {
      state.SkipWithError(failure.what());
      break;
    }
    ping->SetTimeout(kTimeoutMs);
    ping->EchoCount = kEchoes;
    state.ResumeTiming();
    meter.Begin();
    ping->Ping("127.0.0.1");
    meter.End();
    state.PauseTiming();
    bool answered = ping->Lost == 0 && ping->Sent == kEchoes;
    ping.reset();
    state.ResumeTiming();
    if (!answered) {
      state.SkipWithError("echoes to 127.0.0.1 went unanswered");
      break;
    }
  }
  meter.Report(state);
  dunmarrow::NetworkCleanup();
}
BENCHMARK(BM_TkxPing1000Loopback)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace
