// PRELOGIN's option table: token, big-endian offset and length, ended by 0xFF.
#include "server/tds/prelogin.h"

#include "server/tds/tokens.h"
#include "server/tds/wire.h"

namespace dunmarrow::server::tds {

namespace {
constexpr uint8_t kVersion = 0x00;
constexpr uint8_t kEncryption = 0x01;
constexpr uint8_t kInstance = 0x02;
constexpr uint8_t kThreadId = 0x03;
constexpr uint8_t kMars = 0x04;
constexpr uint8_t kTerminator = 0xFF;
}  // namespace

Prelogin ParsePrelogin(std::span<const uint8_t> payload) {
  Reader in(payload);
  Prelogin result;
  bool first = true;
  for (;;) {
    uint8_t option = in.U8();
    if (option == kTerminator) break;
    if (first && option != kVersion) throw ProtocolError("PRELOGIN without VERSION first");
    first = false;
    uint16_t offset = in.U16Be();
    uint16_t length = in.U16Be();
    if (static_cast<size_t>(offset) + length > payload.size()) {
      throw ProtocolError("PRELOGIN option outside its message");
    }
    if (option == kEncryption) {
      if (length < 1) throw ProtocolError("PRELOGIN ENCRYPTION without a value");
      result.encryption = payload[offset] & 0x7F;  // the client-certificate bit is ignored
      if (result.encryption > encrypt::kRequired) {
        throw ProtocolError("PRELOGIN ENCRYPTION value out of range");
      }
    }
    // Other options (instance, thread id, MARS, trace id, ...) change nothing here.
  }
  if (first) throw ProtocolError("PRELOGIN without VERSION");
  return result;
}

EncryptionChoice ChooseEncryption(uint8_t client, EncryptMode mode, bool tls_available) {
  using encrypt::kNotSupported;
  using encrypt::kOff;
  using encrypt::kOn;
  using encrypt::kRequired;
  if (!tls_available || mode == EncryptMode::kOff) return {kNotSupported, Encryption::kNone};
  bool required = mode == EncryptMode::kRequired;
  switch (client) {
    case kOff:
      if (required) return {kRequired, Encryption::kFull};
      return {kOff, Encryption::kLoginOnly};
    case kOn:
    case kRequired:
      return {kOn, Encryption::kFull};
    default:
      if (required) return {kRequired, Encryption::kNone, true};
      return {kNotSupported, Encryption::kNone};
  }
}

std::vector<uint8_t> PreloginReply(uint8_t encryption) {
  // VERSION, ENCRYPTION, INSTOPT, THREADID (empty), MARS; data after the 26-byte table.
  struct Option {
    uint8_t token;
    uint16_t length;
  };
  const Option options[] = {
      {kVersion, 6}, {kEncryption, 1}, {kInstance, 1}, {kThreadId, 0}, {kMars, 1}};
  Writer out;
  uint16_t offset = sizeof options / sizeof options[0] * 5 + 1;
  for (const Option& o : options) {
    out.U8(o.token);
    out.U16Be(offset);
    out.U16Be(o.length);
    offset = static_cast<uint16_t>(offset + o.length);
  }
  out.U8(kTerminator);
  out.U8(kProductMajor);
  out.U8(kProductMinor);
  out.U16Be(kProductBuild);
  out.U16(0);  // sub-build
  out.U8(encryption);
  out.U8(0);  // instance: a match
  out.U8(0);  // MARS off
  return std::move(out.Bytes());
}

}  // namespace dunmarrow::server::tds
