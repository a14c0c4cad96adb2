// The compression procedures end to end through the ODS library: buffers made, read and
// closed by handle, and zlib over their contents into the one-row result set "Data".
#include <algorithm>
#include <set>
#include <thread>

#include "platform/linux/server_policy.h"
#include "procs/compress/zbuffer.h"
#include "runtime/xp_lock.h"
#include "tests/unit/call_helpers.h"
#include "tests/unit/procedures.h"
#include "tests/unit/zlib_streams.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;

// The module's load steps for the compression buffers, and their unload steps.
class CompressTest : public DriveRootTest {
 protected:
  void SetUp() override {
    DriveRootTest::SetUp();
    CreateXpLock();
    CreateZBufferRegistry();
  }
  void TearDown() override {
    DestroyZBufferRegistry();
    DeleteXpLock();
    DriveRootTest::TearDown();
  }

  static int Create(std::vector<ods::Param> params) {
    CallResult result = Call(xp_ZCreate, std::move(params));
    EXPECT_EQ(result.Transcript(), std::vector<std::string>{kDone});
    return result.status;
  }
  static int CreateWith(const ByteVector& bytes) { return Create({VarBinaryMax(bytes)}); }

  // The "Data" of a successful call, after checking the whole transcript.
  static ByteVector Data(const CallResult& result) {
    EXPECT_EQ(result.status, 1);
    const auto& events = result.events;
    EXPECT_EQ(events.size(), 6u);
    if (events.size() != 6) return {};
    std::vector<std::string> lines = result.Transcript();
    EXPECT_EQ(lines[0], "describe 1 \"Data\" type=0x22 len=2147483647 srctype=0x22 srclen=0");
    EXPECT_EQ(events[1].kind, ods::EventKind::SetColLen);
    EXPECT_EQ(events[3].kind, ods::EventKind::SendRow);
    EXPECT_EQ(lines[4], "senddone status=0x0011 info=0 count=1");
    EXPECT_EQ(lines[5], kDone);
    const auto& value = events[3].row.at(0);
    if (!value) {
      EXPECT_EQ(lines[1], "setcollen 1 0");
      return {};
    }
    EXPECT_EQ(events[1].length, static_cast<int32_t>(value->size()));
    return *value;
  }

  static ByteVector Compressed(int handle) { return Data(Call(xp_ZCompress, {Int(handle)})); }
  static ByteVector Decompressed(int handle) { return Data(Call(xp_ZDecompress, {Int(handle)})); }
  // The bytes a buffer holds, read back through compression.
  static ByteVector Content(int handle, size_t size_bound = 1 << 20) {
    return Inflate(Compressed(handle), size_bound);
  }
};

TEST_F(CompressTest, CreateStoresTheValueBytesAsTheServerPassedThem) {
  struct Case {
    std::string name;
    std::vector<ods::Param> params;
    ByteVector bytes;
  } cases[] = {
      {"varchar", {VarChar("abc")}, {'a', 'b', 'c'}},
      {"nvarchar", {NVarChar(u"abc")}, {'a', 0, 'b', 0, 'c', 0}},
      {"int", {Int(0x01020304)}, {4, 3, 2, 1}},
      {"varbinary", {VarBinary({0, 0xFF, 0})}, {0, 0xFF, 0}},
      {"NULL", {Null(SRVBIGVARCHAR, 10)}, {}},
      {"empty text", {VarChar("")}, {}},
      {"no parameter", {}, {}},
      {"two parameters", {VarChar("abc"), VarChar("def")}, {}},
      {"100000 bytes", {Image(TextBytes(100000))}, TextBytes(100000)},
      {"100000 characters", {VarCharMax(std::string(100000, 'q'))}, ByteVector(100000, 'q')},
  };
  for (const auto& c : cases) {
    int handle = Create(c.params);
    EXPECT_NE(handle, -1) << c.name;
    EXPECT_NE(handle, 0) << c.name;
    EXPECT_EQ(Content(handle), c.bytes) << c.name;
  }
}

