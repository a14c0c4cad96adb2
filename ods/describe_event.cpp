// Text form of ODS events for --trace and for test transcripts.
#include <cstdio>
#include <string>

#include "ods/session.h"

namespace dunmarrow::ods {

namespace {

// Values longer than this are shown by their first bytes and their length.
constexpr size_t kShownBytes = 64;

std::string Hex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = "0x";
  size_t shown = bytes.size() > kShownBytes ? kShownBytes : bytes.size();
  for (size_t i = 0; i < shown; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  if (shown < bytes.size()) out += "... (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string HexWord(unsigned value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*X", digits, value);
  return buf;
}

}  // namespace

std::string DescribeParam(int n, const Param& p) {
  std::string out = "param " + std::to_string(n);
  if (!p.name.empty()) out += " " + p.name;
  out += " type=" + HexWord(p.type, 2) + " maxlen=" + std::to_string(p.max_len);
  if (p.is_output) out += " output";
  out += " " + (p.is_null ? std::string("NULL") : Hex(p.value));
  return out;
}

std::string DescribeEvent(const Event& e) {
  switch (e.kind) {
    case EventKind::Describe:
      return "describe " + std::to_string(e.number) + " " + Quoted(e.name) +
             " type=" + HexWord(static_cast<unsigned>(e.dest_type), 2) +
             " len=" + std::to_string(e.dest_len) +
             " srctype=" + HexWord(static_cast<unsigned>(e.src_type), 2) +
             " srclen=" + std::to_string(e.src_len);
    case EventKind::SetColLen:
      return "setcollen " + std::to_string(e.number) + " " + std::to_string(e.length);
    case EventKind::SetColData:
      return "setcoldata " + std::to_string(e.number) + " " +
             (e.is_null ? std::string("none") : Hex(e.data));
    case EventKind::SendRow: {
      std::string out = "sendrow";
      for (const auto& value : e.row) out += " " + (value ? Hex(*value) : std::string("NULL"));
      return out;
    }
    case EventKind::SendDone:
      return "senddone status=" + HexWord(e.status, 4) + " info=" + std::to_string(e.info) +
             " count=" + std::to_string(e.count);
    case EventKind::SendMsg:
      return "sendmsg type=" + std::to_string(e.msg_type) +
             " number=" + std::to_string(e.msg_number) + " severity=" + std::to_string(e.severity) +
             " state=" + std::to_string(e.state) + " line=" + std::to_string(e.line) + " " +
             Quoted(e.text);
    case EventKind::ParamSetOutput:
      return "paramsetoutput " + std::to_string(e.number) + " " +
             (e.is_null ? std::string("NULL") : Hex(e.data));
    case EventKind::ParamSet:
      return "paramset " + std::to_string(e.number) + " " +
             (e.is_null ? std::string("NULL") : Hex(e.data));
  }
  return "?";
}

}  // namespace dunmarrow::ods
