// Heaps: private heaps of a module (HeapCreate) and their blocks.
#pragma once

#include <cstddef>

#include "platform/linux/types.h"

typedef size_t SIZE_T;

#define HEAP_NO_SERIALIZE 0x00000001u
#define HEAP_GENERATE_EXCEPTIONS 0x00000004u
#define HEAP_ZERO_MEMORY 0x00000008u

extern "C" {
// A growable heap; initial and maximum sizes are not enforced. Never returns null.
WINAPI_EXPORT HANDLE HeapCreate(DWORD options, SIZE_T initial_size, SIZE_T maximum_size);
// A block of at least `bytes` bytes (a block of 0 bytes is valid), 16-byte aligned; null when
// memory is exhausted. HEAP_ZERO_MEMORY clears it.
WINAPI_EXPORT LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
// Frees a block of the heap; a null block is no error.
WINAPI_EXPORT BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);
// The size the block was asked for, or (SIZE_T)-1 for a null block.
WINAPI_EXPORT SIZE_T HeapSize(HANDLE heap, DWORD flags, LPCVOID block);
}
