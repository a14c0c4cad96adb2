// Compression buffers from several threads at once: each worker creates, compresses,
// decompresses and closes its own buffers, while readers work on shared handles that a closer
// keeps closing and replacing under them. Every call must end either with the right bytes or
// with the report that names the closed handle. Built under ThreadSanitizer in CI.
#include <atomic>
#include <thread>

#include "procs/compress/zbuffer.h"
#include "runtime/block_cache.h"
#include "runtime/xp_lock.h"
#include "tests/unit/call_helpers.h"
#include "tests/unit/procedures.h"
#include "tests/unit/zlib_streams.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;

// The value of the one row of a successful call, or nullopt for a failure.
std::optional<ByteVector> RowValue(const CallResult& result) {
  for (const auto& event : result.events) {
    if (event.kind == ods::EventKind::SendRow) {
      return event.row.at(0) ? *event.row.at(0) : ByteVector();
    }
  }
  return std::nullopt;
}

class CompressStressTest : public DriveRootTest {
 protected:
  void SetUp() override {
    DriveRootTest::SetUp();
    InstallBlockCache();
    CreateXpLock();
    CreateZBufferRegistry();
  }
  void TearDown() override {
    DestroyZBufferRegistry();
    DeleteXpLock();
    DriveRootTest::TearDown();
  }
};

TEST_F(CompressStressTest, CloseRacesReadersWithoutHarm) {
  constexpr int kSlots = 4;
  constexpr int kReaders = 3;
  constexpr int kWorkers = 2;
  constexpr int kRounds = 150;
  const ByteVector text = TextBytes(20000);
  const ByteVector stream = Deflate(text);
  const ByteVector recompressed = Deflate(stream);

  std::atomic<int32_t> slots[kSlots];
  for (auto& slot : slots) slot = Call(xp_ZCreate, {VarBinaryMax(stream)}).status;
  std::atomic<bool> readers_done{false};
  std::atomic<int> wrong{0}, reads{0}, missed{0};

  std::vector<std::thread> threads;
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&, r] {
      for (int round = 0; round < kRounds; ++round) {
        int32_t handle = slots[(round + r) % kSlots].load();
        bool decompress = (round + r) % 2 == 0;
        CallResult result = Call(decompress ? xp_ZDecompress : xp_ZCompress, {Int(handle)});
        std::optional<ByteVector> value = RowValue(result);
        if (value) {
          ++reads;
          if (result.status != 1 || *value != (decompress ? text : recompressed)) ++wrong;
        } else {
          ++missed;
          std::string expected = std::string(decompress ? "xp_ZDecompress" : "xp_ZCompress") +
                                 ": No compression buffer has the handle " +
                                 std::to_string(handle) + " (Runtime Addr: $XXXXXXXX)";
          auto lines = result.Transcript();
          if (result.status != -1 || lines.size() != 2 ||
              lines[1].find(expected) == std::string::npos) {
            ++wrong;
          }
        }
      }
    });
  }
  // The closer replaces each shared buffer and closes the old one while readers use it.
  threads.emplace_back([&] {
    int n = 0;
    while (!readers_done.load()) {
      int32_t fresh = Call(xp_ZCreate, {VarBinaryMax(stream)}).status;
      int32_t old = slots[n++ % kSlots].exchange(fresh);
      if (Call(xp_ZClose, {Int(old)}).status != 1) ++wrong;
    }
  });
  for (int w = 0; w < kWorkers; ++w) {
    threads.emplace_back([&, w] {
      for (int round = 0; round < kRounds / 3; ++round) {
        ByteVector input = RandomBytes(1000 + 97 * round, static_cast<uint32_t>(w * 1000 + round));
        input.insert(input.end(), text.begin(), text.begin() + round * 50);
        int32_t plain = Call(xp_ZCreate, {VarBinaryMax(input)}).status;
        std::optional<ByteVector> compressed = RowValue(Call(xp_ZCompress, {Int(plain)}));
        if (!compressed) {
          ++wrong;
          continue;
        }
        int32_t packed = Call(xp_ZCreate, {VarBinaryMax(*compressed)}).status;
        if (RowValue(Call(xp_ZDecompress, {Int(packed)})) != input) ++wrong;
        Call(xp_ZClose, {Int(plain)});
        Call(xp_ZClose, {Int(packed)});
      }
    });
  }
  for (int r = 0; r < kReaders; ++r) threads[static_cast<size_t>(r)].join();
  readers_done = true;
  for (size_t t = kReaders; t < threads.size(); ++t) threads[t].join();

  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(reads.load() + missed.load(), kReaders * kRounds);
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(ZBufferCount(), static_cast<size_t>(kSlots));
}

}  // namespace
}  // namespace dunmarrow::test
