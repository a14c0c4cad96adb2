// BlockCache from several threads at once: blocks allocated on one thread and freed on
// another, threads that end with blocks in their stacks, and a thread still holding blocks
// when the cache is released. Nothing may be lost: every block the heap gave out is either
// cached or given back, and after the release the heap has them all again. Built under
// ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/block_cache.h"
#include "tests/unit/counting_heap.h"

namespace dunmarrow::test {
namespace {

class BlockCacheStressTest : public ::testing::Test {
 protected:
  int32_t TotalCached() const {
    int32_t total = 0;
    for (int c = 0; c < BlockCache::kSizeClasses; ++c) total += cache_->CachedCount(c);
    return total;
  }

  CountingHeap heap_;
  std::unique_ptr<BlockCache> cache_ = std::make_unique<BlockCache>(heap_);
};

TEST_F(BlockCacheStressTest, ThreadsShareTheStacksWithoutLosingBlocks) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  std::vector<std::thread> threads;
  std::vector<int> corrupted(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<std::pair<uint8_t*, size_t>> live;
      for (int round = 0; round < kRounds; ++round) {
        size_t size = 1 + static_cast<size_t>((round * 37 + t * 101) % 3000);
        auto* block = static_cast<uint8_t*>(cache_->GetBlock(size));
        std::memset(block, t + 1, size);
        if (round % 3 == 0) {
          block = static_cast<uint8_t*>(cache_->ResizeBlock(block, size * 2));
          std::memset(block + size, t + 1, size);
          size *= 2;
        }
        live.emplace_back(block, size);
        if (live.size() > 8) {
          auto [old, old_size] = live.front();
          for (size_t i = 0; i < old_size; ++i) corrupted[t] += old[i] != t + 1;
          cache_->FreeBlock(old);
          live.erase(live.begin());
        }
      }
      for (auto [block, size] : live) cache_->FreeBlock(block);
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(corrupted[t], 0) << "thread " << t;
  // The ended threads' blocks wait in the shared stacks.
  EXPECT_EQ(static_cast<size_t>(TotalCached()), heap_.Live());
}

// Producers allocate and fill blocks of every cached size and hand them to consumers, which
// check and free them; a parked thread keeps blocks in its own stacks until after the release.
TEST_F(BlockCacheStressTest, BlocksFreedByOtherThreadsAreNotLost) {
  constexpr int kProducers = 2;
  constexpr int kConsumers = 2;
  constexpr int kBlocksEach = 6000;
  std::mutex queue_lock;
  std::condition_variable queue_changed;
  std::deque<std::pair<uint8_t*, size_t>> queue;
  int producers_left = kProducers;
  std::vector<int> corrupted(kConsumers, 0);

  std::mutex park_lock;
  std::condition_variable park_changed;
  bool parked_filled = false, released = false;
  std::thread parked([&] {
    std::vector<void*> blocks;
    for (int i = 0; i < 200; ++i) blocks.push_back(cache_->GetBlock(16u << (i % 13)));
    for (void* block : blocks) cache_->FreeBlock(block);
    std::unique_lock<std::mutex> hold(park_lock);
    parked_filled = true;
    park_changed.notify_all();
    park_changed.wait(hold, [&] { return released; });
  });

  std::vector<std::thread> threads;
  for (int p = 0; p < kProducers; ++p) {
    threads.emplace_back([&, p] {
      for (int i = 0; i < kBlocksEach; ++i) {
        size_t size = 1 + static_cast<size_t>((i * 7919 + p * 104729) % 65536);
        auto* block = static_cast<uint8_t*>(cache_->GetBlock(size));
        std::memset(block, static_cast<int>(size & 0xFF), size);
        std::lock_guard<std::mutex> hold(queue_lock);
        queue.emplace_back(block, size);
        queue_changed.notify_one();
      }
      std::lock_guard<std::mutex> hold(queue_lock);
      --producers_left;
      queue_changed.notify_all();
    });
  }
  for (int c = 0; c < kConsumers; ++c) {
    threads.emplace_back([&, c] {
      for (;;) {
        std::pair<uint8_t*, size_t> item;
        {
          std::unique_lock<std::mutex> hold(queue_lock);
          queue_changed.wait(hold, [&] { return !queue.empty() || producers_left == 0; });
          if (queue.empty()) return;
          item = queue.front();
          queue.pop_front();
        }
        auto [block, size] = item;
        for (size_t i = 0; i < size; ++i) corrupted[c] += block[i] != (size & 0xFF);
        cache_->FreeBlock(block);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  {
    std::unique_lock<std::mutex> hold(park_lock);
    park_changed.wait(hold, [&] { return parked_filled; });
  }
  for (int c = 0; c < kConsumers; ++c) EXPECT_EQ(corrupted[c], 0) << "consumer " << c;

  // Every block the heap gave out is cached somewhere, within the limit of each class.
  for (int c = 0; c < BlockCache::kSizeClasses; ++c) {
    EXPECT_LE(cache_->CachedCount(c), BlockCache::kStackDepth);
  }
  EXPECT_GT(TotalCached(), 200);
  EXPECT_EQ(static_cast<size_t>(TotalCached()), heap_.Live());

  // The release takes the parked thread's blocks too.
  cache_->ReleaseCachedBlocks();
  EXPECT_EQ(TotalCached(), 0);
  EXPECT_EQ(heap_.Live(), 0u);
  EXPECT_EQ(heap_.gets, heap_.frees);
  {
    std::lock_guard<std::mutex> hold(park_lock);
    released = true;
    park_changed.notify_all();
  }
  parked.join();
  EXPECT_EQ(heap_.Live(), 0u);
}

}  // namespace
}  // namespace dunmarrow::test
