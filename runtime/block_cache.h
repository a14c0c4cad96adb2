// BlockCache: the allocator behind every allocation of the module. Requests are rounded up to
// a power of two, and freed blocks of 16 bytes to 64 KiB are kept in one stack per size, so
// the many short-lived allocations of each procedure call are served again without going back
// to the heap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dunmarrow {

// The heap under the cache: it serves the misses and takes back what the cache does not keep,
// and it records the size of each of its blocks.
class UnderlyingHeap {
 public:
  virtual ~UnderlyingHeap() = default;
  // A block of exactly `size` usable bytes, or null.
  virtual void* Get(size_t size) = 0;
  virtual void Free(void* block) = 0;
  // The size the block was asked for.
  virtual size_t SizeOf(const void* block) = 0;
};

class BlockCache {
 public:
  static constexpr int kSmallestShift = 4;  // 16 bytes
  static constexpr int kLargestShift = 16;  // 64 KiB
  static constexpr int kSizeClasses = kLargestShift - kSmallestShift + 1;
  static constexpr int32_t kStackDepth = 16384;

  explicit BlockCache(UnderlyingHeap& heap);
  // Cached blocks are not given back to the heap: the cache lives as long as the process.
  ~BlockCache();
  BlockCache(const BlockCache&) = delete;
  BlockCache& operator=(const BlockCache&) = delete;

  // A block of RoundedSize(size) bytes; null when the heap has no memory left or the size
  // cannot be rounded.
  void* GetBlock(size_t size);
  // Keeps the block for reuse when its size class has room, else gives it to the heap. A null
  // block is ignored.
  void FreeBlock(void* block);
  // The block itself when it already holds RoundedSize(size) bytes (blocks never shrink);
  // otherwise a new block with the old contents, the old one freed. Null when no memory is
  // left, and then the old block is untouched. A null block is a plain GetBlock.
  void* ResizeBlock(void* block, size_t size);

  // Gives every cached block back to the heap and stops caching: from then on blocks come
  // from and go to the heap directly. Used when the module is unloaded, so that the blocks
  // it kept are not lost with it.
  void ReleaseCachedBlocks();
  // Starts caching again (a load after an unload).
  void ResumeCaching();

  // The size of a block as the heap recorded it.
  size_t BlockSize(const void* block) const { return heap_.SizeOf(block); }
  // The number of cached blocks of 2^(size_class + 4) bytes.
  int32_t CachedCount(int size_class) const;

  // 16 for requests up to 16 bytes, otherwise the smallest power of two not below the size;
  // 0 when that does not fit in size_t.
  static size_t RoundedSize(size_t size);

 private:
  struct SizeClass {
    int32_t count;
    void* blocks[kStackDepth];
  };

  void Lock();
  void Unlock();

  UnderlyingHeap& heap_;
  // BlockCacheLock: a re-entrant critical section (declared opaque here so that this header
  // does not pull in the platform's).
  alignas(16) unsigned char lock_[64];
  bool caching_ = true;  // under the lock
  SizeClass classes_[kSizeClasses];
};

// The module's own cache over the module's own heap, installed on first use.
BlockCache& ModuleBlockCache();
// The load step: installs the module's cache if no allocation has done so yet.
void InstallBlockCache();
// The last unload step: the cached blocks go back to the module's heap.
void ReleaseBlockCache();

// The module's cache, for the module's C-style allocations.
inline void* GetBlock(size_t size) {
  return ModuleBlockCache().GetBlock(size);
}
inline void FreeBlock(void* block) {
  ModuleBlockCache().FreeBlock(block);
}
inline void* ResizeBlock(void* block, size_t size) {
  return ModuleBlockCache().ResizeBlock(block, size);
}

}  // namespace dunmarrow
