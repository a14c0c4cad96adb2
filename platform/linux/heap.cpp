// Linux stand-ins: private heaps (HeapCreate, HeapAlloc, HeapFree, HeapSize).
#include "platform/linux/heap.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "platform/linux/errors.h"

namespace {

// Each block is preceded by a header that records the size it was asked for, as the Windows
// heap does; the header keeps the block 16-byte aligned.
struct alignas(16) BlockHeader {
  SIZE_T size;
  uint32_t magic;
};
static_assert(sizeof(BlockHeader) == 16);

constexpr uint32_t kLiveBlock = 0x48454150;  // "HEAP"

BlockHeader* HeaderOf(LPCVOID block) {
  return reinterpret_cast<BlockHeader*>(const_cast<char*>(static_cast<const char*>(block)) -
                                        sizeof(BlockHeader));
}

}  // namespace

extern "C" {

HANDLE HeapCreate(DWORD, SIZE_T, SIZE_T) {
  // Every heap hands out blocks of the process allocator; a heap is only a distinct handle,
  // never dereferenced, so creating one allocates nothing.
  static std::atomic<uintptr_t> heaps{0};
  return reinterpret_cast<HANDLE>((heaps.fetch_add(1) + 1) * 16);
}

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  if (!heap || bytes > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
  void* raw = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, sizeof(BlockHeader) + bytes)
                                         : std::malloc(sizeof(BlockHeader) + bytes);
  if (!raw) return nullptr;
  auto* header = static_cast<BlockHeader*>(raw);
  header->size = bytes;
  header->magic = kLiveBlock;
  return header + 1;
}

BOOL HeapFree(HANDLE heap, DWORD, LPVOID block) {
  if (!block) return TRUE;
  BlockHeader* header = HeaderOf(block);
  if (!heap || header->magic != kLiveBlock) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  header->magic = 0;
  std::free(header);
  return TRUE;
}

SIZE_T HeapSize(HANDLE heap, DWORD, LPCVOID block) {
  if (!heap || !block) return static_cast<SIZE_T>(-1);
  const BlockHeader* header = HeaderOf(block);
  if (header->magic != kLiveBlock) return static_cast<SIZE_T>(-1);
  return header->size;
}

}  // extern "C"
