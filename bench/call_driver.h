// Runs one kind of call for a fixed time on several connections at once and sums up what the
// TDS benchmarks report: calls per second, latency percentiles, and the CPU time the server
// and this process spent per call.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace tds_bench {

struct Outcome {
  uint64_t calls = 0;
  double wall_seconds = 0;
  std::vector<double> latencies_us;  // sorted
  double server_cpu_seconds = 0;
  double own_cpu_seconds = 0;
  bool failed = false;
};

// `call(worker)` on `workers` threads for `seconds`, each call timed. `server` (0: none) is
// the process whose CPU time is counted as the server's.
Outcome Drive(int workers, double seconds, pid_t server,
              const std::function<bool(int worker)>& call);

// One iteration's time is the time per call (total wall time over all calls), so that the
// table compares rates as times; the counters hold the rest.
void Report(benchmark::State& state, const Outcome& outcome);

}  // namespace tds_bench
