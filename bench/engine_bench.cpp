// One xp_FileExists call three ways: by RPC through an engine session (typed parameters, no
// text), as a parsed T-SQL batch through the same session, and as the ODS call alone that
// both end in. All three call the entry point of the loaded module.
#include <benchmark/benchmark.h>

#include <string>

#include "ods/params.h"
#include "ods/session.h"
#include "tsql/session.h"

namespace {

using namespace dunmarrow;

const std::u16string kPath = u"/proc/self/exe";

// A sink that drops every event, as a host with nowhere to send them would.
class NullSink : public tsql::Sink {
 public:
  void Columns(const std::vector<tsql::Column>&) override {}
  void Row(const std::vector<tsql::Value>&) override {}
  void Info(const tsql::Message&) override {}
  void ReturnStatus(int32_t status) override { benchmark::DoNotOptimize(status); }
  void Output(const tsql::OutputParam&) override {}
  void End(const tsql::Done&) override {}
};

tsql::ProcedureRegistry& Registry() {
  static tsql::ProcedureRegistry* registry = [] {
    auto* r = new tsql::ProcedureRegistry;
    r->LoadModule(DUNMARROW_MODULE_PATH);
    return r;
  }();
  return *registry;
}

void BM_EngineRpc(benchmark::State& state) {
  tsql::Session session(Registry());
  NullSink sink;
  std::vector<tsql::RpcParam> params = {
      {"", tsql::Value::WideChars(kPath, tsql::TypeOf(tsql::TypeId::NVarChar, 260)), false}};
  for (auto _ : state) {
    bool failed = session.Call("xp_FileExists", params, sink);
    benchmark::DoNotOptimize(failed);
  }
}
BENCHMARK(BM_EngineRpc);

void BM_EngineBatch(benchmark::State& state) {
  tsql::Session session(Registry());
  NullSink sink;
  for (auto _ : state) {
    bool failed = session.RunBatch("EXEC xp_FileExists N'/proc/self/exe'", sink);
    benchmark::DoNotOptimize(failed);
  }
}
BENCHMARK(BM_EngineBatch);

void BM_OdsCallAlone(benchmark::State& state) {
  ods::ProcEntry entry = Registry().Find("xp_FileExists")->entry;
  ods::RecordingSession session({ods::params::NVarChar(kPath, 260)});
  for (auto _ : state) {
    int status = ods::ExecuteProc(entry, session);
    benchmark::DoNotOptimize(status);
    session.ClearEvents();
  }
}
BENCHMARK(BM_OdsCallAlone);

}  // namespace
