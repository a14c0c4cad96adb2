// The two zlib block routines of the compression procedures: a byte block in, a newly allocated
// byte block out, in the zlib stream format, with their failures reported as one message.
#include "procs/compress/zlib_block.h"

#include <zlib.h>

#include <algorithm>

namespace dunmarrow {

namespace {

[[noreturn]] __attribute__((noinline)) void RaiseCompressionError() {
  throw ECompressionError(kZlibErrorMessage, __builtin_return_address(0));
}

[[noreturn]] __attribute__((noinline)) void RaiseDecompressionError() {
  throw EDecompressionError(kZlibErrorMessage, __builtin_return_address(0));
}

[[noreturn]] __attribute__((noinline)) void RaiseOutOfMemory() {
  throw Exception(kOutOfMemoryMessage, __builtin_return_address(0));
}

// zlib's working memory comes from the module's allocator.
voidpf ZAlloc(voidpf, uInt items, uInt size) {
  uint64_t bytes = static_cast<uint64_t>(items) * size;
  if (bytes > SIZE_MAX) return Z_NULL;
  return GetBlock(static_cast<size_t>(bytes));
}

void ZFree(voidpf, voidpf address) {
  FreeBlock(address);
}

// The output block of one routine call and the zlib stream writing into it.
class Output {
 public:
  Output(z_stream& stream, int64_t first_size, int32_t max_length)
      : stream_(stream), max_length_(max_length) {
    size_ = std::min<int64_t>(first_size, max_length);
    block_.reset(static_cast<uint8_t*>(GetBlock(static_cast<size_t>(size_))));
    if (!block_) RaiseOutOfMemory();
    stream_.next_out = block_.get();
    stream_.avail_out = static_cast<uInt>(size_);
  }

  // Enlarges the block by `step` bytes, keeping its content, and gives the stream the new
  // space after what it has written.
  void Grow(int64_t step) {
    if (size_ >= max_length_) RaiseOutOfMemory();
    int64_t new_size = std::min<int64_t>(size_ + step, max_length_);
    void* moved = ResizeBlock(block_.get(), static_cast<size_t>(new_size));
    if (!moved) RaiseOutOfMemory();
    (void)block_.release();
    block_.reset(static_cast<uint8_t*>(moved));
    stream_.next_out = block_.get() + stream_.total_out;
    stream_.avail_out = static_cast<uInt>(new_size - static_cast<int64_t>(stream_.total_out));
    size_ = new_size;
  }

  // The block, holding the stream's whole output. Blocks never shrink, so the block keeps
  // its size and only the length says how much of it is used.
  ZBlock Take() { return ZBlock{std::move(block_), static_cast<int32_t>(stream_.total_out)}; }

 private:
  z_stream& stream_;
  int32_t max_length_;
  int64_t size_ = 0;
  BlockPtr block_;
};

void PrepareStream(z_stream& stream, const void* input, int32_t length) {
  stream.zalloc = ZAlloc;
  stream.zfree = ZFree;
  stream.opaque = Z_NULL;
  stream.next_in = static_cast<Bytef*>(const_cast<void*>(input));
  stream.avail_in = static_cast<uInt>(length);
}

}  // namespace

int64_t ZCompressFirstSize(int32_t length) {
  int64_t n = length;
  return (n + n / 10 + 12 + 255) & ~int64_t{255};
}

int64_t ZDecompressGrowthStep(int32_t length) {
  int64_t n = length;
  return (n + 255) & ~int64_t{255};
}

ZBlock ZCompressBlock(const void* input, int32_t length, int32_t max_length) {
  if (length < 0 || max_length < 0) RaiseRangeError();
  z_stream stream{};
  PrepareStream(stream, input, length);
  Output output(stream, ZCompressFirstSize(length), max_length);
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) < 0) {
    RaiseCompressionError();
  }
  try {
    for (;;) {
      int status = deflate(&stream, Z_FINISH);
      if (status < 0) RaiseCompressionError();
      if (status == Z_STREAM_END) break;
      // The output space is used up.
      output.Grow(256);
    }
  } catch (...) {
    deflateEnd(&stream);
    throw;
  }
  if (deflateEnd(&stream) < 0) RaiseCompressionError();
  return output.Take();
}

ZBlock ZDecompressBlock(const void* input, int32_t length, int32_t estimate, int32_t max_length) {
  if (length < 0 || estimate < 0 || max_length < 0) RaiseRangeError();
  z_stream stream{};
  PrepareStream(stream, input, length);
  int64_t step = ZDecompressGrowthStep(length);
  Output output(stream, estimate != 0 ? estimate : step, max_length);
  if (inflateInit(&stream) < 0) RaiseDecompressionError();
  try {
    for (;;) {
      uLong in_before = stream.total_in;
      uLong out_before = stream.total_out;
      int status = inflate(&stream, Z_FINISH);
      if (status == Z_STREAM_END) break;
      if (stream.total_in == in_before && stream.total_out == out_before) {
        RaiseDecompressionError();
      }
      if (stream.avail_out == 0) {
        output.Grow(step);
        continue;
      }
      if (status < 0) RaiseDecompressionError();
      output.Grow(step);
    }
  } catch (...) {
    inflateEnd(&stream);
    throw;
  }
  if (inflateEnd(&stream) < 0) RaiseDecompressionError();
  return output.Take();
}

}  // namespace dunmarrow
