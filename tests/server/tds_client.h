// A test client's side of TDS: the messages drivers send (PRELOGIN, LOGIN7, batches, RPC calls,
// attention), cut into packets, and the server's replies read back whole with their packet
// headers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/byte_stream.h"
#include "server/tds/wire.h"

namespace dunmarrow::server::testing {

using Bytes = std::vector<uint8_t>;

struct Reply {
  uint8_t type = 0;
  Bytes payload;
  std::vector<Bytes> headers;  // of each packet
};

class TdsClient {
 public:
  explicit TdsClient(ByteStream& stream) : stream_(stream) {}

  void Send(uint8_t type, const Bytes& payload, uint8_t last_status = 0x01,
            size_t packet_size = 4096);
  // The next whole message; an empty type 0 when the server closed the connection.
  Reply Read();

  static Bytes Prelogin(uint8_t encryption);
  static Bytes Login7(uint32_t version, const std::u16string& user, const std::u16string& password,
                      uint32_t packet_size = 4096, const std::u16string& database = u"");
  static Bytes Batch(const std::u16string& text, bool all_headers = true);

  // PRELOGIN and LOGIN7, as "alice" with the right password; the login reply.
  Reply LogIn(uint32_t version = 0x74000004, uint32_t packet_size = 4096);

 private:
  ByteStream& stream_;
};

// Whether `needle` occurs in `haystack`.
bool Contains(const Bytes& haystack, const Bytes& needle);

// UTF-16LE bytes of text.
Bytes Utf16(const std::u16string& text);

}  // namespace dunmarrow::server::testing
