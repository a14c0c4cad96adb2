// Parameter values of RPC requests, as the client drivers encode them.
#include "server/tds/type_decoding.h"

#include <algorithm>
#include <bit>
#include <cctype>

#include "tsql/text.h"

namespace dunmarrow::server::tds {

using tsql::SqlType;
using tsql::TypeId;
using tsql::TypeOf;
using tsql::Value;

namespace {

constexpr uint64_t kPlpNull = ~uint64_t{0};
constexpr uint64_t kPlpUnknownLength = ~uint64_t{0} - 1;

// Code page 1252's characters 0x80-0x9F; the rest are Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct Collation {
  bool utf8 = false;
};

Collation ReadCollation(Reader& in) {
  uint32_t info = in.U32();
  in.U8();  // sort id
  // The UTF-8 flag is the seventh of the eight flag bits above the 20-bit LCID.
  return Collation{((info >> 26) & 1) != 0};
}

std::u16string Utf16FromBytes(std::span<const uint8_t> bytes) {
  if (bytes.size() % 2) throw ProtocolError("UTF-16 text of an odd number of bytes");
  std::u16string s(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < s.size(); ++i) {
    s[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
  return s;
}

// A PLP value: nothing for NULL. Its chunks must add up to the length announced.
std::optional<std::vector<uint8_t>> ReadPlp(Reader& in) {
  uint64_t total = in.U64();
  if (total == kPlpNull) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (;;) {
    uint32_t chunk = in.U32();
    if (chunk == 0) break;
    auto part = in.Bytes(chunk);
    bytes.insert(bytes.end(), part.begin(), part.end());
  }
  if (total != kPlpUnknownLength && total != bytes.size()) {
    throw ProtocolError("PLP chunks do not add up to the announced length");
  }
  return bytes;
}

// How the value of a variable-length type is prefixed.
enum class Prefix { kByte, kUShort, kLong, kPlp };

std::optional<std::vector<uint8_t>> ReadVarBytes(Reader& in, Prefix prefix) {
  switch (prefix) {
    case Prefix::kByte: {
      uint8_t n = in.U8();
      if (n == 0) return std::nullopt;  // the legacy types' NULL
      auto b = in.Bytes(n);
      return std::vector<uint8_t>(b.begin(), b.end());
    }
    case Prefix::kUShort: {
      uint16_t n = in.U16();
      if (n == 0xFFFF) return std::nullopt;
      auto b = in.Bytes(n);
      return std::vector<uint8_t>(b.begin(), b.end());
    }
    case Prefix::kLong: {
      uint32_t n = in.U32();
      if (n == 0xFFFFFFFF) return std::nullopt;
      auto b = in.Bytes(n);
      return std::vector<uint8_t>(b.begin(), b.end());
    }
    case Prefix::kPlp:
      return ReadPlp(in);
  }
  return std::nullopt;
}

// Character and binary values: 8-bit text (with its collation), UTF-16 text or bytes.
Value CharsOrBytes(std::optional<std::vector<uint8_t>> bytes, TypeId id, uint32_t length,
                   const Collation& collation) {
  SqlType type = TypeOf(id, length);
  if (!bytes) return Value::Null(type);
  if (tsql::IsUnicode(id)) return Value::WideChars(Utf16FromBytes(*bytes), type);
  if (tsql::IsCharacter(id)) {
    std::string ansi = ClientCharsToAnsi(*bytes, collation.utf8);
    // The engine's code page may need more bytes than the client's for the same text.
    if (!type.IsMax() && !tsql::IsLob(id) && ansi.size() > type.length) {
      type.length = ansi.size() <= 8000 ? static_cast<uint32_t>(ansi.size()) : tsql::kMaxLength;
    }
    return Value::Chars(std::move(ansi), type);
  }
  return Value::Binary(std::move(*bytes), type);
}

int64_t SignedLe(Reader& in, size_t width) {
  uint64_t v = in.Le(width);
  if (width < 8 && (v >> (8 * width - 1)) & 1) v |= ~uint64_t{0} << (8 * width);
  return static_cast<int64_t>(v);
}

Value Integer(Reader& in, size_t size) {
  switch (size) {
    case 1:
      return Value::Integer(static_cast<int64_t>(in.U8()), TypeId::TinyInt);
    case 2:
      return Value::Integer(SignedLe(in, 2), TypeId::SmallInt);
    case 4:
      return Value::Integer(SignedLe(in, 4), TypeId::Int);
    case 8:
      return Value::Integer(SignedLe(in, 8), TypeId::BigInt);
  }
  throw ProtocolError("an integer of " + std::to_string(size) + " bytes");
}

Value Float(Reader& in, size_t size) {
  if (size == 4) {
    return Value::Float(std::bit_cast<float>(in.U32()), TypeId::Real);
  }
  if (size == 8) return Value::Float(std::bit_cast<double>(in.U64()), TypeId::Float);
  throw ProtocolError("a float of " + std::to_string(size) + " bytes");
}

Value Money(Reader& in, size_t size) {
  if (size == 4) return Value::Money(SignedLe(in, 4), TypeId::SmallMoney);
  if (size == 8) {
    uint64_t high = in.U32();
    uint64_t low = in.U32();
    return Value::Money(static_cast<int64_t>(high << 32 | low), TypeId::Money);
  }
  throw ProtocolError("money of " + std::to_string(size) + " bytes");
}

Value DateTime(Reader& in, size_t size) {
  if (size == 4) {
    uint32_t days = in.U16();
    uint32_t minutes = in.U16();
    if (minutes >= 24 * 60) throw ProtocolError("a smalldatetime past midnight");
    return Value::Date({static_cast<int32_t>(days), minutes * 60 * tsql::kTicksPerSecond},
                       TypeId::SmallDateTime);
  }
  if (size == 8) {
    int32_t days = static_cast<int32_t>(in.U32());
    uint32_t ticks = in.U32();
    if (ticks >= tsql::kTicksPerDay || !tsql::InDateTimeRange(days)) {
      throw ProtocolError("a datetime out of range");
    }
    return Value::Date({days, ticks}, TypeId::DateTime);
  }
  throw ProtocolError("a datetime of " + std::to_string(size) + " bytes");
}

Value Decimal(Reader& in, TypeId id, uint8_t precision, uint8_t scale, size_t size) {
  if (precision < 1 || precision > 38 || scale > precision) {
    throw ProtocolError("a decimal of precision " + std::to_string(precision));
  }
  if (size == 0) return Value::Null(tsql::DecimalType(precision, scale, id));
  if (size < 2 || size > 17) throw ProtocolError("a decimal of " + std::to_string(size) + " bytes");
  uint8_t sign = in.U8();
  uint8_t magnitude[16] = {};
  auto bytes = in.Bytes(size - 1);
  std::copy(bytes.begin(), bytes.end(), magnitude);
  tsql::Decimal d;
  d.negative = sign == 0 && !std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return !b; });
  d.magnitude = tsql::UInt128::FromBytes(magnitude);
  d.scale = scale;
  if (!d.FitsPrecision(precision)) {
    throw RequestError(8114, 5, "Error converting data type numeric to numeric.");
  }
  return Value::Exact(d, precision, id);
}

// The time of day of the date and time types: 3 to 5 bytes of 10^-scale seconds.
uint64_t ReadTime(Reader& in, uint8_t scale) {
  size_t width = scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
  return in.Le(width);
}

// date, time, datetime2 and datetimeoffset reach the engine as datetime, which has 1/300 s.
Value FromDateAndTime(int64_t days_since_0001, uint64_t time, uint8_t scale, int offset_minutes) {
  static const int64_t kEpochShift = -tsql::DaysFromCivil(1, 1, 1);
  uint64_t unit = 1;
  for (uint8_t i = 0; i < scale; ++i) unit *= 10;
  if (time >= 86400 * unit) throw ProtocolError("a time of day past midnight");
  // Rounded to the nearest tick, as the server converts datetime2 to datetime.
  long double seconds = static_cast<long double>(time) / static_cast<long double>(unit);
  int64_t ticks = static_cast<int64_t>(seconds * tsql::kTicksPerSecond + 0.5L);
  int64_t days = days_since_0001 - kEpochShift;
  ticks += static_cast<int64_t>(offset_minutes) * 60 * tsql::kTicksPerSecond;
  int64_t per_day = tsql::kTicksPerDay;
  days += ticks >= 0 ? ticks / per_day : -((-ticks + per_day - 1) / per_day);
  ticks = ((ticks % per_day) + per_day) % per_day;
  if (!tsql::InDateTimeRange(days)) {
    throw RequestError(242, 3,
                       "The conversion of a datetime2 data type to a datetime data type resulted "
                       "in an out-of-range value.");
  }
  return Value::Date({static_cast<int32_t>(days), static_cast<uint32_t>(ticks)}, TypeId::DateTime);
}

uint8_t ReadScale(Reader& in) {
  uint8_t scale = in.U8();
  if (scale > 7) throw ProtocolError("a time scale of " + std::to_string(scale));
  return scale;
}

Value DateTimeFamily(Reader& in, uint8_t code) {
  uint8_t scale = code == 0x28 ? 0 : ReadScale(in);
  uint8_t length = in.U8();
  if (length == 0) return Value::Null(TypeOf(TypeId::DateTime));
  size_t time_width = scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
  size_t expected = code == 0x28   ? 3
                    : code == 0x29 ? time_width
                    : code == 0x2A ? time_width + 3
                                   : time_width + 5;
  if (length != expected) throw ProtocolError("a date or time value of a wrong length");
  uint64_t time = 0;
  int64_t days = 0;
  int offset = 0;
  if (code != 0x28) time = ReadTime(in, scale);
  if (code != 0x29)
    days = static_cast<int64_t>(in.Le(3));
  else
    days = -tsql::DaysFromCivil(1, 1, 1);  // a time alone is on 1900-01-01
  if (code == 0x2B) offset = static_cast<int16_t>(in.U16());
  return FromDateAndTime(days, time, scale, offset);
}

}  // namespace

