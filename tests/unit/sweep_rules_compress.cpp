// How the compression procedures answer in the bad-input sweep. Before the first call the
// module gets buffers whose handles the sweep's integer values name: handle 1 holds a valid
// stream, handle 255 a stream cut short, the others bad data of every sort.
#include <zlib.h>

#include "ods/params.h"
#include "platform/linux/module.h"
#include "tests/unit/call_helpers.h"
#include "tests/unit/sweep.h"

namespace dunmarrow::test {
namespace {

using ods::Bytes;

Bytes Deflated(const std::string& text) {
  uLongf size = compressBound(text.size());
  Bytes out(size);
  compress2(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()), text.size(), 9);
  out.resize(size);
  return out;
}

std::vector<Bytes> FixtureContents() {
  Bytes valid = Deflated("the sweep's valid stream");
  Bytes truncated(valid.begin(), valid.end() - 3);
  Bytes flipped = valid;
  flipped.back() ^= 0x01;
  return {
      valid,
      truncated,
      flipped,
      {},
      {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03,
       0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // gzip of nothing
      {0x03, 0x00},                                                  // raw deflate of nothing
      {0x78, 0xBB, 0x00, 0x00, 0x00, 0x01},                          // asks for a preset dictionary
  };
}

// Registers buffers 1 to 255 in the module the sweep loaded, once.
void RegisterFixtureBuffers() {
  static bool done = false;
  if (done) return;
  done = true;
  HMODULE module = LoadLibraryA(DUNMARROW_MODULE_PATH);
  ASSERT_NE(module, nullptr);
  auto create = reinterpret_cast<ods::ProcEntry>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "xp_ZCreate")));
  ASSERT_NE(create, nullptr);
  std::vector<Bytes> contents = FixtureContents();
  for (int n = 1; n <= 255; ++n) {
    const Bytes& content = n == 1     ? contents[0]
                           : n == 255 ? contents[1]
                                      : contents[n % contents.size()];
    int handle = Call(create, {ods::params::VarBinaryMax(content)}).status;
    ASSERT_EQ(handle, n) << "the module was loaded before the sweep";
  }
}

bool One(int status, const std::vector<ods::Param>&) {
  return status == 1;
}

bool AHandle(int status, const std::vector<ods::Param>&) {
  return status != 0 && status != -1;
}

}  // namespace
}  // namespace dunmarrow::test

using dunmarrow::test::SweepFrame;

SWEEP_RULE("xp_ZCompress", {SweepFrame::kContext, "xp_ZCompress: ", dunmarrow::test::One,
                            dunmarrow::test::RegisterFixtureBuffers});
SWEEP_RULE("xp_ZDecompress", {SweepFrame::kContext, "xp_ZDecompress: ", dunmarrow::test::One,
                              dunmarrow::test::RegisterFixtureBuffers});
SWEEP_RULE("xp_ZCreate", {SweepFrame::kContext, "xp_ZOpen: ", dunmarrow::test::AHandle, {}});
SWEEP_RULE("xp_ZClose", {SweepFrame::kContext, "xp_ZClose: ", dunmarrow::test::One, {}});
