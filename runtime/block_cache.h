// BlockCache: the allocator behind every allocation of the module. Requests are rounded up to
// a power of two, and freed blocks of 16 bytes to 64 KiB are kept for reuse, so the many
// short-lived allocations of each procedure call are served again without going back to the
// heap.
//
// The server runs procedures on many threads at once, so the cache has two levels:
// - each thread has a small stack per size class of its own (ThreadDepth blocks). Its blocks
//   are taken and given back without any lock; other threads only read its counts, and empty
//   it at unload, when no thread allocates through the cache any more;
// - behind them, one shared stack per size class, each under its own lock. A thread whose
//   stack is full moves its older half there; a thread whose stack is empty takes a batch
//   from there. A thread that ends moves all its blocks there.
// A block freed by one thread and wanted by another travels through the shared stacks. The
// Windows DLL uses the shared stacks alone (see CurrentThreadCache).
//
// What a single thread sees is the plain stack per class: the block it freed last of a class
// is the next it is given. At most kStackDepth blocks per class are cached in all: a class
// keeps a count of free places, from which each thread reserves places for its own stack in
// batches (the shared stack's blocks and the places reserved by threads never exceed it); a
// block that finds no place goes back to the heap. Unloading gives every cached block, those
// of the threads' stacks included, back to the heap.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

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
  static constexpr int32_t kThreadDepthMax = 64;

  explicit BlockCache(UnderlyingHeap& heap);
  // Cached blocks are not given back to the heap: the cache lives as long as the process.
  // Threads still holding stacks of this cache drop them.
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

  // Gives every cached block back to the heap, those in other threads' stacks too, and stops
  // caching: from then on blocks come from and go to the heap directly. Used when the module
  // is unloaded, so that the blocks it kept are not lost with it; no other thread may be
  // allocating through the cache meanwhile (none runs module code then).
  void ReleaseCachedBlocks();
  // Starts caching again (a load after an unload).
  void ResumeCaching();

  // The size of a block as the heap recorded it.
  size_t BlockSize(const void* block) const { return heap_.SizeOf(block); }
  // The number of cached blocks of 2^(size_class + 4) bytes, in every thread's stack and the
  // shared one.
  int32_t CachedCount(int size_class) const;

  // 16 for requests up to 16 bytes, otherwise the smallest power of two not above the size;
  // 0 when that does not fit in size_t.
  static size_t RoundedSize(size_t size);
  // The depth of a thread's own stack of a class: 64 blocks, fewer for the large classes, so
  // that a thread keeps at most 512 KiB of each.
  static constexpr int32_t ThreadDepth(int size_class) {
    int32_t by_bytes = int32_t{1} << (19 - kSmallestShift - size_class);
    return by_bytes > kThreadDepthMax ? kThreadDepthMax : by_bytes < 8 ? 8 : by_bytes;
  }

  struct ThreadCache;  // a thread's stacks of one cache (block_cache.cpp)

 private:
  struct SharedClass {
    std::mutex lock;
    int32_t count = 0;  // under the lock
    // kStackDepth minus the shared blocks and the places the threads have reserved.
    std::atomic<int32_t> free_places{kStackDepth};
    void* blocks[kStackDepth];
  };

  ThreadCache* CurrentThreadCache();
  ThreadCache* AttachThread();
  void* TakeFromShared(ThreadCache& cache, int size_class);
  bool MakeRoom(ThreadCache& cache, int size_class);
  void MoveToShared(ThreadCache& cache, int size_class, int32_t n);
  void* SharedGet(int size_class);
  bool SharedPut(int size_class, void* block);
  void DetachThread(ThreadCache& cache);
  friend struct ThreadRecord;

  UnderlyingHeap& heap_;
  const uint64_t id_;  // never reused, so that a thread's memo of a destroyed cache fails
  std::atomic<bool> caching_{true};
  ThreadCache* threads_ = nullptr;  // under the registry lock (block_cache.cpp)
  SharedClass classes_[kSizeClasses];
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
