// BlockCache: the allocator behind every allocation of the module (runtime/block_cache.h).
//
// Map: the size classes and the sanitizer hooks; the per-thread caches and their records; the
// shared stacks between threads; GetBlock, FreeBlock and ResizeBlock; releasing the cached
// blocks and resuming; the module's own cache over its private heap, with its load and unload
// steps (InstallBlockCache, ReleaseBlockCache).
#include "runtime/block_cache.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
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

size_t ClassBytes(int size_class) {
  return size_t{1} << (size_class + BlockCache::kSmallestShift);
}

// Takes up to `wanted` places from a class's free places; the number taken.
int32_t ReservePlaces(std::atomic<int32_t>& free_places, int32_t wanted) {
  int32_t available = free_places.load(std::memory_order_relaxed);
  for (;;) {
    int32_t taken = available < wanted ? available : wanted;
    if (taken <= 0) return 0;
    if (free_places.compare_exchange_weak(available, available - taken,
                                          std::memory_order_relaxed)) {
      return taken;
    }
  }
}

std::atomic<uint64_t> next_cache_id{1};

// Guards the list of thread stacks of every cache and the list of every thread's stacks.
std::mutex registry_lock;

// The thread stacks live in a heap of their own, apart from the heaps they cache for, so that
// a thread can drop them when it ends whatever became of the caches.
HANDLE ThreadStackHeap() {
  static HANDLE heap = HeapCreate(0, 0, 0);
  return heap;
}

}  // namespace

// One thread's stacks of one cache. Only its thread takes and gives blocks here, without any
// lock; another thread only reads the counts, or empties the stacks at unload, when no thread
// allocates through the cache any more.
struct BlockCache::ThreadCache {
  struct Stack {
    // Blocks held: written by the owner thread alone (plain stores), read by CachedCount.
    std::atomic<int32_t> count{0};
    int32_t reserved = 0;  // places reserved in the class's count of free places, >= count
    void* blocks[kThreadDepthMax];
  };

  BlockCache* owner;                      // null once the cache is destroyed (registry lock)
  ThreadCache* next_of_cache = nullptr;   // registry lock
  ThreadCache* next_of_thread = nullptr;  // registry lock
  Stack stacks[kSizeClasses];
};

namespace {

// What the calling thread used last: kept trivially destructible, so that it stays readable
// while the thread's other thread-local objects are destroyed.
struct Memo {
  uint64_t cache_id;
  BlockCache::ThreadCache* cache;
  bool ended;  // the thread's stacks are gone: it uses the shared stacks from now on
};
#if defined(__ELF__)
// The module reads it on every allocation: initial-exec spares the call to find it.
__attribute__((tls_model("initial-exec")))
#endif
thread_local Memo memo{0, nullptr, false};

}  // namespace

// The calling thread's stacks of every cache; when the thread ends they go to the caches'
// shared stacks.
struct ThreadRecord {
  BlockCache::ThreadCache* first = nullptr;
  ~ThreadRecord() {
    std::lock_guard<std::mutex> hold(registry_lock);
    memo = Memo{0, nullptr, true};
    while (BlockCache::ThreadCache* cache = first) {
      first = cache->next_of_thread;
      if (cache->owner) cache->owner->DetachThread(*cache);
      cache->~ThreadCache();
      HeapFree(ThreadStackHeap(), 0, cache);
    }
  }
};

namespace {
thread_local ThreadRecord thread_record;
}  // namespace

BlockCache::BlockCache(UnderlyingHeap& heap) : heap_(heap), id_(next_cache_id.fetch_add(1)) {
  for (SharedClass& shared : classes_)
    std::fill(std::begin(shared.blocks), std::end(shared.blocks), nullptr);
}

BlockCache::~BlockCache() {
  std::lock_guard<std::mutex> hold(registry_lock);
  for (ThreadCache* cache = threads_; cache; cache = cache->next_of_cache) cache->owner = nullptr;
}

size_t BlockCache::RoundedSize(size_t size) {
  if (size <= (size_t{1} << kSmallestShift)) return size_t{1} << kSmallestShift;
  if (size > (~size_t{0} >> 1) + 1) return 0;
  return std::bit_ceil(size);
}

BlockCache::ThreadCache* BlockCache::CurrentThreadCache() {
#if defined(_WIN32)
  // A DLL built with mingw-w64 keeps C++ thread-local objects in emulated TLS, which the
  // runtime may free at thread exit before their destructors have run; a thread's stacks
  // could then be given back through freed memory. On Windows every thread uses the shared
  // stacks, each under its own lock, and nothing of the cache runs when a thread ends.
  return nullptr;
#else
  if (memo.cache_id == id_) return memo.cache;
  return AttachThread();
#endif
}

