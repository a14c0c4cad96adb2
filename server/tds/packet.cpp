// Reading and writing TDS packets over a connection's stream.
#include "server/tds/packet.h"

#include <algorithm>

namespace dunmarrow::server::tds {

void PacketReader::ReadExactly(uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    size_t n = stream_->Read(data + done, size - done);
    if (n == 0) throw ProtocolError("the client closed the connection inside a packet");
    done += n;
  }
}

bool PacketReader::ReadOne(uint8_t header[packet::kHeaderSize], std::vector<uint8_t>& payload,
                           size_t max_payload) {
  size_t n = stream_->Read(header, packet::kHeaderSize);
  if (n == 0) return false;
  ReadExactly(header + n, packet::kHeaderSize - n);
  // A TLS handshake record: a TDS 8.0 client, which starts TLS before any TDS packet.
  if (header[0] == 0x16) throw ProtocolError("a TLS record without PRELOGIN (TDS 8.0)");
  size_t length = static_cast<size_t>(header[2] << 8 | header[3]);
  if (length < packet::kHeaderSize || length > packet::kMaxSize) {
    throw ProtocolError("packet length " + std::to_string(length) + " out of range");
  }
  size_t body = length - packet::kHeaderSize;
  if (payload.size() + body > max_payload) {
    throw MessageTooLarge("the request is larger than " + std::to_string(max_payload) + " bytes");
  }
  size_t at = payload.size();
  payload.resize(at + body);
  ReadExactly(payload.data() + at, body);
  return true;
}

std::optional<Message> PacketReader::ReadMessage(size_t max_bytes) {
  Message message;
  uint8_t header[packet::kHeaderSize];
  if (!ReadOne(header, message.payload, max_bytes)) return std::nullopt;
  message.type = header[0];
  message.status = header[1];
  while (!(header[1] & packet::kEndOfMessage)) {
    if (!ReadOne(header, message.payload, max_bytes)) {
      throw ProtocolError("the client closed the connection inside a message");
    }
    if (header[0] != message.type) {
      throw ProtocolError("a packet of type " + std::to_string(header[0]) +
                          " inside a message of type " + std::to_string(message.type));
    }
  }
  if (header[1] & packet::kIgnore) {
    message.ignored = true;
    message.payload.clear();
  }
  return message;
}

std::optional<Message> PacketReader::ReadPacket() {
  Message message;
  uint8_t header[packet::kHeaderSize];
  if (!ReadOne(header, message.payload, packet::kMaxSize)) return std::nullopt;
  message.type = header[0];
  message.status = header[1];
  return message;
}

void PacketWriter::Begin(uint8_t type) {
  type_ = type;
  packet_id_ = 1;
  buffer_.clear();
  packets_.clear();
}

void PacketWriter::Write(std::span<const uint8_t> bytes) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  size_t room = packet_size_ - packet::kHeaderSize;
  // A full packet leaves only once a byte follows it: the last packet carries EOM.
  size_t sent = 0;
  while (buffer_.size() - sent > room) {
    Flush(sent, false);
    sent += room;
  }
  if (sent) buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(sent));
}

void PacketWriter::End() {
  Flush(0, true);
  buffer_.clear();
}

void PacketWriter::Flush(size_t from, bool last) {
  size_t room = packet_size_ - packet::kHeaderSize;
  size_t count = std::min(room, buffer_.size() - from);
  size_t length = count + packet::kHeaderSize;
  uint8_t header[packet::kHeaderSize] = {type_,
                                         static_cast<uint8_t>(last ? packet::kEndOfMessage : 0),
                                         static_cast<uint8_t>(length >> 8),
                                         static_cast<uint8_t>(length),
                                         static_cast<uint8_t>(spid_ >> 8),
                                         static_cast<uint8_t>(spid_),
                                         packet_id_,
                                         0};
  ++packet_id_;
  packets_.insert(packets_.end(), header, header + packet::kHeaderSize);
  packets_.insert(packets_.end(), buffer_.begin() + static_cast<ptrdiff_t>(from),
                  buffer_.begin() + static_cast<ptrdiff_t>(from + count));
  if (last || packets_.size() >= kCoalesceBytes) {
    stream_->Write(packets_.data(), packets_.size());
    packets_.clear();
  }
}

}  // namespace dunmarrow::server::tds
