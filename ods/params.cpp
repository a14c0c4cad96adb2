// Parameters as the server describes them to srv_paraminfo, one builder per SQL type: what the
// hosts and the tests use to make the parameters of a call.
#include "ods/params.h"

#include <algorithm>
#include <cstring>

#include "ods/numeric.h"

namespace dunmarrow::ods::params {

namespace {

Param Make(uint8_t type, uint32_t max_len, const void* data, size_t size) {
  Param p;
  p.type = type;
  p.max_len = max_len;
  p.is_null = false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  p.value.assign(bytes, bytes + size);
  return p;
}

template <typename T>
Param Fixed(uint8_t type, T value) {
  return Make(type, sizeof(T), &value, sizeof(T));
}

uint32_t DeclaredLength(uint32_t length, size_t value_size) {
  if (length != 0) return length;
  return static_cast<uint32_t>(std::max<size_t>(value_size, 1));
}

Param Wide(uint8_t type, std::u16string_view value, uint32_t max_len) {
  Bytes bytes(value.size() * 2);
  for (size_t i = 0; i < value.size(); ++i) {
    bytes[2 * i] = static_cast<uint8_t>(value[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>(value[i] >> 8);
  }
  return Make(type, max_len, bytes.data(), bytes.size());
}

}  // namespace

Param Char(std::string_view v, uint32_t n) {
  // char(n) is blank-padded to its declared length.
  uint32_t length = DeclaredLength(n, v.size());
  std::string padded(v.substr(0, length));
  padded.resize(length, ' ');
  return Make(SRVBIGCHAR, length, padded.data(), padded.size());
}
Param VarChar(std::string_view v, uint32_t n) {
  return Make(SRVBIGVARCHAR, DeclaredLength(n, v.size()), v.data(), v.size());
}
Param VarCharMax(std::string_view v) {
  return Make(SRVBIGVARCHAR, kMaxTypeLength, v.data(), v.size());
}
Param Text(std::string_view v) {
  return Make(SRVTEXT, kMaxTypeLength, v.data(), v.size());
}

Param NChar(std::u16string_view v, uint32_t n) {
  uint32_t length = DeclaredLength(n, v.size());
  std::u16string padded(v.substr(0, length));
  padded.resize(length, u' ');
  return Wide(SRVNCHAR, padded, 2 * length);
}
Param NVarChar(std::u16string_view v, uint32_t n) {
  return Wide(SRVNVARCHAR, v, 2 * DeclaredLength(n, v.size()));
}
Param NVarCharMax(std::u16string_view v) {
  return Wide(SRVNVARCHAR, v, kMaxTypeLength);
}
Param NText(std::u16string_view v) {
  return Wide(SRVNTEXT, v, kMaxTypeLength);
}
Param NVarCharUtf8(std::string_view utf8, uint32_t n) {
  return NVarChar(Utf16(utf8), n);
}

Param TinyInt(uint8_t v) {
  return Fixed(SRVINT1, v);
}
Param SmallInt(int16_t v) {
  return Fixed(SRVINT2, v);
}
Param Int(int32_t v) {
  return Fixed(SRVINT4, v);
}
Param BigInt(int64_t v) {
  return Fixed(SRVINT8, v);
}
Param Bit(bool v) {
  return Fixed(SRVBIT, static_cast<uint8_t>(v ? 1 : 0));
}
Param Float(double v) {
  return Fixed(SRVFLT8, v);
}
Param Real(float v) {
  return Fixed(SRVFLT4, v);
}

Param Money(int64_t v) {
  // High 32 bits first, then the low 32 bits.
  uint32_t words[2] = {static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32),
                       static_cast<uint32_t>(static_cast<uint64_t>(v))};
  return Make(SRVMONEY, 8, words, 8);
}
Param SmallMoney(int32_t v) {
  return Fixed(SRVMONEY4, v);
}

static Param DecimalOf(uint8_t type, double v, uint8_t precision, uint8_t scale) {
  uint8_t numeric[kNumericSize] = {};
  FloatToNumeric(v, precision, scale, numeric);
  return Make(type, kNumericSize, numeric, kNumericSize);
}
Param Decimal(double v, uint8_t p, uint8_t s) {
  return DecimalOf(SRVDECIMALN, v, p, s);
}
Param Numeric(double v, uint8_t p, uint8_t s) {
  return DecimalOf(SRVNUMERICN, v, p, s);
}
Param DecimalStruct(const uint8_t* numeric) {
  return Make(SRVDECIMALN, kNumericSize, numeric, kNumericSize);
}
Param NumericStruct(const uint8_t* numeric) {
  return Make(SRVNUMERICN, kNumericSize, numeric, kNumericSize);
}

Param DateTime(int32_t days, uint32_t ticks) {
  uint8_t bytes[8];
  std::memcpy(bytes, &days, 4);
  std::memcpy(bytes + 4, &ticks, 4);
  return Make(SRVDATETIME, 8, bytes, 8);
}
Param SmallDateTime(uint16_t days, uint16_t minutes) {
  uint8_t bytes[4];
  std::memcpy(bytes, &days, 2);
  std::memcpy(bytes + 2, &minutes, 2);
  return Make(SRVDATETIM4, 4, bytes, 4);
}

Param Binary(const Bytes& v, uint32_t n) {
  uint32_t length = DeclaredLength(n, v.size());
  Bytes padded(v.begin(), v.begin() + std::min<size_t>(v.size(), length));
  padded.resize(length, 0);
  return Make(SRVBIGBINARY, length, padded.data(), padded.size());
}
Param VarBinary(const Bytes& v, uint32_t n) {
  return Make(SRVBIGVARBINARY, DeclaredLength(n, v.size()), v.data(), v.size());
}
Param VarBinaryMax(const Bytes& v) {
  return Make(SRVBIGVARBINARY, kMaxTypeLength, v.data(), v.size());
}
Param Image(const Bytes& v) {
  return Make(SRVIMAGE, kMaxTypeLength, v.data(), v.size());
}
Param Guid(const Bytes& v) {
  Bytes sixteen(16, 0);
  std::copy_n(v.begin(), std::min<size_t>(v.size(), 16), sixteen.begin());
  return Make(SRVGUID, 16, sixteen.data(), 16);
}

Param Null(uint8_t type, uint32_t max_len) {
  Param p;
  p.type = type;
  p.max_len = max_len;
  p.is_null = true;
  return p;
}

Param AsNull(Param p) {
  uint8_t type = p.type;
  switch (p.type) {
    case SRVINT1:
    case SRVINT2:
    case SRVINT4:
    case SRVINT8:
      type = SRVINTN;
      break;
    case SRVBIT:
      type = SRVBITN;
      break;
    case SRVFLT4:
    case SRVFLT8:
      type = SRVFLTN;
      break;
    case SRVMONEY4:
    case SRVMONEY:
      type = SRVMONEYN;
      break;
    case SRVDATETIM4:
    case SRVDATETIME:
      type = SRVDATETIMN;
      break;
    default:
      break;
  }
  Param null = Null(type, p.max_len);
  null.name = std::move(p.name);
  null.is_output = p.is_output;
  return null;
}

Param Output(Param p) {
  p.is_output = true;
  return p;
}

Param Named(std::string name, Param p) {
  p.name = std::move(name);
  return p;
}

std::u16string Utf16(std::string_view s) {
  std::u16string out;
  size_t i = 0;
  auto cont = [&](size_t k) { return k < s.size() && (static_cast<uint8_t>(s[k]) & 0xC0) == 0x80; };
  while (i < s.size()) {
    uint8_t b = static_cast<uint8_t>(s[i]);
    char32_t cp = 0xFFFD;
    size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0 && cont(i + 1)) {
      cp = ((b & 0x1Fu) << 6) | (static_cast<uint8_t>(s[i + 1]) & 0x3Fu);
      len = 2;
    } else if ((b & 0xF0) == 0xE0 && cont(i + 1) && cont(i + 2)) {
      cp = ((b & 0x0Fu) << 12) | ((static_cast<uint8_t>(s[i + 1]) & 0x3Fu) << 6) |
           (static_cast<uint8_t>(s[i + 2]) & 0x3Fu);
      len = 3;
    } else if ((b & 0xF8) == 0xF0 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      cp = ((b & 0x07u) << 18) | ((static_cast<uint8_t>(s[i + 1]) & 0x3Fu) << 12) |
           ((static_cast<uint8_t>(s[i + 2]) & 0x3Fu) << 6) |
           (static_cast<uint8_t>(s[i + 3]) & 0x3Fu);
      len = 4;
    }
    // An overlong form ("C0 AF" for "/"), a surrogate or a code point beyond U+10FFFF is no
    // character: its lead byte becomes U+FFFD and the bytes after it are read anew.
    static const char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (len > 1 && (cp < kSmallest[len] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)) {
      cp = 0xFFFD;
      len = 1;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

}  // namespace dunmarrow::ods::params
