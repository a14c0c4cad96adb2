// One xp_FileExists call through the in-process session against a bare stat() of the path.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "ods/params.h"
#include "ods/session.h"
#include "runtime/export.h"

XP_PROCEDURE(xp_FileExists);

namespace {

const std::string kPath = "/proc/self/exe";

void BM_XpFileExists(benchmark::State& state) {
  dunmarrow::ods::RecordingSession session({dunmarrow::ods::params::VarChar(kPath)});
  for (auto _ : state) {
    int status = dunmarrow::ods::ExecuteProc(xp_FileExists, session);
    benchmark::DoNotOptimize(status);
    session.ClearEvents();
  }
}
BENCHMARK(BM_XpFileExists);

void BM_BareStat(benchmark::State& state) {
  for (auto _ : state) {
    struct stat st;
    int rc = stat(kPath.c_str(), &st);
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(st);
  }
}
BENCHMARK(BM_BareStat);

}  // namespace
