// The benchmarks' main: runs the benchmarks as Google Benchmark's own main does, then prints one
// table that sets each of the module's measurements beside its baseline from the same run, with
// the ratio of their real times, the goal it must meet, and the ratio of their CPU times. A pair
// whose benchmarks were filtered out or failed shows "-". The rows of the TDS server follow, with
// their latencies.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/served_drive.h"

namespace {

// The console output as usual, and every run kept by name.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
        runs_[run.benchmark_name()] = run;
      }
    }
  }

  const Run* Find(const std::string& name) const {
    auto found = runs_.find(name);
    return found == runs_.end() ? nullptr : &found->second;
  }

 private:
  std::map<std::string, Run> runs_;
};

// Real time per iteration in nanoseconds (for threaded runs, per call of one thread).
double Nanoseconds(const benchmark::BenchmarkReporter::Run& run) {
  return run.real_accumulated_time / static_cast<double>(run.iterations) * 1e9;
}

// The same in CPU time: on a machine that other work keeps busy, the real times mostly measure
// the waits for a processor, and the CPU ratio shows what the code itself costs.
double CpuNanoseconds(const benchmark::BenchmarkReporter::Run& run) {
  return run.cpu_accumulated_time / static_cast<double>(run.iterations) * 1e9;
}

std::string Duration(double ns) {
  char text[32];
  if (ns >= 1e6) {
    std::snprintf(text, sizeof text, "%.1f ms", ns / 1e6);
  } else if (ns >= 1e3) {
    std::snprintf(text, sizeof text, "%.2f us", ns / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.0f ns", ns);
  }
  return text;
}

struct Pair {
  const char* label;
  const char* ours;
  std::vector<const char*> baselines;  // the first one that ran
  double goal;                         // the largest ratio that meets it
  const char* goal_text;
};

void PrintRow(const std::string& label, const std::string& ours, const std::string& baseline,
              double ratio, double cpu_ratio, bool measured, double goal, const char* goal_text) {
  char ratio_text[32] = "-";
  char cpu_text[32] = "-";
  const char* verdict = "";
  if (measured) {
    std::snprintf(ratio_text, sizeof ratio_text, "%.2fx", ratio);
    if (cpu_ratio > 0) std::snprintf(cpu_text, sizeof cpu_text, "%.2fx", cpu_ratio);
    verdict = ratio <= goal ? "met" : "NOT MET";
  }
  std::printf("%-44s %12s %12s %8s %8s  %-8s %s\n", label.c_str(), ours.c_str(), baseline.c_str(),
              ratio_text, cpu_text, goal_text, verdict);
}

// `dunmarrow serve` under FreeTDS's DB-Library: rates against rates, so the ratio is ours over
// the baseline and the goal a least ratio. The benchmarks' time per iteration is the time per
// call (or per connection).
struct RatePair {
  const char* label;
  const char* ours;
  const char* baseline;
  double goal;  // the smallest ratio that meets it; 0: reported only
  const char* goal_text;
};

std::string Rate(double ns) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f/s", 1e9 / ns);
  return text;
}

double Counter(const benchmark::BenchmarkReporter::Run& run, const char* name) {
  auto found = run.counters.find(name);
  return found == run.counters.end() ? 0 : found->second.value;
}

void PrintServeTable(const TableReporter& reporter) {
#define TDS_CALLS(what) "BM_TdsCalls/" what "/iterations:1/manual_time"
#define TDS_WIRE(what) "BM_WireLoop/" what "/iterations:1/manual_time"
  static const RatePair kPairs[] = {
      {"TDS xp_FileExists, 1 conn vs TCP loop", TDS_CALLS("FileExists_1_connection"),
       TDS_WIRE("FileExists_sizes"), 0.5, ">= 0.50x"},
      {"TDS xp_ZCompress 64 KiB, 1 conn vs TCP loop", TDS_CALLS("ZCompress64K_1_connection"),
       TDS_WIRE("ZCompress64K_sizes"), 0.5, ">= 0.50x"},
      {"TDS xp_FileExists, 16 conns vs 1 conn", TDS_CALLS("FileExists_16_connections"),
       TDS_CALLS("FileExists_1_connection"), 1.5, ">= 1.5x"},
      {"TDS xp_ZCompress 64 KiB, 16 conns vs 1 conn", TDS_CALLS("ZCompress64K_16_connections"),
       TDS_CALLS("ZCompress64K_1_connection"), 1.5, ">= 1.5x"},
      {"TDS connect+login+call, plain vs TCP", "BM_TdsConnections/plain/iterations:1/manual_time",
       "BM_WireConnections/iterations:1/manual_time", 0, "report"},
      {"TDS connect+login+call, TLS vs TCP", "BM_TdsConnections/tls/iterations:1/manual_time",
       "BM_WireConnections/iterations:1/manual_time", 0, "report"},
  };
  for (const RatePair& pair : kPairs) {
    const auto* ours = reporter.Find(pair.ours);
    const auto* baseline = reporter.Find(pair.baseline);
    bool measured = ours && baseline;
    double ratio = measured ? Nanoseconds(*baseline) / Nanoseconds(*ours) : 0;
    char ratio_text[32] = "-";
    if (measured)
      std::snprintf(ratio_text, sizeof ratio_text, ratio < 0.1 ? "%.3fx" : "%.2fx", ratio);
    const char* verdict = !measured || pair.goal == 0 ? "" : ratio >= pair.goal ? "met" : "NOT MET";
    std::printf("%-44s %12s %12s %8s %8s  %-8s %s\n", pair.label,
                ours ? Rate(Nanoseconds(*ours)).c_str() : "-",
                baseline ? Rate(Nanoseconds(*baseline)).c_str() : "-", ratio_text, "-",
                pair.goal_text, verdict);
  }
  // Latency of each call as its client saw it, and the CPU the server spent per call.
  static const char* const kLatencies[][2] = {
      {"  xp_FileExists, 1 conn", TDS_CALLS("FileExists_1_connection")},
      {"  xp_FileExists, 16 conns", TDS_CALLS("FileExists_16_connections")},
      {"  xp_ZCompress 64 KiB, 1 conn", TDS_CALLS("ZCompress64K_1_connection")},
      {"  xp_ZCompress 64 KiB, 16 conns", TDS_CALLS("ZCompress64K_16_connections")},
      {"  connect+login+call, plain", "BM_TdsConnections/plain/iterations:1/manual_time"},
      {"  connect+login+call, TLS", "BM_TdsConnections/tls/iterations:1/manual_time"},
  };
  std::printf("%-44s %12s %12s %12s\n", "TDS latency and server CPU", "p50", "p99", "server CPU");
  for (const auto& row : kLatencies) {
    const auto* run = reporter.Find(row[1]);
    if (!run) continue;
    std::printf("%-44s %12s %12s %12s\n", row[0], Duration(Counter(*run, "p50_us") * 1e3).c_str(),
                Duration(Counter(*run, "p99_us") * 1e3).c_str(),
                Duration(Counter(*run, "server_cpu_us") * 1e3).c_str());
  }
#undef TDS_CALLS
#undef TDS_WIRE
}

