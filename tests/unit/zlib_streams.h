// zlib streams for tests: made by zlib itself at any setting, and hand-built streams that
// inflate to a chosen number of zero bytes at zlib's largest ratio (about 1032 to 1).
#pragma once

#include <zlib.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

namespace dunmarrow::test {

using ByteVector = std::vector<uint8_t>;

inline ByteVector Deflate(const ByteVector& input, int level = 9, int window_bits = 15,
                          int mem_level = 8, int strategy = Z_DEFAULT_STRATEGY) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, window_bits, mem_level, strategy) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  ByteVector out(deflateBound(&stream, input.size()));
  stream.next_in = const_cast<Bytef*>(input.data());
  stream.avail_in = static_cast<uInt>(input.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  int status = deflate(&stream, Z_FINISH);
  deflateEnd(&stream);
  if (status != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(stream.total_out);
  return out;
}

inline ByteVector Inflate(const ByteVector& input, size_t expected_size) {
  ByteVector out(expected_size);
  uLongf size = expected_size;
  if (uncompress(out.data(), &size, input.data(), input.size()) != Z_OK) {
    throw std::runtime_error("uncompress");
  }
  out.resize(size);
  return out;
}

inline ByteVector RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  ByteVector out(size);
  for (auto& byte : out) byte = static_cast<uint8_t>(random());
  return out;
}

// Text that compresses about as well as prose does.
inline ByteVector TextBytes(size_t size) {
  static const char* const kWords[] = {
      "the ",    "server ", "calls ",  "an ",    "extended ", "procedure ", "with ",       "one ",
      "handle ", "per ",    "client ", "call, ", "and ",      "reads ",     "parameters. "};
  std::mt19937 random(7);
  ByteVector out;
  out.reserve(size + 16);
  while (out.size() < size) {
    for (const char* c = kWords[random() % 15]; *c; ++c) out.push_back(static_cast<uint8_t>(*c));
  }
  out.resize(size);
  return out;
}

// A zlib stream of one dynamic-Huffman block that inflates to `size` zero bytes: a literal 0,
// then matches of 258 bytes at distance 1 coded in 2 bits each, literals for the rest.
inline ByteVector ZeroBomb(uint64_t size) {
  ByteVector out = {0x78, 0x9C};
  uint32_t bits = 0;
  int count = 0;
  auto put = [&](uint32_t value, int width) {  // LSB first, as deflate packs its fields
    for (int i = 0; i < width; ++i) {
      bits |= ((value >> i) & 1u) << count;
      if (++count == 8) {
        out.push_back(static_cast<uint8_t>(bits));
        bits = 0;
        count = 0;
      }
    }
  };
  auto code = [&](uint32_t value, int width) {  // Huffman codes go MSB first
    for (int i = width - 1; i >= 0; --i) put((value >> i) & 1u, 1);
  };
  put(1, 1);   // final block
  put(2, 2);   // dynamic Huffman codes
  put(29, 5);  // 286 literal/length codes
  put(0, 5);   // 1 distance code
  put(14, 4);  // 18 code length codes
  // Code length code lengths in their order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1:
  // symbol 18 gets 1 bit, symbols 1 and 2 get 2 bits.
  const int kClen[18] = {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2};
  for (int length : kClen) put(static_cast<uint32_t>(length), 3);
  // Codes: 18 -> 0, 1 -> 10, 2 -> 11. Lengths: literal 0 is 2, 1..255 none, 256 is 2,
  // 257..284 none, 285 is 1; the one distance code is 1.
  code(3, 2);                    // length 2 (literal 0)
  code(0, 1), put(138 - 11, 7);  // 138 zeros
  code(0, 1), put(117 - 11, 7);  // 117 zeros (1..255)
  code(3, 2);                    // length 2 (end of block)
  code(0, 1), put(28 - 11, 7);   // 28 zeros (257..284)
  code(2, 2);                    // length 1 (285)
  code(2, 2);                    // distance code 0: length 1
  // Codes: 285 -> 0, literal 0 -> 10, end of block -> 11; distance 0 -> 0.
  uint64_t left = size;
  if (left > 0) {
    code(2, 2);
    --left;
  }
  for (; left >= 258; left -= 258) code(0, 2);  // 285 then distance 1
  for (; left > 0; --left) code(2, 2);
  code(3, 2);
  if (count > 0) out.push_back(static_cast<uint8_t>(bits));
  // The Adler-32 of zeros: a stays 1, b counts the bytes.
  uint32_t adler = static_cast<uint32_t>((size % 65521) << 16 | 1);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(adler >> shift));
  return out;
}

}  // namespace dunmarrow::test
