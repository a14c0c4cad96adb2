// The SQL types of the engine's T-SQL subset: their names, lengths, precedence and families.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dunmarrow::tsql {

enum class TypeId : uint8_t {
  Int,
  SmallInt,
  TinyInt,
  BigInt,
  Bit,
  Float,
  Real,
  Decimal,
  Numeric,
  Money,
  SmallMoney,
  DateTime,
  SmallDateTime,
  Char,
  VarChar,
  NChar,
  NVarChar,
  Text,
  NText,
  Binary,
  VarBinary,
  Image,
  Guid,
};

// The length of a (max) type.
constexpr uint32_t kMaxLength = 0xFFFFFFFFu;

struct SqlType {
  TypeId id = TypeId::Int;
  uint32_t length = 0;  // characters (char types), bytes (binary types), kMaxLength for (max)
  int precision = 0;    // decimal and numeric
  int scale = 0;

  bool IsMax() const { return length == kMaxLength; }
  bool operator==(const SqlType&) const = default;
};

inline SqlType TypeOf(TypeId id, uint32_t length = 0) {
  return SqlType{id, length, 0, 0};
}
inline SqlType DecimalType(int precision, int scale, TypeId id = TypeId::Numeric) {
  return SqlType{id, 0, precision, scale};
}

// "int", "varchar", "decimal"; in conversion messages the server says "numeric" for decimal.
const char* BaseName(TypeId id);
const char* MessageName(TypeId id);
// "varchar(10)", "nvarchar(max)", "decimal(10,2)", "int".
std::string FullName(const SqlType& type);

bool IsInteger(TypeId id);  // tinyint, smallint, int, bigint
bool IsDecimal(TypeId id);  // decimal, numeric
bool IsMoney(TypeId id);
bool IsApproximate(TypeId id);  // float, real
bool IsNumber(TypeId id);       // all of the above and bit
bool IsDateTime(TypeId id);
bool IsCharacter(TypeId id);    // char, varchar, text, nchar, nvarchar, ntext
bool IsUnicode(TypeId id);      // nchar, nvarchar, ntext
bool IsBinary(TypeId id);       // binary, varbinary, image
bool IsLob(TypeId id);          // text, ntext, image
bool IsFixedLength(TypeId id);  // char, nchar, binary: padded to their length

// Higher wins when two types meet in an expression.
int Precedence(TypeId id);

// The largest length of the non-max form: 8000 bytes, or 4000 characters for nchar/nvarchar.
uint32_t LengthLimit(TypeId id);

// The storage size of a value (DATALENGTH of fixed-size types).
uint32_t StorageSize(const SqlType& type);

// A type name as written in T-SQL (case-insensitive), with its arguments: ("varchar", {"10"}),
// ("nvarchar", {"max"}), ("decimal", {"10", "2"}). Lengths left out take the default of a
// declaration (1) or of CAST and CONVERT (30). Raises SqlError for unknown names and bad sizes.
SqlType ResolveType(std::string_view name, const std::vector<std::string>& args, bool in_cast,
                    int line);

}  // namespace dunmarrow::tsql
