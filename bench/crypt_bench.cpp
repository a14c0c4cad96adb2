// xp_sha_quick on 8000-byte values through the in-process session, against nettle's SHA-1 of
// the same bytes.
#include <benchmark/benchmark.h>
#include <nettle/sha1.h>

#include <string>

#include "crypto/crypto.h"
#include "ods/params.h"
#include "ods/session.h"
#include "runtime/export.h"
#include "runtime/xp_lock.h"

XP_PROCEDURE(xp_sha_quick);

namespace {

std::string Value() {
  std::string value(8000, '\0');
  for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<char>('a' + i % 26);
  return value;
}

void BM_XpShaQuick8000(benchmark::State& state) {
  // The module's load step that the procedure needs, and its unload step after.
  dunmarrow::CreateXpLock();
  using namespace dunmarrow::ods::params;
  dunmarrow::ods::RecordingSession session({VarChar(Value()), Output(VarChar("", 40))});
  for (auto _ : state) {
    int status = dunmarrow::ods::ExecuteProc(xp_sha_quick, session);
    benchmark::DoNotOptimize(status);
    session.ClearEvents();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 8000);
  dunmarrow::ReleaseSharedCryptoProvider();
  dunmarrow::DeleteXpLock();
}
BENCHMARK(BM_XpShaQuick8000);

void BM_NettleSha1_8000(benchmark::State& state) {
  const std::string value = Value();
  uint8_t digest[SHA1_DIGEST_SIZE];
  for (auto _ : state) {
    sha1_ctx ctx;
    sha1_init(&ctx);
    sha1_update(&ctx, value.size(), reinterpret_cast<const uint8_t*>(value.data()));
    sha1_digest(&ctx, sizeof digest, digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 8000);
}
BENCHMARK(BM_NettleSha1_8000);

}  // namespace
