// A heap for BlockCache's tests that counts what reaches it and frees at the end what the
// cache under test kept.
#pragma once

#include <mutex>
#include <set>

#include "platform/windows.h"
#include "runtime/block_cache.h"

namespace dunmarrow::test {

class CountingHeap : public UnderlyingHeap {
 public:
  ~CountingHeap() override {
    for (void* block : live_) HeapFree(heap_, 0, block);
  }
  void* Get(size_t size) override {
    std::lock_guard<std::mutex> hold(mutex_);
    ++gets;
    last_get_size = size;
    void* block = fail_gets ? nullptr : HeapAlloc(heap_, 0, size);
    if (block) live_.insert(block);
    return block;
  }
  void Free(void* block) override {
    std::lock_guard<std::mutex> hold(mutex_);
    ++frees;
    live_.erase(block);
    HeapFree(heap_, 0, block);
  }
  size_t SizeOf(const void* block) override { return HeapSize(heap_, 0, block); }
  // The blocks given out and not given back.
  size_t Live() {
    std::lock_guard<std::mutex> hold(mutex_);
    return live_.size();
  }

  int gets = 0;
  int frees = 0;
  size_t last_get_size = 0;
  bool fail_gets = false;

 private:
  static HANDLE SharedHeap() {
    static HANDLE heap = HeapCreate(0, 0, 0);
    return heap;
  }

  HANDLE heap_ = SharedHeap();
  std::mutex mutex_;
  std::set<void*> live_;
};

}  // namespace dunmarrow::test
