// The tokens of the server's replies that are not result values: ENVCHANGE, INFO and ERROR,
// LOGINACK, FEATUREEXTACK, RETURNSTATUS and the DONE family, in the widths of the negotiated
// version.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "server/tds/version.h"
#include "server/tds/wire.h"

namespace dunmarrow::server::tds {

namespace token {
constexpr uint8_t kColMetadata = 0x81;
constexpr uint8_t kReturnStatus = 0x79;
constexpr uint8_t kError = 0xAA;
constexpr uint8_t kInfo = 0xAB;
constexpr uint8_t kReturnValue = 0xAC;
constexpr uint8_t kLoginAck = 0xAD;
constexpr uint8_t kFeatureExtAck = 0xAE;
constexpr uint8_t kRow = 0xD1;
constexpr uint8_t kNbcRow = 0xD2;
constexpr uint8_t kEnvChange = 0xE3;
constexpr uint8_t kDone = 0xFD;
constexpr uint8_t kDoneProc = 0xFE;
constexpr uint8_t kDoneInProc = 0xFF;
}  // namespace token

namespace done {
constexpr uint16_t kMore = 0x0001;
constexpr uint16_t kError = 0x0002;
constexpr uint16_t kCount = 0x0010;
constexpr uint16_t kAttention = 0x0020;
constexpr uint16_t kCmdSelect = 0xC1;
constexpr uint16_t kCmdExecute = 0xE0;
}  // namespace done

namespace envchange {
constexpr uint8_t kDatabase = 1;
constexpr uint8_t kLanguage = 2;
constexpr uint8_t kPacketSize = 4;
constexpr uint8_t kCollation = 7;
constexpr uint8_t kBeginTransaction = 8;
constexpr uint8_t kCommitTransaction = 9;
constexpr uint8_t kRollbackTransaction = 10;
constexpr uint8_t kResetConnection = 18;
}  // namespace envchange

// SQL_Latin1_General_CP1_CI_AS: code page 1252, the collation of every 8-bit text sent.
constexpr std::array<uint8_t, 5> kCollation = {0x09, 0x04, 0xD0, 0x00, 0x34};

// The server's product version in PRELOGIN and LOGINACK: 16.0.1000.
constexpr uint8_t kProductMajor = 16, kProductMinor = 0;
constexpr uint16_t kProductBuild = 1000;

// ENVCHANGE of a value given as text (database, language, packet size).
void WriteEnvChange(Writer& out, uint8_t type, std::u16string_view new_value,
                    std::u16string_view old_value);
// ENVCHANGE of a value given as bytes (collation, transaction descriptors, reset).
void WriteEnvChangeBytes(Writer& out, uint8_t type, std::span<const uint8_t> new_value,
                         std::span<const uint8_t> old_value);

struct MessageToken {
  int32_t number = 0;
  uint8_t state = 1;
  uint8_t severity = 0;  // above 10: an ERROR token, else INFO
  std::u16string_view text;
  std::u16string_view server;
  std::u16string_view procedure;
  int32_t line = 0;
};
void WriteMessage(Writer& out, const MessageToken& message, TdsVersion version);

void WriteLoginAck(Writer& out, TdsVersion version);
void WriteReturnStatus(Writer& out, int32_t status);
void WriteDone(Writer& out, uint8_t token, uint16_t status, uint16_t command, uint64_t count,
               TdsVersion version);
// The size of a DONE token in this version: 9 or 13 bytes.
inline size_t DoneSize(TdsVersion version) {
  return version.WideCounts() ? 13 : 9;
}

}  // namespace dunmarrow::server::tds
