// The engine's values in their TDS encodings: which TDS type carries each engine type in the
// negotiated version (the (max) types as PLP from 7.2, as text, ntext and image before; 8-bit
// text not in code page 1252 as its Unicode counterpart), its TYPE_INFO and its values.
#pragma once

#include <cstdint>

#include "server/tds/version.h"
#include "server/tds/wire.h"
#include "tsql/sink.h"

namespace dunmarrow::server::tds {

struct WireType {
  enum class Kind {
    kIntN,
    kBitN,
    kFloatN,
    kMoneyN,
    kDateTimeN,
    kDecimalN,
    kNumericN,
    kGuid,
    kChar,  // 8-bit, code page 1252
    kVarChar,
    kNChar,
    kNVarChar,
    kBinary,
    kVarBinary,
    kText,
    kNText,
    kImage,
  };
  Kind kind = Kind::kIntN;
  uint8_t size = 4;         // fixed-size types: bytes of a value
  uint16_t max_length = 0;  // varlen types: bytes; 0xFFFF: PLP
  uint8_t precision = 0, scale = 0;
  bool from_ansi = false;  // Unicode on the wire, 8-bit text in the engine

  bool Plp() const { return max_length == 0xFFFF; }
  bool Lob() const { return kind == Kind::kText || kind == Kind::kNText || kind == Kind::kImage; }
};

WireType ChooseWireType(const tsql::SqlType& type, uint32_t code_page, TdsVersion version);

// TYPE_INFO; `column` adds the table name that text, ntext and image carry in COLMETADATA.
void WriteTypeInfo(Writer& out, const WireType& wire, TdsVersion version, bool column);

// A value of the type (a NULL as the type writes it). `in_row`: text, ntext and image carry a
// text pointer in rows, none in RETURNVALUE.
void WriteValue(Writer& out, const WireType& wire, const tsql::Value& value, bool in_row);

// COLMETADATA for a result set.
void WriteColumns(Writer& out, const std::vector<tsql::Column>& columns,
                  const std::vector<WireType>& wires, TdsVersion version);

// RETURNVALUE of an OUTPUT parameter.
void WriteReturnValue(Writer& out, const tsql::OutputParam& param, TdsVersion version);

}  // namespace dunmarrow::server::tds
