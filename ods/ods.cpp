// Our Open Data Services library: the srv_* calls over a Session.
#include <cmath>
#include <cstring>
#include <limits>

#include "ods/numeric.h"
#include "ods/session.h"

using dunmarrow::ods::Bytes;
using dunmarrow::ods::Column;
using dunmarrow::ods::Event;
using dunmarrow::ods::EventKind;
using dunmarrow::ods::Param;
using dunmarrow::ods::Session;

namespace {

// Length of a value of a fixed-length column type, or -1 for the variable-length types.
int32_t FixedLength(int32_t type) {
  switch (type) {
    case SRVINT1:
    case SRVBIT:
      return 1;
    case SRVINT2:
      return 2;
    case SRVINT4:
    case SRVFLT4:
    case SRVDATETIM4:
    case SRVMONEY4:
      return 4;
    case SRVFLT8:
    case SRVMONEY:
    case SRVDATETIME:
    case SRVINT8:
      return 8;
    case SRVGUID:
      return 16;
    default:
      return -1;
  }
}

struct ColumnState {
  Column column;
  bool len_set = false;
  int32_t len = 0;
  const uint8_t* data = nullptr;

  int32_t CurrentLength() const {
    if (len_set) return len;
    int32_t fixed = FixedLength(column.type);
    return fixed >= 0 ? fixed : column.max_len;
  }
};

}  // namespace

struct srv_proc {
  Session* session = nullptr;
  std::vector<ColumnState> columns;
  bool rows_sent = false;

  const Param* ParamAt(int n) const {
    const auto& params = session->Params();
    if (n < 1 || static_cast<size_t>(n) > params.size()) return nullptr;
    return &params[static_cast<size_t>(n) - 1];
  }
  ColumnState* ColumnAt(int n) {
    if (n < 1 || static_cast<size_t>(n) > columns.size()) return nullptr;
    return &columns[static_cast<size_t>(n) - 1];
  }
  void Emit(const Event& e) { session->OnEvent(e); }
};

namespace dunmarrow::ods {

int ExecuteProc(ProcEntry proc, Session& session) {
  srv_proc handle;
  handle.session = &session;
  return proc(&handle);
}

}  // namespace dunmarrow::ods

extern "C" {

int srv_rpcparams(SRV_PROC* srvproc) {
  if (!srvproc) return -1;
  return static_cast<int>(srvproc->session->Params().size());
}

int srv_paraminfo(SRV_PROC* srvproc, int n, uint8_t* type, uint32_t* maxlen, uint32_t* actuallen,
                  uint8_t* data, int32_t* isnull) {
  if (!srvproc) return SRV_FAIL;
  const Param* p = srvproc->ParamAt(n);
  if (!p) return SRV_FAIL;
  uint32_t actual = p->is_null ? 0 : static_cast<uint32_t>(p->value.size());
  if (type) *type = p->type;
  if (maxlen) *maxlen = p->max_len;
  if (actuallen) *actuallen = actual;
  if (isnull) *isnull = p->is_null ? 1 : 0;
  // Like the server, copy the whole value: the caller asks for the length first.
  if (data && actual > 0) std::memcpy(data, p->value.data(), actual);
  return SRV_SUCCEED;
}

DBCHAR* srv_paramname(SRV_PROC* srvproc, int n, int* len) {
  const Param* p = srvproc ? srvproc->ParamAt(n) : nullptr;
  if (!p) {
    if (len) *len = -1;
    return nullptr;
  }
  if (len) *len = static_cast<int>(p->name.size());
  return const_cast<DBCHAR*>(p->name.c_str());
}

int srv_paramstatus(SRV_PROC* srvproc, int n) {
  const Param* p = srvproc ? srvproc->ParamAt(n) : nullptr;
  if (!p) return -1;
  return p->is_output ? 1 : 0;
}

int srv_paramsetoutput(SRV_PROC* srvproc, int n, uint8_t* data, uint32_t len, int32_t isnull) {
  const Param* p = srvproc ? srvproc->ParamAt(n) : nullptr;
  if (!p || !p->is_output) return SRV_FAIL;
  if (isnull && len != 0) return SRV_FAIL;
  if (!isnull && len > 0 && !data) return SRV_FAIL;
  Event e;
  e.kind = EventKind::ParamSetOutput;
  e.number = n;
  e.is_null = isnull != 0;
  if (!isnull && len > 0) e.data.assign(data, data + len);
  srvproc->Emit(e);
  return SRV_SUCCEED;
}

int srv_paramset(SRV_PROC* srvproc, int n, void* data, int len) {
  const Param* p = srvproc ? srvproc->ParamAt(n) : nullptr;
  if (!p || !p->is_output || len < 0) return SRV_FAIL;
  if (len > 0 && !data) return SRV_FAIL;
  Event e;
  e.kind = EventKind::ParamSet;
  e.number = n;
  e.is_null = (data == nullptr || len == 0);
  if (!e.is_null) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    e.data.assign(bytes, bytes + len);
  }
  srvproc->Emit(e);
  return SRV_SUCCEED;
}

