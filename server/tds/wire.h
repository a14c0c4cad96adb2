// Bytes of TDS messages: a bounds-checked reader over a received message and a writer that
// appends little- and big-endian numbers and UTF-16 strings. A reader that runs past the end
// raises ProtocolError, which ends the connection.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace dunmarrow::server::tds {

// A message that breaks the protocol: wrong lengths, unknown types, a request out of place.
class ProtocolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t Position() const { return pos_; }
  size_t Remaining() const { return bytes_.size() - pos_; }
  bool AtEnd() const { return pos_ == bytes_.size(); }
  void Seek(size_t pos) {
    if (pos > bytes_.size()) throw ProtocolError("offset past the end of the message");
    pos_ = pos;
  }
  void Skip(size_t count) { Take(count); }

  uint8_t U8() { return *Take(1); }
  uint8_t Peek() const {
    if (AtEnd()) throw ProtocolError("message ends too early");
    return bytes_[pos_];
  }
  uint16_t U16() { return static_cast<uint16_t>(Le(2)); }
  uint32_t U32() { return static_cast<uint32_t>(Le(4)); }
  uint64_t U64() { return Le(8); }
  uint64_t Le(size_t width) {
    const uint8_t* p = Take(width);
    uint64_t v = 0;
    for (size_t i = width; i-- > 0;) v = (v << 8) | p[i];
    return v;
  }
  uint16_t U16Be() {
    const uint8_t* p = Take(2);
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
  }
  std::span<const uint8_t> Bytes(size_t count) { return {Take(count), count}; }
  // `chars` UTF-16 code units.
  std::u16string Utf16(size_t chars) {
    if (chars > Remaining() / 2) throw ProtocolError("message ends too early");
    const uint8_t* p = Take(chars * 2);
    std::u16string s(chars, u'\0');
    for (size_t i = 0; i < chars; ++i) s[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
    return s;
  }
  std::u16string BVarChar() { return Utf16(U8()); }
  std::u16string UsVarChar() { return Utf16(U16()); }

 private:
  const uint8_t* Take(size_t count) {
    if (count > Remaining()) throw ProtocolError("message ends too early");
    const uint8_t* p = bytes_.data() + pos_;
    pos_ += count;
    return p;
  }

  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

class Writer {
 public:
  std::vector<uint8_t>& Bytes() { return out_; }
  size_t Size() const { return out_.size(); }

  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v) { Le(v, 2); }
  void U32(uint32_t v) { Le(v, 4); }
  void U64(uint64_t v) { Le(v, 8); }
  void Le(uint64_t v, size_t width) {
    for (size_t i = 0; i < width; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void U16Be(uint16_t v) {
    out_.push_back(static_cast<uint8_t>(v >> 8));
    out_.push_back(static_cast<uint8_t>(v));
  }
  void U32Be(uint32_t v) {
    U16Be(static_cast<uint16_t>(v >> 16));
    U16Be(static_cast<uint16_t>(v));
  }
  void Append(std::span<const uint8_t> bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
  }
  void Utf16(std::u16string_view s) {
    for (char16_t c : s) U16(static_cast<uint16_t>(c));
  }
  // B_VARCHAR and US_VARCHAR, cut to what their length prefix can count.
  void BVarChar(std::u16string_view s) {
    s = s.substr(0, 255);
    U8(static_cast<uint8_t>(s.size()));
    Utf16(s);
  }
  void UsVarChar(std::u16string_view s) {
    s = s.substr(0, 65535);
    U16(static_cast<uint16_t>(s.size()));
    Utf16(s);
  }
  // Overwrites a little-endian USHORT written earlier (token lengths).
  void PatchU16(size_t at, uint16_t v) {
    out_[at] = static_cast<uint8_t>(v);
    out_[at + 1] = static_cast<uint8_t>(v >> 8);
  }

 private:
  std::vector<uint8_t> out_;
};

}  // namespace dunmarrow::server::tds
