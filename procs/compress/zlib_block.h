// The two block routines that carry all zlib work: a byte block in, a newly allocated byte
// block out, in the zlib stream format (RFC 1950) with nothing before or after the stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/block_cache.h"
#include "runtime/failure.h"

namespace dunmarrow {

class EZlibError : public Exception {
 public:
  EZlibError(std::string message, const void* address) : Exception(std::move(message), address) {}
};

class ECompressionError : public EZlibError {
 public:
  using EZlibError::EZlibError;
};

class EDecompressionError : public EZlibError {
 public:
  using EZlibError::EZlibError;
};

// The message of every zlib failure, whatever status caused it.
inline constexpr const char kZlibErrorMessage[] = "Error";

// The largest output of a block routine: the largest length a result column can carry.
inline constexpr int32_t kMaxBlockLength = 0x7FFFFFFF;

struct BlockDeleter {
  void operator()(uint8_t* block) const { FreeBlock(block); }
};
using BlockPtr = std::unique_ptr<uint8_t[], BlockDeleter>;

// An output block of the module's allocator and the number of bytes used in it.
struct ZBlock {
  BlockPtr data;
  int32_t length = 0;
};

// The first output size of compression: n + n/10 + 12, rounded up to a multiple of 256.
int64_t ZCompressFirstSize(int32_t length);
// The growth step of decompression: n rounded up to a multiple of 256 (0 for no input).
int64_t ZDecompressGrowthStep(int32_t length);

// Deflates the input (level 9, window 15, memory level 8, default strategy). Raises
// ECompressionError for any zlib failure and "Out of memory" when the output cannot grow or
// would pass max_length.
ZBlock ZCompressBlock(const void* input, int32_t length, int32_t max_length = kMaxBlockLength);

// Inflates one zlib stream from the input; bytes after the stream are not looked at. The
// output starts at `estimate` bytes (0: the growth step) and grows by the growth step.
// Raises EDecompressionError for data that is not a complete, intact zlib stream, and "Out of
// memory" when the output cannot grow or would pass max_length.
ZBlock ZDecompressBlock(const void* input, int32_t length, int32_t estimate,
                        int32_t max_length = kMaxBlockLength);

}  // namespace dunmarrow
