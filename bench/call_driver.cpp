// The timed call loop of the TDS benchmarks.
#include "bench/call_driver.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace tds_bench {

namespace {

// User plus system CPU time of a process, from /proc/PID/stat.
double ProcessCpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  size_t end = text.rfind(')');
  if (end == std::string::npos) return 0;
  std::vector<std::string> fields;
  size_t at = end + 2;
  while (at < text.size() && fields.size() < 13) {
    size_t space = text.find(' ', at);
    fields.push_back(text.substr(at, space - at));
    at = space == std::string::npos ? text.size() : space + 1;
  }
  if (fields.size() < 13) return 0;
  // Fields 14 and 15 of the file (utime, stime) are the 12th and 13th after the name.
  return static_cast<double>(std::stoull(fields[11]) + std::stoull(fields[12])) /
         static_cast<double>(sysconf(_SC_CLK_TCK));
}

double OwnCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double Percentile(const std::vector<double>& sorted, double fraction) {
  if (sorted.empty()) return 0;
  size_t index = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(index, sorted.size() - 1)];
}

}  // namespace

Outcome Drive(int workers, double seconds, pid_t server,
              const std::function<bool(int worker)>& call) {
  using Clock = std::chrono::steady_clock;
  std::vector<std::vector<double>> latencies(static_cast<size_t>(workers));
  std::atomic<bool> failed{false};
  std::atomic<bool> go{false};
  Outcome outcome;
  double server_before = server > 0 ? ProcessCpuSeconds(server) : 0;
  double own_before = OwnCpuSeconds();
  // Set just before the start signal, which the threads wait for before reading it.
  Clock::time_point start, deadline;
  std::vector<std::thread> threads;
  for (int worker = 0; worker < workers; ++worker) {
    threads.emplace_back([&, worker] {
      while (!go.load()) std::this_thread::yield();
      auto& mine = latencies[static_cast<size_t>(worker)];
      for (auto now = Clock::now(); now < deadline && !failed.load();) {
        bool ok = call(worker);
        auto after = Clock::now();
        if (!ok) failed = true;
        mine.push_back(std::chrono::duration<double, std::micro>(after - now).count());
        now = after;
      }
    });
  }
  start = Clock::now();
  deadline =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  go = true;
  for (auto& thread : threads) thread.join();
  outcome.wall_seconds = std::chrono::duration<double>(Clock::now() - start).count();
  outcome.server_cpu_seconds = server > 0 ? ProcessCpuSeconds(server) - server_before : 0;
  outcome.own_cpu_seconds = OwnCpuSeconds() - own_before;
  for (auto& mine : latencies) {
    outcome.latencies_us.insert(outcome.latencies_us.end(), mine.begin(), mine.end());
  }
  std::sort(outcome.latencies_us.begin(), outcome.latencies_us.end());
  outcome.calls = outcome.latencies_us.size();
  outcome.failed = failed.load();
  return outcome;
}

void Report(benchmark::State& state, const Outcome& outcome) {
  double calls = static_cast<double>(std::max<uint64_t>(outcome.calls, 1));
  state.SetIterationTime(outcome.wall_seconds / calls);
  state.counters["calls_per_s"] = static_cast<double>(outcome.calls) / outcome.wall_seconds;
  state.counters["p50_us"] = Percentile(outcome.latencies_us, 0.50);
  state.counters["p99_us"] = Percentile(outcome.latencies_us, 0.99);
  state.counters["server_cpu_us"] = outcome.server_cpu_seconds * 1e6 / calls;
  state.counters["own_cpu_us"] = outcome.own_cpu_seconds * 1e6 / calls;
}

}  // namespace tds_bench
