// The SQL types of the subset: names as written and as messages give them, lengths and
// sizes, families and the type errors.
#include "tsql/sql_type.h"

#include <algorithm>

#include "tsql/errors.h"
#include "tsql/text.h"

namespace dunmarrow::tsql {

namespace {

struct TypeName {
  const char* name;
  TypeId id;
};

const TypeName kTypeNames[] = {
    {"int", TypeId::Int},
    {"integer", TypeId::Int},
    {"smallint", TypeId::SmallInt},
    {"tinyint", TypeId::TinyInt},
    {"bigint", TypeId::BigInt},
    {"bit", TypeId::Bit},
    {"float", TypeId::Float},
    {"real", TypeId::Real},
    {"decimal", TypeId::Decimal},
    {"dec", TypeId::Decimal},
    {"numeric", TypeId::Numeric},
    {"money", TypeId::Money},
    {"smallmoney", TypeId::SmallMoney},
    {"datetime", TypeId::DateTime},
    {"smalldatetime", TypeId::SmallDateTime},
    {"char", TypeId::Char},
    {"character", TypeId::Char},
    {"varchar", TypeId::VarChar},
    {"nchar", TypeId::NChar},
    {"nvarchar", TypeId::NVarChar},
    {"sysname", TypeId::NVarChar},
    {"text", TypeId::Text},
    {"ntext", TypeId::NText},
    {"binary", TypeId::Binary},
    {"varbinary", TypeId::VarBinary},
    {"image", TypeId::Image},
    {"uniqueidentifier", TypeId::Guid},
};

bool HasLength(TypeId id) {
  switch (id) {
    case TypeId::Char:
    case TypeId::VarChar:
    case TypeId::NChar:
    case TypeId::NVarChar:
    case TypeId::Binary:
    case TypeId::VarBinary:
      return true;
    default:
      return false;
  }
}

bool AllowsMax(TypeId id) {
  return id == TypeId::VarChar || id == TypeId::NVarChar || id == TypeId::VarBinary;
}

std::optional<long> ParseSize(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return std::stol(text);
}

SqlError TypeError(int number, int state, std::string text, int line) {
  SqlError e(number, 15, state, std::move(text), ErrorScope::kBatch);
  e.line = line;
  return e;
}

}  // namespace

const char* BaseName(TypeId id) {
  switch (id) {
    case TypeId::Int:
      return "int";
    case TypeId::SmallInt:
      return "smallint";
    case TypeId::TinyInt:
      return "tinyint";
    case TypeId::BigInt:
      return "bigint";
    case TypeId::Bit:
      return "bit";
    case TypeId::Float:
      return "float";
    case TypeId::Real:
      return "real";
    case TypeId::Decimal:
      return "decimal";
    case TypeId::Numeric:
      return "numeric";
    case TypeId::Money:
      return "money";
    case TypeId::SmallMoney:
      return "smallmoney";
    case TypeId::DateTime:
      return "datetime";
    case TypeId::SmallDateTime:
      return "smalldatetime";
    case TypeId::Char:
      return "char";
    case TypeId::VarChar:
      return "varchar";
    case TypeId::NChar:
      return "nchar";
    case TypeId::NVarChar:
      return "nvarchar";
    case TypeId::Text:
      return "text";
    case TypeId::NText:
      return "ntext";
    case TypeId::Binary:
      return "binary";
    case TypeId::VarBinary:
      return "varbinary";
    case TypeId::Image:
      return "image";
    case TypeId::Guid:
      return "uniqueidentifier";
  }
  return "?";
}

const char* MessageName(TypeId id) {
  return id == TypeId::Decimal ? "numeric" : BaseName(id);
}

std::string FullName(const SqlType& type) {
  std::string name = BaseName(type.id);
  if (IsDecimal(type.id)) {
    return name + "(" + std::to_string(type.precision) + "," + std::to_string(type.scale) + ")";
  }
  if (HasLength(type.id)) {
    return name + "(" + (type.IsMax() ? std::string("max") : std::to_string(type.length)) + ")";
  }
  return name;
}

bool IsInteger(TypeId id) {
  return id == TypeId::Int || id == TypeId::SmallInt || id == TypeId::TinyInt ||
         id == TypeId::BigInt;
}
bool IsDecimal(TypeId id) {
  return id == TypeId::Decimal || id == TypeId::Numeric;
}
bool IsMoney(TypeId id) {
  return id == TypeId::Money || id == TypeId::SmallMoney;
}
bool IsApproximate(TypeId id) {
  return id == TypeId::Float || id == TypeId::Real;
}
bool IsNumber(TypeId id) {
  return IsInteger(id) || IsDecimal(id) || IsMoney(id) || IsApproximate(id) || id == TypeId::Bit;
}
bool IsDateTime(TypeId id) {
  return id == TypeId::DateTime || id == TypeId::SmallDateTime;
}
bool IsCharacter(TypeId id) {
  return id == TypeId::Char || id == TypeId::VarChar || id == TypeId::Text || IsUnicode(id);
}
bool IsUnicode(TypeId id) {
  return id == TypeId::NChar || id == TypeId::NVarChar || id == TypeId::NText;
}
bool IsBinary(TypeId id) {
  return id == TypeId::Binary || id == TypeId::VarBinary || id == TypeId::Image;
}
bool IsLob(TypeId id) {
  return id == TypeId::Text || id == TypeId::NText || id == TypeId::Image;
}
bool IsFixedLength(TypeId id) {
  return id == TypeId::Char || id == TypeId::NChar || id == TypeId::Binary;
}

int Precedence(TypeId id) {
  switch (id) {
    case TypeId::DateTime:
      return 24;
    case TypeId::SmallDateTime:
      return 23;
    case TypeId::Float:
      return 22;
    case TypeId::Real:
      return 21;
    case TypeId::Decimal:
    case TypeId::Numeric:
      return 20;
    case TypeId::Money:
      return 19;
    case TypeId::SmallMoney:
      return 18;
    case TypeId::BigInt:
      return 17;
    case TypeId::Int:
      return 16;
    case TypeId::SmallInt:
      return 15;
    case TypeId::TinyInt:
      return 14;
    case TypeId::Bit:
      return 13;
    case TypeId::NText:
      return 12;
    case TypeId::Text:
      return 11;
    case TypeId::Image:
      return 10;
    case TypeId::Guid:
      return 9;
    case TypeId::NVarChar:
      return 8;
    case TypeId::NChar:
      return 7;
    case TypeId::VarChar:
      return 6;
    case TypeId::Char:
      return 5;
    case TypeId::VarBinary:
      return 4;
    case TypeId::Binary:
      return 3;
  }
  return 0;
}

uint32_t LengthLimit(TypeId id) {
  return id == TypeId::NChar || id == TypeId::NVarChar ? 4000 : 8000;
}

uint32_t StorageSize(const SqlType& type) {
  switch (type.id) {
    case TypeId::TinyInt:
    case TypeId::Bit:
      return 1;
    case TypeId::SmallInt:
      return 2;
    case TypeId::Int:
    case TypeId::Real:
    case TypeId::SmallMoney:
    case TypeId::SmallDateTime:
      return 4;
    case TypeId::BigInt:
    case TypeId::Float:
    case TypeId::Money:
    case TypeId::DateTime:
      return 8;
    case TypeId::Guid:
      return 16;
    case TypeId::Decimal:
    case TypeId::Numeric:
      return type.precision <= 9 ? 5 : type.precision <= 19 ? 9 : type.precision <= 28 ? 13 : 17;
    default:
      return 0;
  }
}

SqlType ResolveType(std::string_view written, const std::vector<std::string>& args, bool in_cast,
                    int line) {
  std::string name = ToLowerAscii(written);
  const TypeName* found = nullptr;
  for (const auto& entry : kTypeNames) {
    if (name == entry.name) found = &entry;
  }
  if (!found) {
    throw TypeError(
        2715, 3,
        "Column, parameter, or variable #1: Cannot find data type " + std::string(written) + ".",
        line);
  }
  SqlType type = TypeOf(found->id);
  const std::string base = BaseName(found->id);
  if (name == "sysname") {
    if (!args.empty())
      throw TypeError(
          2716, 1,
          "Column, parameter, or variable #1: Cannot specify a column width on data type sysname.",
          line);
    type.length = 128;
    return type;
  }
  if (HasLength(type.id)) {
    if (args.size() > 1) {
      throw TypeError(102, 1, "Incorrect syntax near ','.", line);
    }
    if (args.empty()) {
      type.length = in_cast ? 30 : 1;
      return type;
    }
    if (ToLowerAscii(args[0]) == "max") {
      if (!AllowsMax(type.id)) {
        throw TypeError(102, 1, "Incorrect syntax near 'max'.", line);
      }
      type.length = kMaxLength;
      return type;
    }
    auto size = ParseSize(args[0]);
    if (!size || *size < 1) {
      throw TypeError(1001, 1,
                      "Line " + std::to_string(line) + ": Length or precision specification " +
                          args[0] + " is invalid.",
                      line);
    }
    if (static_cast<uint32_t>(*size) > LengthLimit(type.id)) {
      throw TypeError(131, 2,
                      "The size (" + args[0] + ") given to the type '" + base +
                          "' exceeds the maximum allowed for any data type (" +
                          std::to_string(LengthLimit(type.id)) + ").",
                      line);
    }
    type.length = static_cast<uint32_t>(*size);
    return type;
  }
  if (IsDecimal(type.id)) {
    if (args.size() > 2) throw TypeError(102, 1, "Incorrect syntax near ','.", line);
    long precision = 18, scale = 0;
    if (!args.empty()) {
      auto p = ParseSize(args[0]);
      if (!p || *p < 1 || *p > 38) {
        throw TypeError(2750, 1,
                        "Column or parameter #1: Specified column precision " + args[0] +
                            " is greater than the maximum precision of 38.",
                        line);
      }
      precision = *p;
    }
    if (args.size() == 2) {
      auto s = ParseSize(args[1]);
      if (!s || *s > precision) {
        throw TypeError(192, 1, "The scale must be less than or equal to the precision.", line);
      }
      scale = *s;
    }
    type.precision = static_cast<int>(precision);
    type.scale = static_cast<int>(scale);
    return type;
  }
  if (type.id == TypeId::Float && !args.empty()) {
    auto bits = ParseSize(args[0]);
    if (args.size() > 1 || !bits || *bits < 1 || *bits > 53) {
      throw TypeError(2750, 1,
                      "Column or parameter #1: Specified column precision " + args[0] +
                          " is greater than the maximum precision of 53.",
                      line);
    }
    if (*bits <= 24) type.id = TypeId::Real;
    return type;
  }
  if (!args.empty()) {
    throw TypeError(
        2716, 1,
        "Column, parameter, or variable #1: Cannot specify a column width on data type " + base +
            ".",
        line);
  }
  return type;
}

}  // namespace dunmarrow::tsql