void PrintTable(const TableReporter& reporter) {
  static const Pair kPairs[] = {
      {"BlockCache, one call's allocations, 1 thread",
       "BM_BlockCacheOneCall/real_time/threads:1",
       {"BM_SystemAllocatorOneCall/real_time/threads:1"},
       1.1,
       "<= 1.1x"},
      {"BlockCache, the same, 2 threads",
       "BM_BlockCacheOneCall/real_time/threads:2",
       {"BM_SystemAllocatorOneCall/real_time/threads:2"},
       1.5,
       "<= 1.5x"},
      {"BlockCache, the same, 8 threads",
       "BM_BlockCacheOneCall/real_time/threads:8",
       {"BM_SystemAllocatorOneCall/real_time/threads:8"},
       1.5,
       "<= 1.5x"},
      {"xp_FileAppendLine, 100000 lines",
       "BM_XpFileAppendLine100k/iterations:3",
       {"BM_PlainOpenAppendClose100k/iterations:3"},
       1.3,
       "<= 1.3x"},
      {"xp_FileExists vs stat()", "BM_XpFileExists", {"BM_BareStat"}, 1.3, "<= 1.3x"},
      {"xp_sha_quick of 8000 bytes vs nettle",
       "BM_XpShaQuick8000",
       {"BM_NettleSha1_8000"},
       1.2,
       "<= 1.2x"},
      {"xp_Ping, 1000 loopback echoes vs socket",
       "BM_XpPing1000Loopback/iterations:5/real_time",
       {"BM_DirectDatagramSocket1000Loopback/iterations:5/real_time",
        "BM_DirectRawSocket1000Loopback/iterations:5/real_time"},
       2.0,
       "<= 2x"},
      {"xp_ZCompress 1 MiB vs deflate",
       "BM_XpZCompressMebibyteOfText",
       {"BM_DeflateMebibyteOfText"},
       1.1,
       "keep"},
      {"xp_ZDecompress 1 MiB vs inflate",
       "BM_XpZDecompressMebibyteOfZeros",
       {"BM_InflateMebibyteOfZeros"},
       1.1,
       "keep"},
  };
  std::printf("\n%-44s %12s %12s %8s %8s  %-8s %s\n", "benchmark", "ours", "baseline", "ratio",
              "cpu", "goal", "");
  for (const Pair& pair : kPairs) {
    const auto* ours = reporter.Find(pair.ours);
    const benchmark::BenchmarkReporter::Run* baseline = nullptr;
    for (const char* name : pair.baselines) {
      if ((baseline = reporter.Find(name))) break;
    }
    bool measured = ours && baseline;
    PrintRow(pair.label, ours ? Duration(Nanoseconds(*ours)) : "-",
             baseline ? Duration(Nanoseconds(*baseline)) : "-",
             measured ? Nanoseconds(*ours) / Nanoseconds(*baseline) : 0,
             measured ? CpuNanoseconds(*ours) / CpuNanoseconds(*baseline) : 0, measured, pair.goal,
             pair.goal_text);
  }
  // The caller of xp_Ping waits blocked while the worker pings: its CPU time against the wall
  // time of the series, measured on the echo engine that xp_Ping waits in. The procedure's
  // whole run would add the 1000 result rows it sends after the wait, whose cost is mostly
  // the recording session's copies of each row.
  const auto* ping = reporter.Find("BM_TkxPing1000Loopback/iterations:5/real_time");
  auto cpu = ping ? ping->counters.find("caller_cpu_ms") : decltype(ping->counters.end()){};
  bool measured = ping && cpu != ping->counters.end();
  double cpu_ms = measured ? cpu->second.value : 0;
  double wall_ns = measured ? Nanoseconds(*ping) : 0;
  PrintRow("xp_Ping, caller's CPU while it waits", measured ? Duration(cpu_ms * 1e6) : "-",
           measured ? Duration(wall_ns) + " wall" : "-", measured ? cpu_ms * 1e6 / wall_ns : 0, 0,
           measured, 0.1, "< 0.10x");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  tds_bench::StopSharedServers();
  benchmark::Shutdown();
  PrintTable(reporter);
  PrintServeTable(reporter);
  return 0;
}