// The calling thread's stacks of this cache, made on its first use; null once the thread is
// ending or when there is no memory for them.
BlockCache::ThreadCache* BlockCache::AttachThread() {
  if (memo.ended) return nullptr;
  ThreadRecord& record = thread_record;
  std::lock_guard<std::mutex> hold(registry_lock);
  ThreadCache* found = nullptr;
  // Drop the stacks of destroyed caches on the way.
  for (ThreadCache** link = &record.first; *link;) {
    ThreadCache* cache = *link;
    if (!cache->owner) {
      *link = cache->next_of_thread;
      cache->~ThreadCache();
      HeapFree(ThreadStackHeap(), 0, cache);
      continue;
    }
    if (cache->owner == this) found = cache;
    link = &cache->next_of_thread;
  }
  if (!found) {
    void* memory = HeapAlloc(ThreadStackHeap(), 0, sizeof(ThreadCache));
    if (!memory) return nullptr;
    found = new (memory) ThreadCache();
    found->owner = this;
    found->next_of_thread = record.first;
    record.first = found;
    found->next_of_cache = threads_;
    threads_ = found;
  }
  memo = Memo{id_, found, false};
  return found;
}

// Under the registry lock, on the thread that ends: its blocks go to the shared stacks, where
// their reserved places are; the places it reserved beyond them are free again.
void BlockCache::DetachThread(ThreadCache& cache) {
  for (int c = 0; c < kSizeClasses; ++c) {
    ThreadCache::Stack& stack = cache.stacks[c];
    MoveToShared(cache, c, stack.count.load(std::memory_order_relaxed));
    classes_[c].free_places.fetch_add(stack.reserved, std::memory_order_relaxed);
    stack.reserved = 0;
  }
  for (ThreadCache** link = &threads_; *link; link = &(*link)->next_of_cache) {
    if (*link == &cache) {
      *link = cache.next_of_cache;
      break;
    }
  }
}

// The oldest n blocks of a thread's stack go to the shared stack, with their places.
void BlockCache::MoveToShared(ThreadCache& cache, int size_class, int32_t n) {
  if (n <= 0) return;
  ThreadCache::Stack& stack = cache.stacks[size_class];
  SharedClass& shared = classes_[size_class];
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    std::memcpy(shared.blocks + shared.count, stack.blocks, sizeof(void*) * n);
    shared.count += n;
  }
  int32_t count = stack.count.load(std::memory_order_relaxed);
  std::memmove(stack.blocks, stack.blocks + n, sizeof(void*) * (count - n));
  stack.count.store(count - n, std::memory_order_relaxed);
  stack.reserved -= n;
}

// For an empty thread stack: a batch of the shared stack's newest blocks with their places
// (the places reserved beyond them are given back), and the newest of them taken.
void* BlockCache::TakeFromShared(ThreadCache& cache, int size_class) {
  ThreadCache::Stack& stack = cache.stacks[size_class];
  SharedClass& shared = classes_[size_class];
  int32_t n;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    n = shared.count < ThreadDepth(size_class) / 2 ? shared.count : ThreadDepth(size_class) / 2;
    shared.count -= n;
    std::memcpy(stack.blocks, shared.blocks + shared.count, sizeof(void*) * n);
  }
  if (stack.reserved > 0) shared.free_places.fetch_add(stack.reserved, std::memory_order_relaxed);
  stack.reserved = n;
  if (n == 0) return nullptr;
  stack.count.store(n - 1, std::memory_order_relaxed);
  return stack.blocks[n - 1];
}

// Room for one more block in a thread's full stack: when it holds its depth, the older half
// moves to the shared stack; then places are reserved. False when the class has no free place.
bool BlockCache::MakeRoom(ThreadCache& cache, int size_class) {
  ThreadCache::Stack& stack = cache.stacks[size_class];
  const int32_t depth = ThreadDepth(size_class);
  if (stack.reserved == depth) MoveToShared(cache, size_class, depth / 2);
  int32_t wanted = depth / 2 < depth - stack.reserved ? depth / 2 : depth - stack.reserved;
  stack.reserved += ReservePlaces(classes_[size_class].free_places, wanted);
  return stack.count.load(std::memory_order_relaxed) < stack.reserved;
}

// Without a thread stack (a thread that is ending): the shared stack directly.
void* BlockCache::SharedGet(int size_class) {
  SharedClass& shared = classes_[size_class];
  std::lock_guard<std::mutex> hold(shared.lock);
  if (!caching_.load(std::memory_order_relaxed) || shared.count == 0) return nullptr;
  void* block = shared.blocks[--shared.count];
  shared.blocks[shared.count] = nullptr;
  shared.free_places.fetch_add(1, std::memory_order_relaxed);
  return block;
}

