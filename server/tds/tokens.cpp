// Writers of the reply tokens that carry no result values.
#include "server/tds/tokens.h"

namespace dunmarrow::server::tds {

namespace {

constexpr std::u16string_view kProgramName = u"Microsoft SQL Server";

// A token with a USHORT length after its type: the length is patched in at the end.
class LengthScope {
 public:
  LengthScope(Writer& out, uint8_t token) : out_(out) {
    out_.U8(token);
    at_ = out_.Size();
    out_.U16(0);
  }
  ~LengthScope() { out_.PatchU16(at_, static_cast<uint16_t>(out_.Size() - at_ - 2)); }

 private:
  Writer& out_;
  size_t at_;
};

}  // namespace

void WriteEnvChange(Writer& out, uint8_t type, std::u16string_view new_value,
                    std::u16string_view old_value) {
  LengthScope scope(out, token::kEnvChange);
  out.U8(type);
  out.BVarChar(new_value);
  out.BVarChar(old_value);
}

void WriteEnvChangeBytes(Writer& out, uint8_t type, std::span<const uint8_t> new_value,
                         std::span<const uint8_t> old_value) {
  LengthScope scope(out, token::kEnvChange);
  out.U8(type);
  out.U8(static_cast<uint8_t>(new_value.size()));
  out.Append(new_value);
  out.U8(static_cast<uint8_t>(old_value.size()));
  out.Append(old_value);
}

void WriteMessage(Writer& out, const MessageToken& m, TdsVersion version) {
  LengthScope scope(out, m.severity > 10 ? token::kError : token::kInfo);
  out.U32(static_cast<uint32_t>(m.number));
  out.U8(m.state);
  // The server reports severity 10 as 0.
  out.U8(m.severity == 10 ? 0 : m.severity);
  // The text is cut to what fits the token's USHORT length with its other fields.
  out.UsVarChar(m.text.substr(0, 30000));
  out.BVarChar(m.server);
  out.BVarChar(m.procedure);
  if (version.WideUserType()) {
    out.U32(static_cast<uint32_t>(m.line));
  } else {
    out.U16(static_cast<uint16_t>(m.line));
  }
}

void WriteLoginAck(Writer& out, TdsVersion version) {
  LengthScope scope(out, token::kLoginAck);
  out.U8(1);  // SQL_TSQL
  out.U32Be(version.value);
  out.BVarChar(kProgramName);
  out.U8(kProductMajor);
  out.U8(kProductMinor);
  out.U16Be(kProductBuild);
}

void WriteReturnStatus(Writer& out, int32_t status) {
  out.U8(token::kReturnStatus);
  out.U32(static_cast<uint32_t>(status));
}

void WriteDone(Writer& out, uint8_t token, uint16_t status, uint16_t command, uint64_t count,
               TdsVersion version) {
  out.U8(token);
  out.U16(status);
  out.U16(command);
  out.Le(count, version.WideCounts() ? 8 : 4);
}

}  // namespace dunmarrow::server::tds