TEST_F(CompressTest, HandlesAreDistinctWhileTheirBuffersLive) {
  std::set<int> handles;
  for (int i = 0; i < 200; ++i) handles.insert(Create({}));
  EXPECT_EQ(handles.size(), 200u);
  EXPECT_EQ(handles.count(0) + handles.count(-1), 0u);
  EXPECT_EQ(ZBufferCount(), 200u);
  // A closed handle is not given out again at once.
  int closed = *handles.begin();
  EXPECT_EQ(Call(xp_ZClose, {Int(closed)}).status, 1);
  for (int i = 0; i < 50; ++i) EXPECT_NE(Create({}), closed);
}

TEST_F(CompressTest, CloseAlwaysAnswersOne) {
  int handle = CreateWith({1, 2, 3});
  for (const auto& params : std::vector<std::vector<ods::Param>>{
           {Int(handle)}, {Int(handle)}, {Int(123456)}, {Int(0)}, {Null(SRVINTN, 4)}, {Int(-1)}}) {
    CallResult result = Call(xp_ZClose, params);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.Transcript(), std::vector<std::string>{kDone});
  }
  EXPECT_EQ(ZBufferCount(), 0u);
  CallResult result = Call(xp_ZCompress, {Int(handle)});
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.Transcript(),
            ContextFailure("xp_ZCompress: No compression buffer has the handle " +
                           std::to_string(handle)));
}

TEST_F(CompressTest, MissingParametersAreInvalidLists) {
  EXPECT_EQ(Call(xp_ZClose, {}).Transcript(),
            ContextFailure("xp_ZClose: Invalid list of parameters."));
  for (auto proc : {xp_ZCompress, xp_ZDecompress}) {
    CallResult result = Call(proc, {});
    EXPECT_EQ(result.status, -1);
    std::string name = proc == xp_ZCompress ? "xp_ZCompress" : "xp_ZDecompress";
    EXPECT_EQ(result.Transcript(), ContextFailure(name + ": Invalid list of parameters."));
  }
}

TEST_F(CompressTest, UnknownHandlesFailWithTheHandleNamed) {
  CreateWith({1});
  struct Case {
    ods::Param param;
    std::string handle;
  } cases[] = {{Int(987654), "987654"},
               {Null(SRVINTN, 4), "0"},
               {Int(-1), "-1"},
               {VarChar("abcd"), std::to_string(0x64636261)}};
  for (const auto& c : cases) {
    CallResult compress = Call(xp_ZCompress, {c.param});
    EXPECT_EQ(compress.status, -1);
    EXPECT_EQ(compress.Transcript(),
              ContextFailure("xp_ZCompress: No compression buffer has the handle " + c.handle));
    EXPECT_EQ(Call(xp_ZDecompress, {c.param}).Transcript(),
              ContextFailure("xp_ZDecompress: No compression buffer has the handle " + c.handle));
  }
}

