#include "runtime/block_cache.h"

#include <bit>
#include <cstring>
#include <new>

#include "platform/windows.h"

#if defined(__SANITIZE_ADDRESS__)
#define DUNMARROW_POISON_CACHED_BLOCKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DUNMARROW_POISON_CACHED_BLOCKS 1
#endif
#endif

#ifdef DUNMARROW_POISON_CACHED_BLOCKS
#include <sanitizer/asan_interface.h>
#endif

namespace dunmarrow {

namespace {

static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 16);

CRITICAL_SECTION* SectionOf(unsigned char* storage) {
  return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}

// A cached block belongs to nobody: under AddressSanitizer any use of it is reported.
void PoisonCached([[maybe_unused]] void* block, [[maybe_unused]] size_t size) {
#ifdef DUNMARROW_POISON_CACHED_BLOCKS
  ASAN_POISON_MEMORY_REGION(block, size);
#endif
}

void UnpoisonTaken([[maybe_unused]] void* block, [[maybe_unused]] size_t size) {
#ifdef DUNMARROW_POISON_CACHED_BLOCKS
  ASAN_UNPOISON_MEMORY_REGION(block, size);
#endif
}

// The largest power of two not above size, as a shift; -1 for 0.
int FloorShift(size_t size) {
  return size == 0 ? -1 : static_cast<int>(std::bit_width(size)) - 1;
}

}  // namespace

BlockCache::BlockCache(UnderlyingHeap& heap) : heap_(heap) {
  std::memset(classes_, 0, sizeof classes_);
  InitializeCriticalSection(SectionOf(lock_));
}

BlockCache::~BlockCache() {
  DeleteCriticalSection(SectionOf(lock_));
}

void BlockCache::Lock() {
  EnterCriticalSection(SectionOf(lock_));
}
void BlockCache::Unlock() {
  LeaveCriticalSection(SectionOf(lock_));
}

size_t BlockCache::RoundedSize(size_t size) {
  if (size <= (size_t{1} << kSmallestShift)) return size_t{1} << kSmallestShift;
  if (size > (~size_t{0} >> 1) + 1) return 0;
  return std::bit_ceil(size);
}

void* BlockCache::GetBlock(size_t size) {
  size_t rounded = RoundedSize(size);
  if (rounded == 0) return nullptr;
  int shift = FloorShift(rounded);
  if (shift <= kLargestShift) {
    SizeClass& size_class = classes_[shift - kSmallestShift];
    void* block = nullptr;
    Lock();
    if (caching_ && size_class.count > 0) {
      --size_class.count;
      block = size_class.blocks[size_class.count];
      size_class.blocks[size_class.count] = nullptr;
    }
    Unlock();
    if (block) {
      UnpoisonTaken(block, rounded);
      return block;
    }
  }
  // A miss goes to the heap outside the lock.
  return heap_.Get(rounded);
}

void BlockCache::FreeBlock(void* block) {
  if (!block) return;
  size_t size = heap_.SizeOf(block);
  int shift = FloorShift(size);
  if (shift < kSmallestShift || shift > kLargestShift) {
    heap_.Free(block);
    return;
  }
  SizeClass& size_class = classes_[shift - kSmallestShift];
  Lock();
  if (caching_ && size_class.count < kStackDepth) {
    PoisonCached(block, size);
    size_class.blocks[size_class.count] = block;
    ++size_class.count;
  } else {
    heap_.Free(block);
  }
  Unlock();
}

void* BlockCache::ResizeBlock(void* block, size_t size) {
  if (!block) return GetBlock(size);
  size_t rounded = RoundedSize(size);
  if (rounded == 0) return nullptr;
  size_t old_size = heap_.SizeOf(block);
  if (old_size >= rounded) return block;
  // Get, copy and free under one hold of the lock; the nested calls enter it again.
  Lock();
  void* moved = GetBlock(rounded);
  if (moved) {
    std::memcpy(moved, block, old_size);
    FreeBlock(block);
  }
  Unlock();
  return moved;
}

void BlockCache::ReleaseCachedBlocks() {
  Lock();
  caching_ = false;
  for (int c = 0; c < kSizeClasses; ++c) {
    SizeClass& size_class = classes_[c];
    while (size_class.count > 0) {
      --size_class.count;
      void* block = size_class.blocks[size_class.count];
      size_class.blocks[size_class.count] = nullptr;
      UnpoisonTaken(block, size_t{1} << (c + kSmallestShift));
      heap_.Free(block);
    }
  }
  Unlock();
}

void BlockCache::ResumeCaching() {
  Lock();
  caching_ = true;
  Unlock();
}

int32_t BlockCache::CachedCount(int size_class) const {
  if (size_class < 0 || size_class >= kSizeClasses) return 0;
  return classes_[size_class].count;
}

namespace {

// The module's own heap: on Windows a private heap of the DLL, apart from the server's.
class ModuleHeap final : public UnderlyingHeap {
 public:
  ModuleHeap() : heap_(HeapCreate(0, 0, 0)) {}
  void* Get(size_t size) override { return heap_ ? HeapAlloc(heap_, 0, size) : nullptr; }
  void Free(void* block) override { HeapFree(heap_, 0, block); }
  size_t SizeOf(const void* block) override { return HeapSize(heap_, 0, block); }

 private:
  HANDLE heap_;
};

}  // namespace

BlockCache& ModuleBlockCache() {
  // Built in place on first use and never destroyed: blocks may still be freed while the
  // process shuts down. The first allocation of the module may come before its load step.
  static BlockCache* cache = [] {
    alignas(ModuleHeap) static unsigned char heap_storage[sizeof(ModuleHeap)];
    alignas(BlockCache) static unsigned char cache_storage[sizeof(BlockCache)];
    auto* heap = new (heap_storage) ModuleHeap();
    return new (cache_storage) BlockCache(*heap);
  }();
  return *cache;
}

void InstallBlockCache() {
  ModuleBlockCache().ResumeCaching();
}

void ReleaseBlockCache() {
  ModuleBlockCache().ReleaseCachedBlocks();
}

}  // namespace dunmarrow
