// The module's allocation functions: every operator new and delete of the module's code,
// the C++ runtime linked into the module included, goes through the module's BlockCache.
// This unit is linked into the module alone: the module's export list keeps these
// definitions local, so the host process keeps its own allocator.
#include <new>

#include "runtime/block_cache.h"

namespace {

void* Allocate(std::size_t size) {
  for (;;) {
    if (void* block = dunmarrow::GetBlock(size)) return block;
    std::new_handler handler = std::get_new_handler();
    if (!handler) throw std::bad_alloc();
    handler();
  }
}

void* AllocateOrNull(std::size_t size) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size);
}

void operator delete(void* block) noexcept {
  dunmarrow::FreeBlock(block);
}
void operator delete[](void* block) noexcept {
  dunmarrow::FreeBlock(block);
}
void operator delete(void* block, std::size_t) noexcept {
  dunmarrow::FreeBlock(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  dunmarrow::FreeBlock(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  dunmarrow::FreeBlock(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  dunmarrow::FreeBlock(block);
}