TEST_F(CompressTest, EmptyBufferCompressesToTheEmptyStream) {
  int handle = Create({});
  CallResult result = Call(xp_ZCompress, {Int(handle)});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(),
            (std::vector<std::string>{
                "describe 1 \"Data\" type=0x22 len=2147483647 srctype=0x22 srclen=0",
                "setcollen 1 8", "setcoldata 1 0x78DA030000000001", "sendrow 0x78DA030000000001",
                "senddone status=0x0011 info=0 count=1", kDone}));
  // Decompressing that stream gives a row without data.
  int empty_stream = CreateWith({0x78, 0xDA, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
  result = Call(xp_ZDecompress, {Int(empty_stream)});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(
      result.Transcript(),
      (std::vector<std::string>{
          "describe 1 \"Data\" type=0x22 len=2147483647 srctype=0x22 srclen=0", "setcollen 1 0",
          "setcoldata 1 none", "sendrow NULL", "senddone status=0x0011 info=0 count=1", kDone}));
  // An empty buffer is no zlib stream.
  EXPECT_EQ(Call(xp_ZDecompress, {Int(handle)}).Transcript(),
            ContextFailure("xp_ZDecompress: Error"));
}

TEST_F(CompressTest, RoundTripsKeepEveryByte) {
  for (const ByteVector& input : {ByteVector{'x'}, RandomBytes(1000, 11), TextBytes(100000)}) {
    int handle = CreateWith(input);
    ByteVector compressed = Compressed(handle);
    EXPECT_EQ(compressed, Deflate(input));
    EXPECT_EQ(Compressed(handle), compressed);  // the same buffer gives the same bytes again
    if (input.size() == 1000) {
      EXPECT_LE(compressed.size(), 1011u);
    }
    int stream = CreateWith(compressed);
    EXPECT_EQ(Decompressed(stream), input) << input.size();
    EXPECT_EQ(Decompressed(stream), input) << input.size();
  }
}

TEST_F(CompressTest, MebibyteOfZerosComesBackWhole) {
  int zeros = CreateWith(ByteVector(1 << 20, 0));
  ByteVector compressed = Compressed(zeros);
  EXPECT_LT(compressed.size(), 2000u);
  int stream = CreateWith(compressed);
  CallResult result = Call(xp_ZDecompress, {Int(stream)});
  EXPECT_EQ(result.Transcript()[1], "setcollen 1 1048576");
  EXPECT_EQ(Data(result), ByteVector(1 << 20, 0));
}

TEST_F(CompressTest, StreamsOfOtherCompressorsAndTrailingBytes) {
  ByteVector input = TextBytes(30000);
  for (int level : {0, 1, 6}) {
    EXPECT_EQ(Decompressed(CreateWith(Deflate(input, level, 10, 3, Z_FILTERED))), input);
  }
  ByteVector padded = Deflate(input);
  padded.insert(padded.end(), {0xDE, 0xAD, 0xBE, 0xEF});
  EXPECT_EQ(Decompressed(CreateWith(padded)), input);
}

TEST_F(CompressTest, FlippedChecksumFailsAndIsLogged) {
  ByteVector input = TextBytes(5000);
  ByteVector stream = Deflate(input);
  stream[stream.size() - 1] ^= 0x01;
  int handle = CreateWith(stream);
  CallResult result = Call(xp_ZDecompress, {Int(handle)});
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.Transcript(), ContextFailure("xp_ZDecompress: Error"));
  EXPECT_NE(ReadLog().find("] xp_ZDecompress: Error (Runtime Addr: $"), std::string::npos);
  // The buffer is still registered and unchanged.
  EXPECT_EQ(Content(handle), stream);
  EXPECT_EQ(Call(xp_ZDecompress, {Int(handle)}).status, -1);
}

TEST_F(CompressTest, BadStreamsFailWithError) {
  ByteVector good = Deflate(TextBytes(3000));
  std::vector<ByteVector> bad = {
      {0x78},
      ByteVector(good.begin(), good.end() - 5),
      ByteVector(good.begin() + 2, good.end()),
      {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03,
       0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
      {0x78, 0xBB, 0x00, 0x00, 0x00, 0x01},
      RandomBytes(777, 12),
  };
  for (const auto& bytes : bad) {
    CallResult result = Call(xp_ZDecompress, {Int(CreateWith(bytes))});
    EXPECT_EQ(result.status, -1) << Hex(bytes);
    EXPECT_EQ(result.Transcript(), ContextFailure("xp_ZDecompress: Error")) << Hex(bytes);
  }
}

// The output limit itself is tested on the block routine with a small limit. At the real
// limit the call fills 2 GiB before it fails: about a minute and 2 GiB of memory, so it runs
// only on request (--gtest_also_run_disabled_tests).
TEST_F(CompressTest, DISABLED_StreamInflatingPastTheLargestColumnIsOutOfMemory) {
  // About 4 MiB of stream for 4 GiB of zeros: the output stops at 2^31 - 1 bytes.
  int handle = CreateWith(ZeroBomb(uint64_t{1} << 32));
  CallResult result = Call(xp_ZDecompress, {Int(handle)});
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.Transcript(), ContextFailure("xp_ZDecompress: Out of memory"));
}

