// libFuzzer target for the TDS server's message parsing: whatever the bytes, the parsers of
// PRELOGIN, LOGIN7, SQL batches, RPC and transaction-manager requests and the packet reader
// either return or raise ProtocolError or RequestError, never read out of bounds and never
// allocate more than a small multiple of the input.
// The first byte chooses the parser, the second the TDS version; the rest is the message.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "server/tds/login7.h"
#include "server/tds/packet.h"
#include "server/tds/prelogin.h"
#include "server/tds/requests.h"
#include "server/tds/type_decoding.h"

namespace {

using namespace dunmarrow::server;
using namespace dunmarrow::server::tds;

// The client's side of a connection, read from the input; writes go nowhere.
class InputStream : public ByteStream {
 public:
  explicit InputStream(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  size_t Read(uint8_t* data, size_t size) override {
    // A few bytes at a time, as a network delivers them.
    size_t n = std::min({size, bytes_.size() - pos_, size_t{7}});
    std::memcpy(data, bytes_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  void Write(const uint8_t*, size_t) override {}
  bool ReadReady() override { return true; }
  void SetReadTimeout(std::chrono::milliseconds) override {}

 private:
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const uint32_t kVersions[] = {TdsVersion::k71, TdsVersion::k72, TdsVersion::k73A,
                                       TdsVersion::k73B, TdsVersion::k74};
  TdsVersion version{kVersions[data[1] % 5]};
  std::span<const uint8_t> message(data + 2, size - 2);
  try {
    switch (data[0] % 6) {
      case 0:
        ParsePrelogin(message);
        break;
      case 1:
        ParseLogin7(message);
        break;
      case 2:
        ParseSqlBatch(message, version);
        break;
      case 3:
        ParseRpc(message, version);
        break;
      case 4:
        ParseTransactionRequest(message, version);
        break;
      default: {
        InputStream stream(message);
        PacketReader reader(stream);
        while (reader.ReadMessage(1 << 16)) {
        }
        break;
      }
    }
  } catch (const ProtocolError&) {
  } catch (const RequestError&) {
  }
  return 0;
}
