// TYPE_INFO and value encodings of the engine's types.
#include "server/tds/type_encoding.h"

#include <bit>
#include <cstring>

#include "server/tds/tokens.h"
#include "tsql/text.h"

namespace dunmarrow::server::tds {

using tsql::TypeId;
using Kind = WireType::Kind;

namespace {

constexpr uint32_t kNativeCodePage = 1252;

uint16_t ClampLength(uint32_t bytes) {
  return static_cast<uint16_t>(bytes == 0 ? 1 : bytes);
}

// Character and binary types: (max) as PLP or, before 7.2, as their LOB type.
WireType Varlen(Kind kind, Kind lob, uint32_t bytes, bool max, TdsVersion version) {
  if (max || bytes > 8000) {
    if (!version.Plp()) return {lob, 0, 0, 0, 0, false};
    return {kind, 0, 0xFFFF, 0, 0, false};
  }
  return {kind, 0, ClampLength(bytes), 0, 0, false};
}

uint8_t DecimalSize(int precision) {
  return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

}  // namespace

WireType ChooseWireType(const tsql::SqlType& type, uint32_t code_page, TdsVersion version) {
  bool native = code_page == kNativeCodePage;
  switch (type.id) {
    case TypeId::TinyInt:
      return {Kind::kIntN, 1};
    case TypeId::SmallInt:
      return {Kind::kIntN, 2};
    case TypeId::Int:
      return {Kind::kIntN, 4};
    case TypeId::BigInt:
      return {Kind::kIntN, 8};
    case TypeId::Bit:
      return {Kind::kBitN, 1};
    case TypeId::Real:
      return {Kind::kFloatN, 4};
    case TypeId::Float:
      return {Kind::kFloatN, 8};
    case TypeId::SmallMoney:
      return {Kind::kMoneyN, 4};
    case TypeId::Money:
      return {Kind::kMoneyN, 8};
    case TypeId::SmallDateTime:
      return {Kind::kDateTimeN, 4};
    case TypeId::DateTime:
      return {Kind::kDateTimeN, 8};
    case TypeId::Guid:
      return {Kind::kGuid, 16};
    case TypeId::Decimal:
    case TypeId::Numeric: {
      int p = type.precision >= 1 && type.precision <= 38 ? type.precision : 38;
      int s = type.scale >= 0 && type.scale <= p ? type.scale : 0;
      return {type.id == TypeId::Decimal ? Kind::kDecimalN : Kind::kNumericN, DecimalSize(p), 0,
              static_cast<uint8_t>(p), static_cast<uint8_t>(s)};
    }
    case TypeId::Char:
    case TypeId::VarChar: {
      Kind kind = type.id == TypeId::Char ? Kind::kChar : Kind::kVarChar;
      if (native) return Varlen(kind, Kind::kText, type.length, type.IsMax(), version);
      // 8-bit text of another code page goes as UTF-16: at most as many characters as bytes.
      WireType w = Varlen(Kind::kNVarChar, Kind::kNText, type.IsMax() ? 0 : type.length * 2,
                          type.IsMax(), version);
      w.from_ansi = true;
      return w;
    }
    case TypeId::Text: {
      WireType w{native ? Kind::kText : Kind::kNText};
      w.from_ansi = !native;
      return w;
    }
    case TypeId::NChar:
    case TypeId::NVarChar: {
      Kind kind = type.id == TypeId::NChar ? Kind::kNChar : Kind::kNVarChar;
      return Varlen(kind, Kind::kNText, type.IsMax() ? 0 : type.length * 2, type.IsMax(), version);
    }
    case TypeId::NText:
      return {Kind::kNText};
    case TypeId::Binary:
    case TypeId::VarBinary: {
      Kind kind = type.id == TypeId::Binary ? Kind::kBinary : Kind::kVarBinary;
      return Varlen(kind, Kind::kImage, type.length, type.IsMax(), version);
    }
    case TypeId::Image:
      return {Kind::kImage};
  }
  return {Kind::kIntN, 4};
}

void WriteTypeInfo(Writer& out, const WireType& w, TdsVersion version, bool column) {
  auto varlen = [&](uint8_t code, bool collation) {
    out.U8(code);
    out.U16(w.max_length);
    if (collation) out.Append(kCollation);
  };
  auto lob = [&](uint8_t code, uint32_t max, bool collation) {
    out.U8(code);
    out.U32(max);
    if (collation) out.Append(kCollation);
    if (!column) return;
    // The table name: none.
    if (version.WideUserType()) {
      out.U8(0);
    } else {
      out.U16(0);
    }
  };
  switch (w.kind) {
    case Kind::kIntN:
      out.U8(0x26);
      out.U8(w.size);
      break;
    case Kind::kBitN:
      out.U8(0x68);
      out.U8(1);
      break;
    case Kind::kFloatN:
      out.U8(0x6D);
      out.U8(w.size);
      break;
    case Kind::kMoneyN:
      out.U8(0x6E);
      out.U8(w.size);
      break;
    case Kind::kDateTimeN:
      out.U8(0x6F);
      out.U8(w.size);
      break;
    case Kind::kGuid:
      out.U8(0x24);
      out.U8(16);
      break;
    case Kind::kDecimalN:
    case Kind::kNumericN:
      out.U8(w.kind == Kind::kDecimalN ? 0x6A : 0x6C);
      out.U8(w.size);
      out.U8(w.precision);
      out.U8(w.scale);
      break;
    case Kind::kChar:
      varlen(0xAF, true);
      break;
    case Kind::kVarChar:
      varlen(0xA7, true);
      break;
    case Kind::kNChar:
      varlen(0xEF, true);
      break;
    case Kind::kNVarChar:
      varlen(0xE7, true);
      break;
    case Kind::kBinary:
      varlen(0xAD, false);
      break;
    case Kind::kVarBinary:
      varlen(0xA5, false);
      break;
    case Kind::kText:
      lob(0x23, 0x7FFFFFFF, true);
      break;
    case Kind::kNText:
      lob(0x63, 0x7FFFFFFE, true);
      break;
    case Kind::kImage:
      lob(0x22, 0x7FFFFFFF, false);
      break;
  }
}

namespace {

// The bytes of a character or binary value as they go on the wire.
std::vector<uint8_t> PayloadBytes(const WireType& w, const tsql::Value& v) {
  std::vector<uint8_t> bytes;
  if (w.kind == Kind::kNChar || w.kind == Kind::kNVarChar || w.kind == Kind::kNText) {
    std::u16string wide = w.from_ansi ? tsql::AnsiToWide(v.text) : v.wide;
    bytes.reserve(wide.size() * 2);
    for (char16_t c : wide) {
      bytes.push_back(static_cast<uint8_t>(c));
      bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
  } else if (w.kind == Kind::kChar || w.kind == Kind::kVarChar || w.kind == Kind::kText) {
    bytes.assign(v.text.begin(), v.text.end());
  } else {
    bytes = v.bytes;
  }
  return bytes;
}

void WritePlp(Writer& out, const std::vector<uint8_t>& bytes) {
  out.U64(bytes.size());
  if (!bytes.empty()) {
    // Chunks of at most 2^31 bytes each.
    for (size_t at = 0; at < bytes.size(); at += 0x7FFFFFFF) {
      size_t n = std::min<size_t>(0x7FFFFFFF, bytes.size() - at);
      out.U32(static_cast<uint32_t>(n));
      out.Append(std::span<const uint8_t>(bytes.data() + at, n));
    }
  }
  out.U32(0);
}

}  // namespace

void WriteValue(Writer& out, const WireType& w, const tsql::Value& v, bool in_row) {
  if (v.null) {
    if (w.Lob()) {
      if (in_row) {
        out.U8(0);
      } else {
        out.U32(0xFFFFFFFF);
      }
    } else if (w.Plp()) {
      out.U64(~uint64_t{0});
    } else if (w.max_length != 0) {
      out.U16(0xFFFF);
    } else {
      out.U8(0);
    }
    return;
  }
  switch (w.kind) {
    case Kind::kIntN:
      out.U8(w.size);
      out.Le(static_cast<uint64_t>(v.integer), w.size);
      return;
    case Kind::kBitN:
      out.U8(1);
      out.U8(v.integer ? 1 : 0);
      return;
    case Kind::kFloatN:
      out.U8(w.size);
      if (w.size == 4) {
        out.U32(std::bit_cast<uint32_t>(static_cast<float>(v.real)));
      } else {
        out.U64(std::bit_cast<uint64_t>(v.real));
      }
      return;
    case Kind::kMoneyN:
      out.U8(w.size);
      if (w.size == 4) {
        out.U32(static_cast<uint32_t>(v.integer));
      } else {
        // The high 32 bits first, then the low.
        uint64_t bits = static_cast<uint64_t>(v.integer);
        out.U32(static_cast<uint32_t>(bits >> 32));
        out.U32(static_cast<uint32_t>(bits));
      }
      return;
    case Kind::kDateTimeN:
      out.U8(w.size);
      if (w.size == 4) {
        out.U16(static_cast<uint16_t>(v.datetime.days));
        out.U16(static_cast<uint16_t>(v.datetime.ticks / (tsql::kTicksPerSecond * 60)));
      } else {
        out.U32(static_cast<uint32_t>(v.datetime.days));
        out.U32(v.datetime.ticks);
      }
      return;
    case Kind::kGuid:
      out.U8(16);
      out.Append(v.bytes);
      out.Append(std::vector<uint8_t>(16 - std::min<size_t>(16, v.bytes.size()), 0));
      return;
    case Kind::kDecimalN:
    case Kind::kNumericN: {
      tsql::Decimal d = v.decimal;
      if (d.scale != w.scale) d = d.Rescale(w.scale).value_or(tsql::Decimal{});
      uint8_t magnitude[16];
      d.magnitude.ToBytes(magnitude);
      out.U8(w.size);
      out.U8(d.negative ? 0 : 1);
      out.Append(std::span<const uint8_t>(magnitude, w.size - 1u));
      return;
    }
    default:
      break;
  }
  std::vector<uint8_t> bytes = PayloadBytes(w, v);
  if (w.Lob()) {
    if (in_row) {
      // A text pointer of 16 bytes and a timestamp of 8, as the server sends for values
      // that live in no table.
      out.U8(16);
      out.Append(std::vector<uint8_t>(24, 0));
    }
    out.U32(static_cast<uint32_t>(bytes.size()));
    out.Append(bytes);
  } else if (w.Plp()) {
    WritePlp(out, bytes);
  } else {
    if (bytes.size() > w.max_length) bytes.resize(w.max_length);
    out.U16(static_cast<uint16_t>(bytes.size()));
    out.Append(bytes);
  }
}

void WriteColumns(Writer& out, const std::vector<tsql::Column>& columns,
                  const std::vector<WireType>& wires, TdsVersion version) {
  out.U8(token::kColMetadata);
  out.U16(static_cast<uint16_t>(columns.size()));
  for (size_t i = 0; i < columns.size(); ++i) {
    if (version.WideUserType()) {
      out.U32(0);
    } else {
      out.U16(0);
    }
    out.U16(columns[i].nullable ? 0x0001 : 0x0000);
    WriteTypeInfo(out, wires[i], version, true);
    out.BVarChar(tsql::Utf8ToWide(columns[i].name));
  }
}

void WriteReturnValue(Writer& out, const tsql::OutputParam& param, TdsVersion version) {
  WireType wire = ChooseWireType(param.type, param.code_page, version);
  out.U8(token::kReturnValue);
  out.U16(static_cast<uint16_t>(param.ordinal));
  out.BVarChar(tsql::Utf8ToWide(param.name));
  out.U8(0x01);  // an OUTPUT parameter
  if (version.WideUserType()) {
    out.U32(0);
  } else {
    out.U16(0);
  }
  out.U16(0);  // flags
  WriteTypeInfo(out, wire, version, false);
  WriteValue(out, wire, param.value, false);
}

}  // namespace dunmarrow::server::tds