bool BlockCache::SharedPut(int size_class, void* block) {
  SharedClass& shared = classes_[size_class];
  std::lock_guard<std::mutex> hold(shared.lock);
  if (!caching_.load(std::memory_order_relaxed) || ReservePlaces(shared.free_places, 1) == 0) {
    return false;
  }
  shared.blocks[shared.count++] = block;
  return true;
}

void* BlockCache::GetBlock(size_t size) {
  size_t rounded = RoundedSize(size);
  if (rounded == 0) return nullptr;
  int shift = FloorShift(rounded);
  if (shift <= kLargestShift) {
    const int c = shift - kSmallestShift;
    void* block = nullptr;
    if (ThreadCache* cache = CurrentThreadCache()) {
      if (caching_.load(std::memory_order_relaxed)) {
        ThreadCache::Stack& stack = cache->stacks[c];
        int32_t count = stack.count.load(std::memory_order_relaxed);
        if (count > 0) {
          block = stack.blocks[count - 1];
          stack.count.store(count - 1, std::memory_order_relaxed);
        } else {
          block = TakeFromShared(*cache, c);
        }
      }
    } else {
      block = SharedGet(c);
    }
    if (block) {
      UnpoisonTaken(block, rounded);
      return block;
    }
  }
  // A miss goes to the heap outside every lock.
  return heap_.Get(rounded);
}

void BlockCache::FreeBlock(void* block) {
  if (!block) return;
  size_t size = heap_.SizeOf(block);
  int shift = FloorShift(size);
  if (shift >= kSmallestShift && shift <= kLargestShift) {
    const int c = shift - kSmallestShift;
    // Poisoned before it is visible to any other thread.
    PoisonCached(block, size);
    bool kept = false;
    if (ThreadCache* cache = CurrentThreadCache()) {
      if (caching_.load(std::memory_order_relaxed)) {
        ThreadCache::Stack& stack = cache->stacks[c];
        if (stack.count.load(std::memory_order_relaxed) < stack.reserved || MakeRoom(*cache, c)) {
          int32_t count = stack.count.load(std::memory_order_relaxed);
          stack.blocks[count] = block;
          stack.count.store(count + 1, std::memory_order_relaxed);
          kept = true;
        }
      }
    } else {
      kept = SharedPut(c, block);
    }
    if (kept) return;
    UnpoisonTaken(block, size);
  }
  heap_.Free(block);
}

void* BlockCache::ResizeBlock(void* block, size_t size) {
  if (!block) return GetBlock(size);
  size_t rounded = RoundedSize(size);
  if (rounded == 0) return nullptr;
  size_t old_size = heap_.SizeOf(block);
  if (old_size >= rounded) return block;
  void* moved = GetBlock(rounded);
  if (moved) {
    std::memcpy(moved, block, old_size);
    FreeBlock(block);
  }
  return moved;
}

void BlockCache::ReleaseCachedBlocks() {
  caching_.store(false);
  std::lock_guard<std::mutex> hold(registry_lock);
  // The other threads' stacks are emptied from here: at unload no thread allocates through
  // the cache any more (no procedure runs); threads that end meanwhile wait for the registry.
  for (ThreadCache* cache = threads_; cache; cache = cache->next_of_cache) {
    for (int c = 0; c < kSizeClasses; ++c) {
      ThreadCache::Stack& stack = cache->stacks[c];
      for (int32_t n = stack.count.load(std::memory_order_relaxed); n > 0; --n) {
        void* block = stack.blocks[n - 1];
        UnpoisonTaken(block, ClassBytes(c));
        heap_.Free(block);
      }
      stack.count.store(0, std::memory_order_relaxed);
      classes_[c].free_places.fetch_add(stack.reserved, std::memory_order_relaxed);
      stack.reserved = 0;
    }
  }
  for (int c = 0; c < kSizeClasses; ++c) {
    SharedClass& shared = classes_[c];
    std::lock_guard<std::mutex> hold_class(shared.lock);
    while (shared.count > 0) {
      void* block = shared.blocks[--shared.count];
      shared.blocks[shared.count] = nullptr;
      UnpoisonTaken(block, ClassBytes(c));
      heap_.Free(block);
      shared.free_places.fetch_add(1, std::memory_order_relaxed);
    }
  }
}

void BlockCache::ResumeCaching() {
  caching_.store(true);
}

int32_t BlockCache::CachedCount(int size_class) const {
  if (size_class < 0 || size_class >= kSizeClasses) return 0;
  auto& self = const_cast<BlockCache&>(*this);
  std::lock_guard<std::mutex> hold(registry_lock);
  int32_t count;
  {
    std::lock_guard<std::mutex> hold_class(self.classes_[size_class].lock);
    count = self.classes_[size_class].count;
  }
  for (ThreadCache* cache = threads_; cache; cache = cache->next_of_cache) {
    count += cache->stacks[size_class].count.load(std::memory_order_relaxed);
  }
  return count;
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
