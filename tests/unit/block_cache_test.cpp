// BlockCache over a heap that counts what reaches it: rounding, reuse of cached blocks, the
// depth of the stacks, resizing, and blocks too large to cache.
#include "runtime/block_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "tests/unit/counting_heap.h"

namespace dunmarrow::test {
namespace {

class BlockCacheTest : public ::testing::Test {
 protected:
  CountingHeap heap_;
  // The cache is large (its stacks hold 13 x 16384 addresses): keep it off the stack.
  std::unique_ptr<BlockCache> cache_ = std::make_unique<BlockCache>(heap_);

  static int ClassOf(size_t block_size) {
    int shift = 0;
    while ((size_t{1} << shift) < block_size) ++shift;
    return shift - BlockCache::kSmallestShift;
  }
};

TEST_F(BlockCacheTest, RequestsAreRoundedToPowersOfTwo) {
  struct Case {
    size_t request, block;
  } cases[] = {{0, 16},         {1, 16},         {16, 16},        {17, 32},
               {64, 64},        {65, 128},       {4097, 8192},    {65536, 65536},
               {65537, 131072}, {70000, 131072}, {100000, 131072}};
  for (const auto& c : cases) {
    EXPECT_EQ(BlockCache::RoundedSize(c.request), c.block) << c.request;
    void* block = cache_->GetBlock(c.request);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(cache_->BlockSize(block), c.block) << c.request;
    std::memset(block, 0xA5, c.block);  // the whole block is usable
    cache_->FreeBlock(block);
  }
  EXPECT_EQ(BlockCache::RoundedSize(~size_t{0}), 0u);
  EXPECT_EQ(cache_->GetBlock(~size_t{0} - 10), nullptr);
}

TEST_F(BlockCacheTest, FreedBlockIsServedAgainWithoutTheHeap) {
  void* block = cache_->GetBlock(64);
  cache_->FreeBlock(block);
  int gets = heap_.gets;
  EXPECT_EQ(cache_->GetBlock(50), block);
  EXPECT_EQ(heap_.gets, gets);
  EXPECT_EQ(cache_->CachedCount(ClassOf(64)), 0);
  cache_->FreeBlock(block);
  // Other sizes do not take it.
  void* other = cache_->GetBlock(33 + 64);
  EXPECT_NE(other, block);
  cache_->FreeBlock(other);
}

TEST_F(BlockCacheTest, StacksAreLastInFirstOut) {
  void* a = cache_->GetBlock(200);
  void* b = cache_->GetBlock(200);
  void* c = cache_->GetBlock(200);
  cache_->FreeBlock(a);
  cache_->FreeBlock(b);
  cache_->FreeBlock(c);
  EXPECT_EQ(cache_->CachedCount(ClassOf(256)), 3);
  EXPECT_EQ(cache_->GetBlock(256), c);
  EXPECT_EQ(cache_->GetBlock(129), b);
  EXPECT_EQ(cache_->GetBlock(255), a);
  EXPECT_EQ(heap_.frees, 0);
}

TEST_F(BlockCacheTest, FullStackGivesTheBlockToTheHeap) {
  std::vector<void*> blocks;
  for (int i = 0; i <= BlockCache::kStackDepth; ++i) blocks.push_back(cache_->GetBlock(32));
  for (int i = 0; i < BlockCache::kStackDepth; ++i) cache_->FreeBlock(blocks[i]);
  EXPECT_EQ(cache_->CachedCount(ClassOf(32)), BlockCache::kStackDepth);
  EXPECT_EQ(heap_.frees, 0);
  cache_->FreeBlock(blocks.back());
  EXPECT_EQ(heap_.frees, 1);
  EXPECT_EQ(cache_->CachedCount(ClassOf(32)), BlockCache::kStackDepth);
  // Every cached block comes back once, then the heap serves again.
  std::set<void*> served;
  int gets = heap_.gets;
  for (int i = 0; i < BlockCache::kStackDepth; ++i) served.insert(cache_->GetBlock(17));
  EXPECT_EQ(served.size(), static_cast<size_t>(BlockCache::kStackDepth));
  EXPECT_EQ(heap_.gets, gets);
  void* fresh = cache_->GetBlock(17);
  EXPECT_EQ(heap_.gets, gets + 1);
  for (void* block : served) cache_->FreeBlock(block);
  cache_->FreeBlock(fresh);
}

TEST_F(BlockCacheTest, ResizeNeverShrinksAndMovesContentsWhenGrowing) {
  auto* block = static_cast<uint8_t*>(cache_->GetBlock(128));
  for (int i = 0; i < 128; ++i) block[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(cache_->ResizeBlock(block, 120), block);
  EXPECT_EQ(cache_->ResizeBlock(block, 128), block);
  EXPECT_EQ(cache_->ResizeBlock(block, 1), block);
  auto* moved = static_cast<uint8_t*>(cache_->ResizeBlock(block, 129));
  ASSERT_NE(moved, block);
  EXPECT_EQ(cache_->BlockSize(moved), 256u);
  for (int i = 0; i < 128; ++i) ASSERT_EQ(moved[i], static_cast<uint8_t>(i * 7)) << i;
  // The old block was cached, not given back.
  EXPECT_EQ(cache_->CachedCount(ClassOf(128)), 1);
  EXPECT_EQ(heap_.frees, 0);
  EXPECT_EQ(cache_->GetBlock(100), block);
  cache_->FreeBlock(block);
  cache_->FreeBlock(moved);
}

TEST_F(BlockCacheTest, LargeBlocksGoStraightToAndFromTheHeap) {
  void* block = cache_->GetBlock(100000);
  EXPECT_EQ(heap_.last_get_size, 131072u);
  cache_->FreeBlock(block);
  EXPECT_EQ(heap_.frees, 1);
  for (int c = 0; c < BlockCache::kSizeClasses; ++c) EXPECT_EQ(cache_->CachedCount(c), 0);
  // The largest cached size still is cached.
  void* largest = cache_->GetBlock(65536);
  cache_->FreeBlock(largest);
  EXPECT_EQ(cache_->CachedCount(BlockCache::kSizeClasses - 1), 1);
}

TEST_F(BlockCacheTest, ExhaustedHeapGivesNullAndKeepsTheOldBlock) {
  auto* block = static_cast<uint8_t*>(cache_->GetBlock(1000));
  std::memset(block, 0x3C, 1000);
  heap_.fail_gets = true;
  EXPECT_EQ(cache_->GetBlock(5000), nullptr);
  EXPECT_EQ(cache_->ResizeBlock(block, 5000), nullptr);
  EXPECT_EQ(block[999], 0x3C);
  // A cached block is still served.
  void* small = cache_->GetBlock(10);
  EXPECT_EQ(small, nullptr);
  heap_.fail_gets = false;
  small = cache_->GetBlock(10);
  cache_->FreeBlock(small);
  heap_.fail_gets = true;
  EXPECT_EQ(cache_->GetBlock(16), small);
  heap_.fail_gets = false;
  cache_->FreeBlock(small);
  cache_->FreeBlock(block);
  cache_->FreeBlock(nullptr);
  EXPECT_NE(cache_->ResizeBlock(nullptr, 10), nullptr);
}

TEST_F(BlockCacheTest, ReleaseGivesEveryCachedBlockBackAndStopsCaching) {
  std::vector<void*> blocks;
  for (size_t size : {16, 16, 100, 4000, 65536}) blocks.push_back(cache_->GetBlock(size));
  for (void* block : blocks) cache_->FreeBlock(block);
  EXPECT_EQ(heap_.frees, 0);
  cache_->ReleaseCachedBlocks();
  EXPECT_EQ(heap_.frees, 5);
  for (int c = 0; c < BlockCache::kSizeClasses; ++c) EXPECT_EQ(cache_->CachedCount(c), 0);
  // Blocks freed after the release go straight back.
  void* late = cache_->GetBlock(64);
  cache_->FreeBlock(late);
  EXPECT_EQ(heap_.frees, 6);
  EXPECT_EQ(cache_->CachedCount(ClassOf(64)), 0);
  cache_->ResumeCaching();
  late = cache_->GetBlock(64);
  cache_->FreeBlock(late);
  EXPECT_EQ(cache_->CachedCount(ClassOf(64)), 1);
  EXPECT_EQ(cache_->GetBlock(64), late);
  cache_->FreeBlock(late);
}

TEST(ModuleBlockCacheTest, ServesTheModulesBlocks) {
  InstallBlockCache();
  void* block = GetBlock(40);
  EXPECT_EQ(ModuleBlockCache().BlockSize(block), 64u);
  void* grown = ResizeBlock(block, 70);
  EXPECT_EQ(ModuleBlockCache().BlockSize(grown), 128u);
  FreeBlock(grown);
  EXPECT_EQ(GetBlock(128), grown);
  FreeBlock(grown);
}

}  // namespace
}  // namespace dunmarrow::test
