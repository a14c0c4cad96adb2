// The test client's messages and its reading of replies.
#include "tds_client.h"

#include <algorithm>

namespace dunmarrow::server::testing {

Bytes Utf16(const std::u16string& text) {
  tds::Writer out;
  out.Utf16(text);
  return out.Bytes();
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

void TdsClient::Send(uint8_t type, const Bytes& payload, uint8_t last_status, size_t packet_size) {
  size_t room = packet_size - 8;
  size_t at = 0;
  uint8_t id = 1;
  do {
    size_t n = std::min(room, payload.size() - at);
    bool last = at + n == payload.size();
    size_t length = n + 8;
    Bytes packet = {type,
                    static_cast<uint8_t>(last ? last_status : 0),
                    static_cast<uint8_t>(length >> 8),
                    static_cast<uint8_t>(length),
                    0,
                    0,
                    id++,
                    0};
    packet.insert(packet.end(), payload.begin() + static_cast<ptrdiff_t>(at),
                  payload.begin() + static_cast<ptrdiff_t>(at + n));
    stream_.Write(packet.data(), packet.size());
    at += n;
  } while (at < payload.size());
}

Reply TdsClient::Read() {
  Reply reply;
  auto exactly = [&](uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
      size_t n = stream_.Read(data + done, size - done);
      if (n == 0) return false;
      done += n;
    }
    return true;
  };
  for (;;) {
    Bytes header(8);
    if (!exactly(header.data(), 8)) return Reply{};
    size_t length = static_cast<size_t>(header[2] << 8 | header[3]);
    Bytes body(length - 8);
    if (!exactly(body.data(), body.size())) return Reply{};
    reply.type = header[0];
    reply.payload.insert(reply.payload.end(), body.begin(), body.end());
    reply.headers.push_back(header);
    if (header[1] & 0x01) return reply;
  }
}

Bytes TdsClient::Prelogin(uint8_t encryption) {
  // VERSION, ENCRYPTION, INSTOPT ("MSSQLServer"), THREADID, MARS, as FreeTDS sends them.
  tds::Writer out;
  const char instance[] = "MSSQLServer";
  struct Option {
    uint8_t token;
    uint16_t length;
  } options[] = {{0, 6}, {1, 1}, {2, sizeof instance}, {3, 4}, {4, 1}};
  uint16_t offset = 5 * 5 + 1;
  for (const Option& o : options) {
    out.U8(o.token);
    out.U16Be(offset);
    out.U16Be(o.length);
    offset = static_cast<uint16_t>(offset + o.length);
  }
  out.U8(0xFF);
  out.Append(Bytes{1, 3, 0, 17, 0, 0});
  out.U8(encryption);
  out.Append(Bytes(instance, instance + sizeof instance));
  out.U32(1234);
  out.U8(0);
  return out.Bytes();
}

Bytes TdsClient::Login7(uint32_t version, const std::u16string& user,
                        const std::u16string& password, uint32_t packet_size,
                        const std::u16string& database) {
  bool v72 = version >= 0x72000000;
  bool v74 = version >= 0x74000000;
  size_t fixed = v72 ? 94 : 86;
  // Variable part: host, user, password, app, server, (extension), library, language, database.
  std::u16string host = u"testhost", app = u"tests", server = u"127.0.0.1", library = u"DB-Lib";
  Bytes data;
  Bytes header(fixed, 0);
  auto put16 = [&](size_t at, uint16_t v) {
    header[at] = static_cast<uint8_t>(v);
    header[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) header[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  auto field = [&](size_t at, const std::u16string& text, bool scramble = false) {
    put16(at, static_cast<uint16_t>(fixed + data.size()));
    put16(at + 2, static_cast<uint16_t>(text.size()));
    for (uint8_t b : Utf16(text)) {
      if (scramble) b = static_cast<uint8_t>(((b << 4) | (b >> 4)) ^ 0xA5);
      data.push_back(b);
    }
  };
  put32(4, version);
  put32(8, packet_size);
  header[24] = 0xE0;  // fUseDB, fDatabase, fSetLang
  header[25] = 0x03;  // fLanguage, fODBC
  field(36, host);
  field(40, user);
  field(44, password, true);
  field(48, app);
  field(52, server);
  if (v74) {
    // The extension: a DWORD offset of FeatureExt, which asks for UTF-8 support.
    header[27] = 0x10;
    put16(56, static_cast<uint16_t>(fixed + data.size()));
    put16(58, 4);
    uint32_t feature_at = static_cast<uint32_t>(fixed + data.size() + 4);
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(feature_at >> (8 * i)));
    for (uint8_t b : Bytes{0x0A, 0x01, 0x00, 0x00, 0x00, 0x01, 0xFF}) data.push_back(b);
  }
  field(60, library);
  field(64, u"");
  field(68, database);
  Bytes out = header;
  out.insert(out.end(), data.begin(), data.end());
  uint32_t length = static_cast<uint32_t>(out.size());
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(length >> (8 * i));
  return out;
}

Bytes TdsClient::Batch(const std::u16string& text, bool all_headers) {
  Bytes out;
  if (all_headers) {
    out = {0x16, 0, 0, 0, 0x12, 0, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
  }
  Bytes body = Utf16(text);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Reply TdsClient::LogIn(uint32_t version, uint32_t packet_size) {
  Send(0x12, Prelogin(0x00));
  Read();
  Send(0x10, Login7(version, u"alice", u"Passw0rd", packet_size));
  return Read();
}

}  // namespace dunmarrow::server::testing
