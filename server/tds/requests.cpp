// Parsing of batch, RPC and transaction-manager requests.
#include "server/tds/requests.h"

#include "server/tds/type_decoding.h"
#include "server/tds/wire.h"
#include "tsql/text.h"

namespace dunmarrow::server::tds {

namespace {

// ALL_HEADERS: a DWORD total length (itself included) over headers the server does not need.
void SkipAllHeaders(Reader& in, TdsVersion version) {
  if (!version.AllHeaders()) return;
  uint32_t total = in.U32();
  if (total < 4) throw ProtocolError("ALL_HEADERS shorter than its length");
  in.Skip(total - 4);
}

const char* WellKnownName(uint16_t id) {
  static const char* const kNames[] = {nullptr,
                                       "sp_cursor",
                                       "sp_cursoropen",
                                       "sp_cursorprepare",
                                       "sp_cursorexecute",
                                       "sp_cursorprepexec",
                                       "sp_cursorunprepare",
                                       "sp_cursorfetch",
                                       "sp_cursoroption",
                                       "sp_cursorclose",
                                       "sp_executesql",
                                       "sp_prepare",
                                       "sp_execute",
                                       "sp_prepexec",
                                       "sp_prepexecrpc",
                                       "sp_unprepare"};
  if (id == 0 || id >= sizeof kNames / sizeof kNames[0]) {
    throw ProtocolError("unknown procedure id " + std::to_string(id));
  }
  return kNames[id];
}

bool IsCallSeparator(uint8_t b, TdsVersion version) {
  return version.AllHeaders() ? (b == 0xFF || b == 0xFE) : b == 0x80;
}

}  // namespace

std::string ParseSqlBatch(std::span<const uint8_t> payload, TdsVersion version) {
  Reader in(payload);
  SkipAllHeaders(in, version);
  if (in.Remaining() % 2) throw ProtocolError("batch text of an odd number of bytes");
  return tsql::WideToUtf8(in.Utf16(in.Remaining() / 2));
}

std::vector<RpcCall> ParseRpc(std::span<const uint8_t> payload, TdsVersion version) {
  Reader in(payload);
  SkipAllHeaders(in, version);
  std::vector<RpcCall> calls;
  for (;;) {
    RpcCall call;
    uint16_t name_length = in.U16();
    if (name_length == 0xFFFF) {
      call.proc_id = in.U16();
      call.name = WellKnownName(call.proc_id);
    } else {
      if (name_length == 0) throw ProtocolError("an RPC without a procedure name");
      call.name = tsql::WideToUtf8(in.Utf16(name_length));
    }
    in.U16();  // option flags: recompile, no metadata
    while (!in.AtEnd() && !IsCallSeparator(in.Peek(), version)) {
      tsql::RpcParam param;
      param.name = tsql::WideToUtf8(in.BVarChar());
      uint8_t status = in.U8();
      param.output = status & 0x01;
      param.value = ReadTypedValue(in);
      call.params.push_back(std::move(param));
    }
    calls.push_back(std::move(call));
    if (in.AtEnd()) break;
    in.U8();  // the separator
    // A separator at the very end starts no call.
    if (in.AtEnd()) break;
  }
  return calls;
}

TransactionRequest ParseTransactionRequest(std::span<const uint8_t> payload, TdsVersion version) {
  Reader in(payload);
  SkipAllHeaders(in, version);
  TransactionRequest request;
  request.type = in.U16();
  switch (request.type) {
    case 5:
      request.kind = TransactionRequest::Kind::kBegin;
      in.U8();  // isolation level
      in.Skip(in.U8());
      break;
    case 7:
    case 8:
      request.kind = request.type == 7 ? TransactionRequest::Kind::kCommit
                                       : TransactionRequest::Kind::kRollback;
      in.Skip(in.U8());  // the transaction's name
      if (!in.AtEnd() && (in.U8() & 0x01)) {
        request.begin_after = true;
        if (!in.AtEnd()) in.U8();  // isolation level of the new one
      }
      break;
    default:
      break;
  }
  return request;
}

}  // namespace dunmarrow::server::tds
