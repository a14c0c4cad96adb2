// LOGIN7: the client's login record (names through their offset and length, the scrambled
// password, the 7.4 feature extensions), and the server's login response.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "server/tds/version.h"
#include "server/tds/wire.h"

namespace dunmarrow::server::tds {

struct Login7 {
  uint32_t tds_version = 0;
  uint32_t packet_size = 0;
  uint8_t option_flags1 = 0, option_flags2 = 0, type_flags = 0, option_flags3 = 0;
  std::u16string host, user, password, app, server, library, language, database;
  bool integrated = false;        // SSPI: Windows authentication
  std::vector<uint8_t> features;  // the FeatureExt ids the client sent (7.4)

  bool DatabaseFatal() const { return option_flags1 & 0x40; }
};

constexpr uint8_t kFeatureUtf8Support = 0x0A;

// ProtocolError when a field lies outside the record or a name is longer than 128 characters.
Login7 ParseLogin7(std::span<const uint8_t> payload);

// The packet size a login asks for, within what the protocol allows.
size_t NegotiatePacketSize(uint32_t requested);

// The login response's tokens before its DONE: database, collation, language, LOGINACK,
// packet size and, for 7.4, the acknowledgement of the features the client asked for.
void WriteLoginResponse(Writer& out, TdsVersion version, size_t packet_size,
                        const std::vector<uint8_t>& features, std::u16string_view server_name);

}  // namespace dunmarrow::server::tds
