// What the loopback echo benchmarks measure, per series of 1000 echoes: the CPU time of the
// calling thread, that of the whole process, and the wall time of one echo.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>

namespace echo_bench {

constexpr int kEchoes = 1000;
constexpr int kTimeoutMs = 1000;

inline double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

inline double ProcessCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Sums the CPU and wall time of the measured parts and turns them into counters.
class Meter {
 public:
  void Begin() {
    thread_start_ = ThreadCpuMs();
    process_start_ = ProcessCpuMs();
    wall_start_ = std::chrono::steady_clock::now();
  }
  void End() {
    thread_ms_ += ThreadCpuMs() - thread_start_;
    process_ms_ += ProcessCpuMs() - process_start_;
    wall_us_ +=
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - wall_start_)
            .count();
  }
  void Report(benchmark::State& state) const {
    double runs = static_cast<double>(state.iterations());
    if (runs == 0) return;
    state.counters["caller_cpu_ms"] = thread_ms_ / runs;
    state.counters["process_cpu_ms"] = process_ms_ / runs;
    state.counters["us_per_echo"] = wall_us_ / runs / kEchoes;
    state.SetItemsProcessed(state.iterations() * kEchoes);
  }

 private:
  double thread_start_ = 0, process_start_ = 0;
  std::chrono::steady_clock::time_point wall_start_;
  double thread_ms_ = 0, process_ms_ = 0, wall_us_ = 0;
};

}  // namespace echo_bench
