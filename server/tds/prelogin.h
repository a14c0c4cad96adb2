// PRELOGIN: the client's options (what it says about encryption) and the server's reply, with
// the encryption the two agree on for the server's mode.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "server/connection.h"

namespace dunmarrow::server::tds {

namespace encrypt {
constexpr uint8_t kOff = 0x00;  // available, off: the login packet alone is encrypted
constexpr uint8_t kOn = 0x01;
constexpr uint8_t kNotSupported = 0x02;
constexpr uint8_t kRequired = 0x03;
}  // namespace encrypt

struct Prelogin {
  uint8_t encryption = encrypt::kNotSupported;  // without the client-certificate bit
};

// ProtocolError when VERSION is not the first option or an option lies outside the payload.
Prelogin ParsePrelogin(std::span<const uint8_t> payload);

enum class Encryption { kNone, kLoginOnly, kFull };

struct EncryptionChoice {
  uint8_t answer = encrypt::kNotSupported;  // what the server's PRELOGIN says
  Encryption encryption = Encryption::kNone;
  bool refused = false;  // the server requires encryption and the client will not
};

// `tls_available`: the server has a certificate and its mode is not off.
EncryptionChoice ChooseEncryption(uint8_t client, EncryptMode mode, bool tls_available);

std::vector<uint8_t> PreloginReply(uint8_t encryption);

}  // namespace dunmarrow::server::tds