TEST_F(CompressTest, UnloadReleasesEveryBufferAndLoadStartsEmpty) {
  int first = CreateWith({1, 2, 3});
  CreateWith(TextBytes(10000));
  EXPECT_EQ(ZBufferCount(), 2u);
  DestroyZBufferRegistry();
  DeleteXpLock();
  CreateXpLock();
  CreateZBufferRegistry();
  EXPECT_EQ(ZBufferCount(), 0u);
  EXPECT_EQ(Call(xp_ZCompress, {Int(first)}).status, -1);
  int again = CreateWith({4});
  EXPECT_EQ(Content(again), (ByteVector{4}));
  EXPECT_EQ(ZBufferCount(), 1u);
}

// Two connections of a server, as two threads running as two users.
TEST_F(CompressTest, AnotherUsersBufferIsUnknown) {
  winplatform::SetThreadUser("alice");
  int handle = CreateWith({1, 2, 3});
  std::thread bob([&] {
    winplatform::SetThreadUser("bob");
    std::string unknown = "No compression buffer has the handle " + std::to_string(handle);
    EXPECT_EQ(Call(xp_ZCompress, {Int(handle)}).Transcript(),
              ContextFailure("xp_ZCompress: " + unknown));
    EXPECT_EQ(Call(xp_ZDecompress, {Int(handle)}).Transcript(),
              ContextFailure("xp_ZDecompress: " + unknown));
    CallResult closed = Call(xp_ZClose, {Int(handle)});
    EXPECT_EQ(closed.status, 1);
    EXPECT_EQ(closed.Transcript(), std::vector<std::string>{kDone});
    EXPECT_NE(CreateWith({4}), handle);
  });
  bob.join();
  EXPECT_EQ(Content(handle), (ByteVector{1, 2, 3}));
  EXPECT_EQ(Call(xp_ZClose, {Int(handle)}).status, 1);
  EXPECT_EQ(ZBufferCount(), 1u);  // bob's
  winplatform::SetThreadUser("");
}

TEST_F(CompressTest, EachUsersBuffersStayWithinTheLimit) {
  winplatform::SetUserBufferLimit(1000);
  winplatform::SetThreadUser("alice");
  int random = CreateWith(RandomBytes(400, 21));
  CallResult over = Call(xp_ZCreate, {VarBinaryMax(ByteVector(601, 'z'))});
  EXPECT_EQ(over.status, -1);
  EXPECT_EQ(over.Transcript(),
            ContextFailure("xp_ZOpen: Out of memory while expanding memory stream"));
  int zeros = CreateWith(ByteVector(600, 0));  // exactly the limit
  // The output of a call counts too: nothing is left for it.
  EXPECT_EQ(Call(xp_ZCompress, {Int(random)}).Transcript(),
            ContextFailure("xp_ZCompress: Out of memory"));
  std::thread bob([] {
    winplatform::SetThreadUser("bob");
    EXPECT_NE(CreateWith(RandomBytes(900, 22)), -1);  // a limit of his own
  });
  bob.join();
  EXPECT_EQ(Call(xp_ZClose, {Int(zeros)}).status, 1);
  int more = CreateWith(RandomBytes(300, 23));  // leaves less than the output needs
  EXPECT_EQ(Call(xp_ZCompress, {Int(random)}).Transcript(),
            ContextFailure("xp_ZCompress: Out of memory"));
  EXPECT_EQ(Call(xp_ZClose, {Int(more)}).status, 1);
  EXPECT_EQ(Inflate(Compressed(random), 400), RandomBytes(400, 21));
  EXPECT_EQ(Call(xp_ZClose, {Int(random)}).status, 1);
  EXPECT_NE(CreateWith(ByteVector(1000, 'y')), -1);
  winplatform::SetThreadUser("");
  winplatform::SetUserBufferLimit(0);
}

}  // namespace
}  // namespace dunmarrow::test
