// libFuzzer target for ZDecompressBlock, checked against zlib's own inflate: whatever the
// input, the routine gives exactly the bytes zlib gives for a complete, intact stream and
// raises EDecompressionError for anything else ("Out of memory" past the limit), and never
// reads or writes out of bounds.
// The first input byte chooses the output estimate; the output is limited to 1 MiB.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "procs/compress/zlib_block.h"

namespace {

constexpr int32_t kLimit = 1 << 20;

enum class Outcome { kStream, kBad, kTooLong };

// zlib's answer for the same bytes: the inflated stream, or why there is none.
Outcome Reference(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) std::abort();
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  // The output grows in chunks up to one byte past the limit.
  int status = Z_OK;
  out.clear();
  uint8_t chunk[16384];
  while (out.size() <= static_cast<size_t>(kLimit)) {
    stream.next_out = chunk;
    stream.avail_out =
        static_cast<uInt>(std::min(sizeof chunk, static_cast<size_t>(kLimit) + 1 - out.size()));
    status = inflate(&stream, Z_NO_FLUSH);
    out.insert(out.end(), chunk, stream.next_out);
    if (status != Z_OK || stream.next_out == chunk) break;
  }
  inflateEnd(&stream);
  if (status == Z_STREAM_END) return out.size() > kLimit ? Outcome::kTooLong : Outcome::kStream;
  return out.size() > kLimit ? Outcome::kTooLong : Outcome::kBad;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  int32_t estimate = data[0] < 16 ? data[0] * 97 : 0;
  ++data;
  --size;
  std::vector<uint8_t> expected;
  Outcome outcome = Reference(data, size, expected);
  try {
    dunmarrow::ZBlock block =
        dunmarrow::ZDecompressBlock(data, static_cast<int32_t>(size), estimate, kLimit);
    if (outcome != Outcome::kStream || block.length != static_cast<int32_t>(expected.size()) ||
        (block.length > 0 &&
         std::memcmp(block.data.get(), expected.data(), expected.size()) != 0)) {
      std::abort();
    }
  } catch (const dunmarrow::EDecompressionError& failure) {
    if (outcome != Outcome::kBad || failure.Message() != "Error") std::abort();
  } catch (const dunmarrow::Exception& failure) {
    // A stream cut off exactly at the limit cannot be told from a longer one.
    bool at_limit = outcome == Outcome::kBad && expected.size() == kLimit;
    if ((outcome != Outcome::kTooLong && !at_limit) || failure.Message() != "Out of memory") {
      std::abort();
    }
  }
  return 0;
}
