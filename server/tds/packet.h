// The packet layer: every message travels as packets of an 8-byte header and a payload. The
// reader reassembles a client's packets up to the end of the message; the writer cuts the
// server's messages into packets of the negotiated size, with the session id and a packet
// number in each header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "server/byte_stream.h"
#include "server/tds/wire.h"

namespace dunmarrow::server::tds {

namespace packet {
constexpr uint8_t kSqlBatch = 0x01;
constexpr uint8_t kRpc = 0x03;
constexpr uint8_t kReply = 0x04;
constexpr uint8_t kAttention = 0x06;
constexpr uint8_t kTransaction = 0x0E;
constexpr uint8_t kLogin7 = 0x10;
constexpr uint8_t kSspi = 0x11;
constexpr uint8_t kPrelogin = 0x12;

constexpr uint8_t kEndOfMessage = 0x01;
constexpr uint8_t kIgnore = 0x02;
constexpr uint8_t kResetConnection = 0x08;
constexpr uint8_t kResetSkipTransaction = 0x10;

constexpr size_t kHeaderSize = 8;
constexpr size_t kMaxSize = 32767;
constexpr size_t kLoginSize = 4096;  // until the login has negotiated another
}  // namespace packet

struct Message {
  uint8_t type = 0;
  uint8_t status = 0;    // of the first packet: the reset-connection bits are there
  bool ignored = false;  // the client abandoned it (IGNORE): its bytes are dropped
  std::vector<uint8_t> payload;
};

// A request larger than the connection allows.
class MessageTooLarge : public ProtocolError {
 public:
  using ProtocolError::ProtocolError;
};

class PacketReader {
 public:
  explicit PacketReader(ByteStream& stream) : stream_(&stream) {}
  void SetStream(ByteStream& stream) { stream_ = &stream; }

  // The next whole message; nothing when the client closed the connection between messages.
  // ProtocolError for a malformed packet or a connection that ends inside a message;
  // MessageTooLarge past `max_bytes` of payload.
  std::optional<Message> ReadMessage(size_t max_bytes);
  // Exactly one packet, whatever its status (the login packet of login-only encryption).
  std::optional<Message> ReadPacket();

 private:
  // The header and payload of one packet; false at a clean end before its first byte.
  bool ReadOne(uint8_t header[packet::kHeaderSize], std::vector<uint8_t>& payload,
               size_t max_payload);
  void ReadExactly(uint8_t* data, size_t size);

  ByteStream* stream_;
};

class PacketWriter {
 public:
  static constexpr size_t kCoalesceBytes = 32 * 1024;

  PacketWriter(ByteStream& stream, uint16_t spid) : stream_(&stream), spid_(spid) {}
  void SetStream(ByteStream& stream) { stream_ = &stream; }
  // Packets of the size the login negotiated, from the next message on.
  void SetPacketSize(size_t size) { packet_size_ = size; }
  size_t PacketSize() const { return packet_size_; }

  // Streams one message: full packets are cut as soon as more bytes follow them and leave
  // together once kCoalesceBytes of them wait (one send rather than one per packet); End
  // sends the rest with the last packet.
  void Begin(uint8_t type);
  void Write(std::span<const uint8_t> bytes);
  void End();

  // A whole message at once.
  void Send(uint8_t type, std::span<const uint8_t> payload) {
    Begin(type);
    Write(payload);
    End();
  }

 private:
  void Flush(size_t count, bool last);

  ByteStream* stream_;
  uint16_t spid_;
  size_t packet_size_ = packet::kLoginSize;
  uint8_t type_ = packet::kReply;
  uint8_t packet_id_ = 1;
  std::vector<uint8_t> buffer_;   // payload not yet cut into packets
  std::vector<uint8_t> packets_;  // whole packets not yet sent
};

}  // namespace dunmarrow::server::tds