int srv_describe(SRV_PROC* srvproc, int column, DBCHAR* name, int namelen, DBINT desttype,
                 DBINT destlen, DBINT srctype, DBINT srclen, void* /*srcdata*/) {
  if (!srvproc || srvproc->rows_sent) return 0;
  // Columns are described in order, each once per result set.
  if (column != static_cast<int>(srvproc->columns.size()) + 1) return 0;
  if (destlen < 0) return 0;
  ColumnState state;
  if (name) {
    size_t length = namelen == SRV_NULLTERM ? std::strlen(name) : static_cast<size_t>(namelen);
    state.column.name.assign(name, length);
  }
  state.column.type = desttype;
  state.column.max_len = destlen;
  srvproc->columns.push_back(state);
  Event e;
  e.kind = EventKind::Describe;
  e.number = column;
  e.name = state.column.name;
  e.dest_type = desttype;
  e.dest_len = destlen;
  e.src_type = srctype;
  e.src_len = srclen;
  srvproc->Emit(e);
  return column;
}

int srv_setcollen(SRV_PROC* srvproc, int column, int len) {
  ColumnState* c = srvproc ? srvproc->ColumnAt(column) : nullptr;
  if (!c || len < 0 || len > c->column.max_len) return SRV_FAIL;
  c->len_set = true;
  c->len = len;
  Event e;
  e.kind = EventKind::SetColLen;
  e.number = column;
  e.length = len;
  srvproc->Emit(e);
  return SRV_SUCCEED;
}

int srv_setcoldata(SRV_PROC* srvproc, int column, void* data) {
  ColumnState* c = srvproc ? srvproc->ColumnAt(column) : nullptr;
  if (!c) return SRV_FAIL;
  c->data = static_cast<const uint8_t*>(data);
  Event e;
  e.kind = EventKind::SetColData;
  e.number = column;
  e.is_null = (data == nullptr);
  int32_t len = c->CurrentLength();
  if (data && len > 0) e.data.assign(c->data, c->data + len);
  srvproc->Emit(e);
  return SRV_SUCCEED;
}

int srv_sendrow(SRV_PROC* srvproc) {
  if (!srvproc || srvproc->columns.empty()) return SRV_FAIL;
  Event e;
  e.kind = EventKind::SendRow;
  for (const ColumnState& c : srvproc->columns) {
    int32_t len = c.CurrentLength();
    if (!c.data || len == 0) {
      e.row.emplace_back(std::nullopt);
    } else {
      e.row.emplace_back(Bytes(c.data, c.data + len));
    }
  }
  srvproc->rows_sent = true;
  srvproc->Emit(e);
  return SRV_SUCCEED;
}

int srv_senddone(SRV_PROC* srvproc, DBUSMALLINT status, DBUSMALLINT info, DBINT count) {
  if (!srvproc) return SRV_FAIL;
  Event e;
  e.kind = EventKind::SendDone;
  e.status = status;
  e.info = info;
  e.count = count;
  srvproc->columns.clear();
  srvproc->rows_sent = false;
  srvproc->Emit(e);
  return SRV_SUCCEED;
}

int srv_sendmsg(SRV_PROC* srvproc, int msgtype, DBINT msgnum, DBTINYINT severity, DBTINYINT state,
                DBCHAR* /*rpcname*/, int /*rpcnamelen*/, DBUSMALLINT line, DBCHAR* text,
                int textlen) {
  if (!srvproc) return SRV_FAIL;
  if (msgtype != SRV_MSG_INFO && msgtype != SRV_MSG_ERROR) return SRV_FAIL;
  Event e;
  e.kind = EventKind::SendMsg;
  e.msg_type = msgtype;
  e.msg_number = msgnum;
  e.severity = severity;
  e.state = state;
  e.line = line;
  if (text) {
    size_t length = textlen == SRV_NULLTERM ? std::strlen(text) : static_cast<size_t>(textlen);
    e.text.assign(text, length);
  }
  srvproc->Emit(e);
  return SRV_SUCCEED;
}

int srv_convert(SRV_PROC* srvproc, int srctype, void* src, DBINT srclen, int desttype, void* dest,
                DBINT destlen) {
  if (!srvproc || !src || !dest) return -1;
  using dunmarrow::ods::IsFloatType;
  using dunmarrow::ods::IsNumericType;
  if (IsFloatType(srctype) && IsNumericType(desttype)) {
    if (srclen != 8 || destlen < dunmarrow::ods::kNumericSize) return -1;
    double value;
    std::memcpy(&value, src, sizeof value);
    auto* numeric = static_cast<uint8_t*>(dest);
    if (!dunmarrow::ods::FloatToNumeric(value, numeric[0], numeric[1], numeric)) return -1;
    return dunmarrow::ods::kNumericSize;
  }
  if (IsNumericType(srctype) && IsFloatType(desttype)) {
    if (srclen < dunmarrow::ods::kNumericSize || destlen < 8) return -1;
    double value = dunmarrow::ods::NumericToFloat(static_cast<const uint8_t*>(src));
    std::memcpy(dest, &value, sizeof value);
    return 8;
  }
  return -1;
}

}  // extern "C"
