// The compression procedures against zlib called directly, and BlockCache against the system
// allocator for the allocations of one procedure call, each in its steady state.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "ods/params.h"
#include "ods/session.h"
#include "procs/compress/zbuffer.h"
#include "runtime/block_cache.h"
#include "runtime/export.h"
#include "runtime/xp_lock.h"
#include "tests/unit/zlib_streams.h"

XP_PROCEDURE(xp_ZCreate);
XP_PROCEDURE(xp_ZCompress);
XP_PROCEDURE(xp_ZDecompress);

namespace {

using dunmarrow::test::ByteVector;
namespace ods = dunmarrow::ods;

// A session that keeps the parameters and drops the events, as a server would once sent.
class DiscardingSession : public ods::Session {
 public:
  explicit DiscardingSession(std::vector<ods::Param> params) : params_(std::move(params)) {}
  const std::vector<ods::Param>& Params() const override { return params_; }
  void OnEvent(const ods::Event&) override {}

 private:
  std::vector<ods::Param> params_;
};

// The load steps the compression procedures need, once.
void LoadCompression() {
  static bool loaded = [] {
    dunmarrow::InstallBlockCache();
    dunmarrow::CreateXpLock();
    dunmarrow::CreateZBufferRegistry();
    return true;
  }();
  (void)loaded;
}

int32_t BufferHolding(const ByteVector& bytes) {
  LoadCompression();
  DiscardingSession session({ods::params::VarBinaryMax(bytes)});
  return ods::ExecuteProc(xp_ZCreate, session);
}

const ByteVector& MebibyteOfText() {
  static const ByteVector text = dunmarrow::test::TextBytes(1 << 20);
  return text;
}

const ByteVector& MebibyteOfZerosCompressed() {
  static const ByteVector stream = dunmarrow::test::Deflate(ByteVector(1 << 20, 0));
  return stream;
}

void BM_XpZCompressMebibyteOfText(benchmark::State& state) {
  DiscardingSession session({ods::params::Int(BufferHolding(MebibyteOfText()))});
  for (auto _ : state) {
    if (ods::ExecuteProc(xp_ZCompress, session) != 1) state.SkipWithError("xp_ZCompress failed");
  }
  state.SetBytesProcessed(state.iterations() * (1 << 20));
}
BENCHMARK(BM_XpZCompressMebibyteOfText)->Unit(benchmark::kMillisecond);

void BM_DeflateMebibyteOfText(benchmark::State& state) {
  const ByteVector& text = MebibyteOfText();
  ByteVector out(compressBound(text.size()));
  for (auto _ : state) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    stream.next_in = const_cast<Bytef*>(text.data());
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) state.SkipWithError("deflate failed");
    deflateEnd(&stream);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * (1 << 20));
}
BENCHMARK(BM_DeflateMebibyteOfText)->Unit(benchmark::kMillisecond);

void BM_XpZDecompressMebibyteOfZeros(benchmark::State& state) {
  DiscardingSession session({ods::params::Int(BufferHolding(MebibyteOfZerosCompressed()))});
  for (auto _ : state) {
    if (ods::ExecuteProc(xp_ZDecompress, session) != 1) state.SkipWithError("failed");
  }
  state.SetBytesProcessed(state.iterations() * (1 << 20));
}
BENCHMARK(BM_XpZDecompressMebibyteOfZeros)->Unit(benchmark::kMillisecond);

void BM_InflateMebibyteOfZeros(benchmark::State& state) {
  const ByteVector& stream_bytes = MebibyteOfZerosCompressed();
  ByteVector out(1 << 20);
  for (auto _ : state) {
    z_stream stream{};
    inflateInit(&stream);
    stream.next_in = const_cast<Bytef*>(stream_bytes.data());
    stream.avail_in = static_cast<uInt>(stream_bytes.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    if (inflate(&stream, Z_FINISH) != Z_STREAM_END) state.SkipWithError("inflate failed");
    inflateEnd(&stream);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * (1 << 20));
}
BENCHMARK(BM_InflateMebibyteOfZeros)->Unit(benchmark::kMillisecond);

// The allocations of one xp_ZCompress call of a 1000-byte buffer, as recorded from the
// module: the context, its parameter and column items and their values, the output block,
// then zlib's state, window, hash chains and pending buffer (freed by deflateEnd), then the
// row's copy of the output; everything else is freed when the call ends.
constexpr size_t kCallObjects[] = {40, 48, 96, 8, 4, 48, 96, 8, 32, 56, 1280};
constexpr size_t kZlibBlocks[] = {5824, 65536, 65536, 65536, 65536};
constexpr size_t kRowObjects[] = {1011, 32, 17};

template <typename Get, typename Free>
void OneCallPattern(Get get, Free free) {
  void* call[std::size(kCallObjects) + std::size(kRowObjects)];
  void* zlib[std::size(kZlibBlocks)];
  size_t n = 0;
  for (size_t size : kCallObjects) call[n++] = get(size);
  for (size_t i = 0; i < std::size(kZlibBlocks); ++i) zlib[i] = get(kZlibBlocks[i]);
  for (size_t i = std::size(kZlibBlocks); i > 0; --i) free(zlib[i - 1]);
  for (size_t size : kRowObjects) call[n++] = get(size);
  while (n > 0) free(call[--n]);
  benchmark::ClobberMemory();
}

// Both allocators are measured in their steady state, the one a long-running server is in,
// so that a run alone gives the same ratio as a run after the other benchmarks. Before timing,
// each thread
// - allocates and frees one block of 4 MiB, as a server does that has compressed a large
//   value: glibc serves it with mmap and, when it is freed, raises its mmap and trim
//   thresholds above it. Until then glibc gives the top of its heap back to the system
//   whenever the pattern's 64 KiB blocks are freed and faults the pages in again at the next
//   call (tens of microseconds a call run alone, under one run after the compression
//   benchmarks). BlockCache's misses go to the same heap, so it is warmed alike.
// - runs the pattern kWarmUpCalls times untimed, so that both have their blocks at hand.
// Before the first measurement the process also starts and ends one thread, as a server has
// many: glibc skips its locks until a process has more than one thread, so a run of the
// one-thread case alone would time a system allocator that no server has.
constexpr int kWarmUpCalls = 256;
constexpr size_t kLargeBlock = size_t{4} << 20;

template <typename Get, typename Free>
void MeasureOneCall(benchmark::State& state, Get get, Free free) {
  static const bool multithreaded = [] {
    std::thread([] {}).join();
    return true;
  }();
  benchmark::DoNotOptimize(multithreaded);
  void* large = std::malloc(kLargeBlock);
  benchmark::DoNotOptimize(large);
  std::free(large);
  for (int i = 0; i < kWarmUpCalls; ++i) OneCallPattern(get, free);
  for (auto _ : state) OneCallPattern(get, free);
}

void BM_BlockCacheOneCall(benchmark::State& state) {
  dunmarrow::BlockCache& cache = dunmarrow::ModuleBlockCache();
  MeasureOneCall(
      state, [&](size_t size) { return cache.GetBlock(size); },
      [&](void* block) { cache.FreeBlock(block); });
}
BENCHMARK(BM_BlockCacheOneCall)->Threads(1)->Threads(2)->Threads(8)->UseRealTime();

void BM_SystemAllocatorOneCall(benchmark::State& state) {
  MeasureOneCall(
      state, [](size_t size) { return std::malloc(size); }, [](void* block) { std::free(block); });
}
BENCHMARK(BM_SystemAllocatorOneCall)->Threads(1)->Threads(2)->Threads(8)->UseRealTime();

}  // namespace
