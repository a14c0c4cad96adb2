// 100000 lines appended with xp_FileAppendLine through the in-process session, against the
// same lines appended by a loop of plain C++ open/append/close on the same file.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ods/params.h"
#include "ods/session.h"
#include "runtime/export.h"

XP_PROCEDURE(xp_FileAppendLine);

namespace {

constexpr int kLines = 100000;
const std::string kLine = "2026-12-09 10:15:00 order 4711 shipped to warehouse 3";

std::filesystem::path BenchFile() {
  static const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("dunmarrow-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  return dir / "append.txt";
}

void Restart(benchmark::State& state, const std::filesystem::path& file) {
  state.PauseTiming();
  std::filesystem::remove(file);
  state.ResumeTiming();
}

void Finish(benchmark::State& state, const std::filesystem::path& file) {
  auto expected = static_cast<uintmax_t>(kLines) * (kLine.size() + 2);
  if (std::filesystem::file_size(file) != expected) state.SkipWithError("lines missing");
  std::filesystem::remove_all(file.parent_path());
  state.SetItemsProcessed(state.iterations() * kLines);
}

void BM_XpFileAppendLine100k(benchmark::State& state) {
  auto file = BenchFile();
  dunmarrow::ods::RecordingSession session(
      {dunmarrow::ods::params::VarChar(file.string()), dunmarrow::ods::params::VarChar(kLine)});
  for (auto _ : state) {
    Restart(state, file);
    for (int i = 0; i < kLines; ++i) {
      int status = dunmarrow::ods::ExecuteProc(xp_FileAppendLine, session);
      benchmark::DoNotOptimize(status);
      session.ClearEvents();
    }
  }
  Finish(state, file);
}
BENCHMARK(BM_XpFileAppendLine100k)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PlainOpenAppendClose100k(benchmark::State& state) {
  auto file = BenchFile();
  for (auto _ : state) {
    Restart(state, file);
    for (int i = 0; i < kLines; ++i) {
      std::ofstream out(file, std::ios::binary | std::ios::app);
      out << kLine << "\r\n";
    }
  }
  Finish(state, file);
}
BENCHMARK(BM_PlainOpenAppendClose100k)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
