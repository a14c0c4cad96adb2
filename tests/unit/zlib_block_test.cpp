// The block routines over real zlib: output sizes, round trips, streams of other
// compressors, the output limit, and every sort of bad stream.
#include "procs/compress/zlib_block.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/unit/zlib_streams.h"

namespace dunmarrow::test {
namespace {

ByteVector Bytes(const ZBlock& block) {
  return ByteVector(block.data.get(), block.data.get() + block.length);
}

ByteVector Compressed(const ByteVector& input) {
  return Bytes(ZCompressBlock(input.data(), static_cast<int32_t>(input.size())));
}

ByteVector Decompressed(const ByteVector& input, int32_t estimate = 0) {
  return Bytes(ZDecompressBlock(input.data(), static_cast<int32_t>(input.size()), estimate));
}

// The failure a call raises: its message, and whether it is a decompression error.
struct Raised {
  std::string message;
  bool decompression_error = false;
};

Raised RaisedBy(const std::function<void()>& call) {
  try {
    call();
  } catch (const EDecompressionError& failure) {
    return {failure.Message(), true};
  } catch (const Exception& failure) {
    return {failure.Message(), false};
  }
  return {"(nothing raised)", false};
}

TEST(ZlibBlockTest, FirstSizesAndGrowthSteps) {
  EXPECT_EQ(ZCompressFirstSize(0), 256);
  EXPECT_EQ(ZCompressFirstSize(232), 512);
  EXPECT_EQ(ZCompressFirstSize(1000), 1280);
  EXPECT_EQ(ZCompressFirstSize(0x7FFFFFFF), 0x8CCCCD00);  // computed without overflow
  EXPECT_EQ(ZDecompressGrowthStep(0), 0);
  EXPECT_EQ(ZDecompressGrowthStep(1), 256);
  EXPECT_EQ(ZDecompressGrowthStep(256), 256);
  EXPECT_EQ(ZDecompressGrowthStep(257), 512);
}

TEST(ZlibBlockTest, EmptyInputGivesTheEmptyStream) {
  ZBlock block = ZCompressBlock(nullptr, 0);
  EXPECT_EQ(Bytes(block), (ByteVector{0x78, 0xDA, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}));
  // The first size, 256 bytes, is the block it was written into.
  EXPECT_EQ(ModuleBlockCache().BlockSize(block.data.get()), 256u);
  ZBlock empty = ZDecompressBlock(block.data.get(), block.length, 0);
  EXPECT_EQ(empty.length, 0);
}

TEST(ZlibBlockTest, RoundTripsMatchZlibAtTheSameSettings) {
  std::vector<ByteVector> inputs = {
      {0x41},
      TextBytes(232),
      RandomBytes(1000, 1),
      TextBytes(100000),
      ByteVector(1 << 20, 0),
      RandomBytes(300000, 2),
  };
  for (const auto& input : inputs) {
    ByteVector compressed = Compressed(input);
    EXPECT_EQ(compressed, Deflate(input)) << input.size();
    EXPECT_EQ(Compressed(input), compressed) << input.size();
    EXPECT_EQ(Decompressed(compressed), input) << input.size();
  }
}

TEST(ZlibBlockTest, IncompressibleInputStaysWithinItsFirstSize) {
  ByteVector random = RandomBytes(1000, 3);
  ZBlock block = ZCompressBlock(random.data(), 1000);
  EXPECT_LE(block.length, 1011);
  // Written into the first block of 1280 bytes (a block of 2048): no growth step was needed.
  EXPECT_EQ(ModuleBlockCache().BlockSize(block.data.get()), 2048u);
  EXPECT_EQ(Decompressed(Bytes(block)), random);
}

TEST(ZlibBlockTest, OutputGrowsPastATinyFirstSize) {
  // 1 MiB of zeros from about 1 KiB of stream: hundreds of growth steps.
  ByteVector zeros(1 << 20, 0);
  ByteVector compressed = Compressed(zeros);
  ASSERT_LT(compressed.size(), 2000u);
  EXPECT_EQ(Decompressed(compressed), zeros);
  // An estimate is the first size; any estimate gives the same bytes.
  for (int32_t estimate : {1, 255, 1 << 20, (1 << 20) + 1, 3 << 20}) {
    EXPECT_EQ(Decompressed(compressed, estimate), zeros) << estimate;
  }
  ByteVector small = Compressed({'a', 'b', 'c'});
  ZBlock estimated = ZDecompressBlock(small.data(), static_cast<int32_t>(small.size()), 100000);
  EXPECT_EQ(ModuleBlockCache().BlockSize(estimated.data.get()), 131072u);
  ZBlock stepped = ZDecompressBlock(small.data(), static_cast<int32_t>(small.size()), 0);
  EXPECT_EQ(ModuleBlockCache().BlockSize(stepped.data.get()), 256u);
}

TEST(ZlibBlockTest, StreamsOfOtherSettingsDecompress) {
  ByteVector input = TextBytes(70000);
  input.insert(input.end(), 5000, 0);
  for (int level = 0; level <= 9; ++level) {
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
      EXPECT_EQ(Decompressed(Deflate(input, level, 15, 8, strategy)), input)
          << level << " " << strategy;
    }
  }
  for (int window = 9; window <= 15; ++window) {
    for (int mem_level : {1, 9}) {
      EXPECT_EQ(Decompressed(Deflate(input, 6, window, mem_level)), input) << window;
    }
  }
}

TEST(ZlibBlockTest, BytesAfterTheStreamAreNotLookedAt) {
  ByteVector input = TextBytes(5000);
  ByteVector stream = Compressed(input);
  for (ByteVector tail : {ByteVector{0}, RandomBytes(3000, 4), stream}) {
    ByteVector padded = stream;
    padded.insert(padded.end(), tail.begin(), tail.end());
    EXPECT_EQ(Decompressed(padded), input) << tail.size();
  }
}

TEST(ZlibBlockTest, BadStreamsRaiseDecompressionError) {
  ByteVector input = TextBytes(20000);
  ByteVector stream = Compressed(input);
  ByteVector flipped_adler = stream;
  flipped_adler[stream.size() - 2] ^= 0x10;
  ByteVector corrupt = stream;
  for (size_t i = 40; i < 60; ++i) corrupt[i] ^= 0x5A;
  ByteVector bad_header = stream;
  bad_header[1] = 0x00;
  ByteVector gzip = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03,
                     0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  ByteVector raw(stream.begin() + 2, stream.end() - 4);
  ByteVector dictionary = Deflate(input);
  dictionary[1] |= 0x20;  // FDICT, with FCHECK made right again below
  dictionary[1] = static_cast<uint8_t>(dictionary[1] - (dictionary[0] * 256 + dictionary[1]) % 31);
  ASSERT_EQ((dictionary[0] * 256 + dictionary[1]) % 31, 0);
  ASSERT_NE(dictionary[1] & 0x20, 0);
  std::vector<std::pair<std::string, ByteVector>> cases = {
      {"empty", {}},
      {"one byte", {0x78}},
      {"header only", {0x78, 0xDA}},
      {"flipped Adler-32", flipped_adler},
      {"corrupt deflate data", corrupt},
      {"bad header", bad_header},
      {"gzip", gzip},
      {"raw deflate", raw},
      {"preset dictionary", dictionary},
      {"random", RandomBytes(5000, 5)},
  };
  for (const auto& [name, bytes] : cases) {
    Raised raised = RaisedBy([&] { Decompressed(bytes); });
    EXPECT_TRUE(raised.decompression_error) << name << ": " << raised.message;
    EXPECT_EQ(raised.message, "Error") << name;
  }
  // Every cut of the stream short of its end fails, whatever the estimate.
  for (size_t length = 0; length < stream.size(); ++length) {
    ByteVector cut(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(length));
    for (int32_t estimate : {0, 1, 20000}) {
      Raised raised = RaisedBy([&] { Decompressed(cut, estimate); });
      ASSERT_TRUE(raised.decompression_error) << length << " " << estimate;
    }
  }
}

TEST(ZlibBlockTest, OutputPastTheLimitIsOutOfMemory) {
  constexpr int32_t kLimit = 1 << 20;
  ByteVector exact = ZeroBomb(kLimit);
  ZBlock full = ZDecompressBlock(exact.data(), static_cast<int32_t>(exact.size()), 0, kLimit);
  EXPECT_EQ(full.length, kLimit);
  for (uint64_t size : {uint64_t{kLimit} + 1, uint64_t{1} << 32}) {
    ByteVector bomb = ZeroBomb(size);
    Raised raised = RaisedBy(
        [&] { ZDecompressBlock(bomb.data(), static_cast<int32_t>(bomb.size()), 0, kLimit); });
    EXPECT_EQ(raised.message, "Out of memory") << size;
    EXPECT_FALSE(raised.decompression_error);
  }
  ByteVector random = RandomBytes(2000, 6);
  Raised raised = RaisedBy([&] { ZCompressBlock(random.data(), 2000, 1500); });
  EXPECT_EQ(raised.message, "Out of memory");
  EXPECT_EQ(Bytes(ZCompressBlock(random.data(), 2000, 2011)), Deflate(random));
}

TEST(ZlibBlockTest, NegativeLengthsAreRangeErrors) {
  uint8_t byte = 0;
  EXPECT_EQ(RaisedBy([&] { ZCompressBlock(&byte, -1); }).message, "Range check error");
  EXPECT_EQ(RaisedBy([&] { ZDecompressBlock(&byte, -1, 0); }).message, "Range check error");
  EXPECT_EQ(RaisedBy([&] { ZDecompressBlock(&byte, 1, -5); }).message, "Range check error");
}

}  // namespace
}  // namespace dunmarrow::test
