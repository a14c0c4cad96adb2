// LOGIN7's fixed part (86 bytes before 7.2, 94 after), its variable part and the response.
#include "server/tds/login7.h"

#include <algorithm>

#include "server/tds/tokens.h"

namespace dunmarrow::server::tds {

namespace {

constexpr size_t kMaxNameChars = 128;

// A name given by a USHORT offset and a USHORT count of UTF-16 characters.
std::u16string Field(std::span<const uint8_t> payload, size_t at, bool limit = true) {
  Reader fixed(payload);
  fixed.Seek(at);
  uint16_t offset = fixed.U16();
  uint16_t chars = fixed.U16();
  if (chars == 0) return {};
  if (limit && chars > kMaxNameChars) throw ProtocolError("a LOGIN7 name over 128 characters");
  Reader data(payload);
  data.Seek(offset);
  return data.Utf16(chars);
}

std::u16string Unscramble(std::u16string scrambled) {
  for (char16_t& c : scrambled) {
    uint8_t lo = static_cast<uint8_t>(c) ^ 0xA5, hi = static_cast<uint8_t>(c >> 8) ^ 0xA5;
    lo = static_cast<uint8_t>(lo << 4 | lo >> 4);
    hi = static_cast<uint8_t>(hi << 4 | hi >> 4);
    c = static_cast<char16_t>(hi << 8 | lo);
  }
  return scrambled;
}

// FeatureExt: FeatureId, a LONG length and its data, until 0xFF.
std::vector<uint8_t> ReadFeatures(std::span<const uint8_t> payload, size_t ib_extension,
                                  size_t cb_extension) {
  if (cb_extension < 4) throw ProtocolError("LOGIN7 extension too short");
  Reader pointer(payload);
  pointer.Seek(ib_extension);
  Reader in(payload);
  in.Seek(pointer.U32());
  std::vector<uint8_t> ids;
  for (;;) {
    uint8_t id = in.U8();
    if (id == 0xFF) break;
    in.Skip(in.U32());
    ids.push_back(id);
  }
  return ids;
}

}  // namespace

Login7 ParseLogin7(std::span<const uint8_t> payload) {
  Reader in(payload);
  Login7 login;
  uint32_t length = in.U32();
  if (length > payload.size()) throw ProtocolError("LOGIN7 longer than its message");
  payload = payload.first(length);
  login.tds_version = in.U32();
  login.packet_size = in.U32();
  in.Skip(12);  // client program version, process id, connection id
  login.option_flags1 = in.U8();
  login.option_flags2 = in.U8();
  login.type_flags = in.U8();
  login.option_flags3 = in.U8();
  in.Skip(8);  // time zone, LCID
  bool v72 = login.tds_version >= 0x72000000;
  if (payload.size() < (v72 ? 94u : 86u)) throw ProtocolError("LOGIN7 fixed part too short");
  login.host = Field(payload, 36);
  login.user = Field(payload, 40);
  login.password = Unscramble(Field(payload, 44));
  login.app = Field(payload, 48);
  login.server = Field(payload, 52);
  login.library = Field(payload, 60);
  login.language = Field(payload, 64);
  login.database = Field(payload, 68);
  Reader sspi(payload);
  sspi.Seek(80);
  uint32_t sspi_bytes = sspi.U16();
  if (v72) {
    sspi.Seek(90);
    if (sspi_bytes == 0xFFFF) sspi_bytes = sspi.U32();
  }
  login.integrated = sspi_bytes != 0 || (login.option_flags2 & 0x80);
  if (login.tds_version >= TdsVersion::k74 && (login.option_flags3 & 0x10)) {
    Reader ext(payload);
    ext.Seek(56);
    uint16_t ib = ext.U16();
    uint16_t cb = ext.U16();
    login.features = ReadFeatures(payload, ib, cb);
  }
  return login;
}

size_t NegotiatePacketSize(uint32_t requested) {
  if (requested == 0) return 4096;
  return std::clamp<uint32_t>(requested, 512, 32767);
}

void WriteLoginResponse(Writer& out, TdsVersion version, size_t packet_size,
                        const std::vector<uint8_t>& features, std::u16string_view server_name) {
  WriteEnvChange(out, envchange::kDatabase, u"master", u"master");
  WriteMessage(out, {5701, 2, 0, u"Changed database context to 'master'.", server_name, u"", 0},
               version);
  WriteEnvChangeBytes(out, envchange::kCollation, kCollation, {});
  WriteEnvChange(out, envchange::kLanguage, u"us_english", u"");
  WriteMessage(out, {5703, 1, 0, u"Changed language setting to us_english.", server_name, u"", 0},
               version);
  WriteLoginAck(out, version);
  std::string size = std::to_string(packet_size);
  std::u16string wide_size(size.begin(), size.end());
  WriteEnvChange(out, envchange::kPacketSize, wide_size, wide_size);
  // UTF-8 data is acknowledged as not supported, and only when the client asked.
  if (version.FeatureExt() &&
      std::find(features.begin(), features.end(), kFeatureUtf8Support) != features.end()) {
    out.U8(token::kFeatureExtAck);
    out.U8(kFeatureUtf8Support);
    out.U32(1);
    out.U8(0);
    out.U8(0xFF);
  }
}

}  // namespace dunmarrow::server::tds
