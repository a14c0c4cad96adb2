// 'Name: %s, Qty: %5d, Price: %.2f' a million times through the format engine, against the C
// library's snprintf and swprintf with the same arguments.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "ods/params.h"
#include "ods/session.h"
#include "procs/format/format_engine.h"
#include "runtime/export.h"

XP_PROCEDURE(xp_FormatStr);

namespace {

using dunmarrow::FormatArg;

constexpr int kMillion = 1000000;

void BM_FormatWideText(benchmark::State& state) {
  std::vector<FormatArg> args = {FormatArg::WideText(u"Bolt"), FormatArg::Integer(42),
                                 FormatArg::Float(12.5)};
  for (auto _ : state) {
    std::u16string text = dunmarrow::FormatWideText(u"Name: %s, Qty: %5d, Price: %.2f", args);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_FormatWideText)->Iterations(kMillion);

void BM_Snprintf(benchmark::State& state) {
  const char* name = "Bolt";
  for (auto _ : state) {
    char buffer[128];
    int n = std::snprintf(buffer, sizeof buffer, "Name: %s, Qty: %5d, Price: %.2f", name, 42, 12.5);
    std::string text(buffer, static_cast<size_t>(n));
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_Snprintf)->Iterations(kMillion);

void BM_Swprintf(benchmark::State& state) {
  const wchar_t* name = L"Bolt";
  for (auto _ : state) {
    wchar_t buffer[128];
    int n = std::swprintf(buffer, 128, L"Name: %ls, Qty: %5d, Price: %.2f", name, 42, 12.5);
    std::wstring text(buffer, static_cast<size_t>(n));
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_Swprintf)->Iterations(kMillion);

// The whole procedure through the in-process session, for scale.
void BM_XpFormatStr(benchmark::State& state) {
  using namespace dunmarrow::ods::params;
  dunmarrow::ods::RecordingSession session({Output(NVarChar(u"", 200)),
                                            NVarChar(u"Name: %s, Qty: %5d, Price: %.2f"),
                                            VarChar("Bolt"), Int(42), Float(12.5)});
  for (auto _ : state) {
    int status = dunmarrow::ods::ExecuteProc(xp_FormatStr, session);
    benchmark::DoNotOptimize(status);
    session.ClearEvents();
  }
}
BENCHMARK(BM_XpFormatStr);

// Exact digits of a large double (a long division of a 1000-bit number).
void BM_FormatLargeFloat(benchmark::State& state) {
  std::vector<FormatArg> args = {FormatArg::Float(1.7976931348623157e308)};
  for (auto _ : state) {
    std::u16string text = dunmarrow::FormatWideText(u"%e", args);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_FormatLargeFloat);

}  // namespace