std::u16string DeclarationsForEngine(std::u16string_view text) {
  auto word_char = [](char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'_' || c == u'@' || c == u'#';
  };
  auto lower = [](std::u16string_view w) {
    std::string out;
    for (char16_t c : w) out.push_back(c < 0x80 ? static_cast<char>(std::tolower(c)) : '?');
    return out;
  };
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    if (!word_char(text[i])) {
      out.push_back(text[i++]);
      continue;
    }
    size_t end = i;
    while (end < text.size() && word_char(text[end])) ++end;
    std::string word = lower(text.substr(i, end - i));
    if (word == "date" || word == "time" || word == "datetime2" || word == "datetimeoffset") {
      out += u"datetime";
      // The scale goes with the type: "(7)".
      size_t j = end;
      while (j < text.size() && text[j] == u' ') ++j;
      if (j < text.size() && text[j] == u'(') {
        size_t close = text.find(u')', j);
        if (close != std::u16string_view::npos) end = close + 1;
      }
    } else {
      out += text.substr(i, end - i);
    }
    i = end;
  }
  return out;
}

std::string ClientCharsToAnsi(std::span<const uint8_t> bytes, bool utf8) {
  if (utf8) {
    return tsql::WideToAnsi(tsql::Utf8ToWide(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
  }
  std::u16string wide(bytes.size(), u'\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    uint8_t b = bytes[i];
    wide[i] = b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
  }
  return tsql::WideToAnsi(wide);
}

Value ReadTypedValue(Reader& in) {
  uint8_t code = in.U8();
  Collation none;
  switch (code) {
    // Fixed-length types: no length prefix.
    case 0x1F:
      return Value::UntypedNull();
    case 0x30:
      return Integer(in, 1);
    case 0x32:
      return Value::Bit(in.U8() != 0);
    case 0x34:
      return Integer(in, 2);
    case 0x38:
      return Integer(in, 4);
    case 0x7F:
      return Integer(in, 8);
    case 0x3B:
      return Float(in, 4);
    case 0x3E:
      return Float(in, 8);
    case 0x7A:
      return Money(in, 4);
    case 0x3C:
      return Money(in, 8);
    case 0x3A:
      return DateTime(in, 4);
    case 0x3D:
      return DateTime(in, 8);
    // Nullable types: a maximum size, then a length byte (0: NULL).
    case 0x26:
    case 0x68:
    case 0x6D:
    case 0x6E:
    case 0x6F:
    case 0x24: {
      uint8_t max = in.U8();
      uint8_t size = in.U8();
      if (size > max) throw ProtocolError("a value longer than its type");
      if (size == 0) {
        TypeId id = TypeId::Int;
        switch (code) {
          case 0x26:
            id = max == 1   ? TypeId::TinyInt
                 : max == 2 ? TypeId::SmallInt
                 : max == 8 ? TypeId::BigInt
                            : TypeId::Int;
            break;
          case 0x68:
            id = TypeId::Bit;
            break;
          case 0x6D:
            id = max == 4 ? TypeId::Real : TypeId::Float;
            break;
          case 0x6E:
            id = max == 4 ? TypeId::SmallMoney : TypeId::Money;
            break;
          case 0x6F:
            id = max == 4 ? TypeId::SmallDateTime : TypeId::DateTime;
            break;
          case 0x24:
            id = TypeId::Guid;
            break;
        }
        return Value::Null(TypeOf(id));
      }
      switch (code) {
        case 0x26:
          return Integer(in, size);
        case 0x68:
          if (size != 1) throw ProtocolError("a bit of more than one byte");
          return Value::Bit(in.U8() != 0);
        case 0x6D:
          return Float(in, size);
        case 0x6E:
          return Money(in, size);
        case 0x6F:
          return DateTime(in, size);
        default: {
          if (size != 16) throw ProtocolError("a uniqueidentifier of a wrong length");
          auto b = in.Bytes(16);
          return Value::Guid(std::vector<uint8_t>(b.begin(), b.end()));
        }
      }
    }
    case 0x6A:
    case 0x6C:
    case 0x37:
    case 0x3F: {
      uint8_t max = in.U8();
      uint8_t precision = in.U8();
      uint8_t scale = in.U8();
      uint8_t size = in.U8();
      if (size > max) throw ProtocolError("a value longer than its type");
      TypeId id = code == 0x6A || code == 0x37 ? TypeId::Decimal : TypeId::Numeric;
      return Decimal(in, id, precision, scale, size);
    }
    case 0x28:
    case 0x29:
    case 0x2A:
    case 0x2B:
      return DateTimeFamily(in, code);
    // Legacy types with a byte of length.
    case 0x25:
    case 0x2D:
    case 0x27:
    case 0x2F: {
      uint8_t max = in.U8();
      TypeId id = code == 0x25   ? TypeId::VarBinary
                  : code == 0x2D ? TypeId::Binary
                  : code == 0x27 ? TypeId::VarChar
                                 : TypeId::Char;
      return CharsOrBytes(ReadVarBytes(in, Prefix::kByte), id, std::max<uint8_t>(max, 1), none);
    }
    // Types with a USHORT maximum length; 0xFFFF: (max), PLP values.
    case 0xA5:
    case 0xAD:
    case 0xA7:
    case 0xAF:
    case 0xE7:
    case 0xEF: {
      uint16_t max = in.U16();
      bool unicode = code == 0xE7 || code == 0xEF;
      bool chars = unicode || code == 0xA7 || code == 0xAF;
      Collation collation = chars ? ReadCollation(in) : none;
      bool plp = max == 0xFFFF;
      // Lenient with the version: tedious sends (max) values to 7.1 servers too.
      if (plp && (code == 0xAD || code == 0xAF || code == 0xEF)) {
        throw ProtocolError("a (max) length on a type that has none");
      }
      TypeId id = code == 0xA5   ? TypeId::VarBinary
                  : code == 0xAD ? TypeId::Binary
                  : code == 0xA7 ? TypeId::VarChar
                  : code == 0xAF ? TypeId::Char
                  : code == 0xE7 ? TypeId::NVarChar
                                 : TypeId::NChar;
      uint32_t length = plp ? tsql::kMaxLength : std::max<uint32_t>(1, unicode ? max / 2 : max);
      return CharsOrBytes(ReadVarBytes(in, plp ? Prefix::kPlp : Prefix::kUShort), id, length,
                          collation);
    }
    case 0x23:
    case 0x63:
    case 0x22: {
      in.U32();  // maximum length
      Collation collation = code != 0x22 ? ReadCollation(in) : none;
      TypeId id = code == 0x23 ? TypeId::Text : code == 0x63 ? TypeId::NText : TypeId::Image;
      return CharsOrBytes(ReadVarBytes(in, Prefix::kLong), id, 0, collation);
    }
    case 0xF1: {
      if (in.U8()) {  // a schema: database, owner, collection
        in.BVarChar();
        in.BVarChar();
        in.UsVarChar();
      }
      return CharsOrBytes(ReadPlp(in), TypeId::NVarChar, tsql::kMaxLength, none);
    }
    case 0x62:
      throw RequestError(206, 2, "Operand type clash: sql_variant parameters are not supported.");
    case 0xF0:
      throw RequestError(206, 2, "Operand type clash: CLR type parameters are not supported.");
    case 0xF3:
      throw RequestError(206, 2, "Operand type clash: table-valued parameters are not supported.");
  }
  throw ProtocolError("unknown data type 0x" + [&] {
    const char* digits = "0123456789ABCDEF";
    return std::string{digits[code >> 4], digits[code & 15]};
  }());
}

}  // namespace dunmarrow::server::tds
