// xp_ZCreate, xp_ZClose, xp_ZCompress and xp_ZDecompress: compression buffers that live
// between calls, and zlib over their contents into a one-row result set "Data".
#include "procs/compress/zbuffer.h"
#include "procs/compress/zlib_block.h"
#include "runtime/context.h"
#include "runtime/export.h"
#include "runtime/failure.h"
#include "runtime/module_steps.h"
#include "runtime/param_checks.h"

namespace dunmarrow {
namespace {

// The caller's buffer named by parameter 1; further parameters are not looked at.
ZBuffer::Content BufferOfFirstParameter(TXProc& proc, const ZBufferUser& user) {
  TxpItem* handle = proc.Params().Items(0);
  if (!handle) RaiseInvalidParams();
  return ReadZBuffer(user, IntegerOf(*handle));
}

using BlockRoutine = ZBlock (*)(const ZBuffer::Bytes& input, int32_t max_length);

// Runs a block routine over the buffer and sends its output as the one row of "Data". The
// output may take only what the caller's buffer limit leaves: beyond it, "Out of memory".
int SendBlockOfBuffer(TXProc& proc, BlockRoutine routine) {
  TxpFields& fields = proc.Fields();
  fields.DefineField(0, dkBlob, "Data");
  ZBufferUser user = CurrentZBufferUser();
  ZBuffer::Content content = BufferOfFirstParameter(proc, user);
  int32_t room = ZBufferRoom(user);
  if (room == 0) throw Exception(kOutOfMemoryMessage);
  ZBlock output = routine(*content, room);
  fields.Items(0)->SetData(output.data.get(), static_cast<uint32_t>(output.length), dkBlob);
  fields.SendRow();
  output.data.reset();
  fields.SendDone();
  return 1;
}

ZBlock Compress(const ZBuffer::Bytes& input, int32_t max_length) {
  return ZCompressBlock(input.data(), CheckedNarrow<int32_t>(input.size()), max_length);
}

ZBlock Decompress(const ZBuffer::Bytes& input, int32_t max_length) {
  return ZDecompressBlock(input.data(), CheckedNarrow<int32_t>(input.size()), 0, max_length);
}

}  // namespace
// The table of buffers lives in zbuffer.cpp; the compression procedures register its steps.
DUNMARROW_MODULE_STEPS(kZBuffers, CreateZBufferRegistry, DestroyZBufferRegistry)

}  // namespace dunmarrow

using namespace dunmarrow;

XP_PROCEDURE(xp_ZCreate) {
  return RunContextFrame(srvproc, "xp_ZOpen: ", [](TXProc& proc) {
    // The buffer is registered before the parameters are looked at.
    ZBufferUser user = CurrentZBufferUser();
    ZBufferRegistry::Entry entry = RegisterZBuffer(user);
    TxpParams& params = proc.Params();
    if (params.Count() == 1) {
      TxpItem* seed = params.Items(0);
      if (seed->DataLen() > 0) WriteZBufferSeed(user, entry.handle, seed->Data(), seed->DataLen());
    }
    return static_cast<int>(entry.handle);
  });
}

XP_PROCEDURE(xp_ZClose) {
  return RunContextFrame(srvproc, "xp_ZClose: ", [](TXProc& proc) {
    TxpItem* handle = proc.Params().Items(0);
    if (!handle) RaiseInvalidParams();
    CloseZBuffer(CurrentZBufferUser(), IntegerOf(*handle));
    return 1;
  });
}

XP_PROCEDURE(xp_ZCompress) {
  return RunContextFrame(
      srvproc, "xp_ZCompress: ", [](TXProc& proc) { return SendBlockOfBuffer(proc, Compress); });
}

XP_PROCEDURE(xp_ZDecompress) {
  return RunContextFrame(srvproc, "xp_ZDecompress: ", [](TXProc& proc) {
    return SendBlockOfBuffer(proc, Decompress);
  });
}
