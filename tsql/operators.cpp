// + and - on SQL values: concatenation of text and binary values, addition and subtraction
// of numbers with the server's result types, and the comparisons of the subset.
#include "tsql/operators.h"

#include <algorithm>
#include <cmath>

#include "tsql/errors.h"
#include "tsql/text.h"

namespace dunmarrow::tsql {

namespace {

[[noreturn]] void InvalidOperand(TypeId id, const char* op) {
  throw SqlError(
      8117, 16, 1,
      std::string("Operand data type ") + BaseName(id) + " is invalid for " + op + " operator.");
}

[[noreturn]] void Incompatible(TypeId a, TypeId b) {
  throw SqlError(402, 16, 1,
                 std::string("The data types ") + BaseName(a) + " and " + BaseName(b) +
                     " are incompatible in the add operator.");
}

[[noreturn]] void Overflow(TypeId id) {
  throw SqlError(8115, 16, 2,
                 std::string("Arithmetic overflow error converting expression to data type ") +
                     MessageName(id) + ".");
}

// Concatenation of two character values, or two binary values, of the given result family.
Value Concatenate(const Value& a, const Value& b, TypeId family) {
  bool unicode = IsUnicode(family), binary = IsBinary(family);
  bool max = a.type.IsMax() || b.type.IsMax();
  bool fixed = IsFixedLength(a.type.id) && IsFixedLength(b.type.id);
  uint64_t sum = static_cast<uint64_t>(a.type.length) + b.type.length;
  uint32_t limit = unicode ? 4000 : 8000;
  SqlType type;
  if (binary) {
    type.id = fixed ? TypeId::Binary : TypeId::VarBinary;
  } else if (unicode) {
    type.id = fixed ? TypeId::NChar : TypeId::NVarChar;
  } else {
    type.id = fixed ? TypeId::Char : TypeId::VarChar;
  }
  type.length = max ? kMaxLength : static_cast<uint32_t>(std::min<uint64_t>(sum, limit));
  if (max) type.id = binary ? TypeId::VarBinary : unicode ? TypeId::NVarChar : TypeId::VarChar;
  SqlType operand_type = type;
  operand_type.id = binary ? TypeId::VarBinary : unicode ? TypeId::NVarChar : TypeId::VarChar;
  operand_type.length = kMaxLength;
  Value x = Convert(a, operand_type), y = Convert(b, operand_type);
  if (a.null || b.null) return Value::Null(type);
  // Without a (max) operand the result stops at 8000 bytes, as the server's does.
  const uint64_t kLobLimit = 0x7FFFFFFF;
  auto check = [&](uint64_t bytes) {
    if (bytes > kLobLimit) {
      throw SqlError(7119, 16, 1,
                     "Attempting to grow LOB beyond maximum allowed size of 2147483647 bytes.");
    }
  };
  if (binary) {
    check(x.bytes.size() + y.bytes.size());
    x.bytes.insert(x.bytes.end(), y.bytes.begin(), y.bytes.end());
    if (!max && x.bytes.size() > type.length) x.bytes.resize(type.length);
    return Value::Binary(std::move(x.bytes), type);
  }
  if (unicode) {
    check((x.wide.size() + y.wide.size()) * 2);
    x.wide += y.wide;
    if (!max && x.wide.size() > type.length) x.wide.resize(type.length);
    return Value::WideChars(std::move(x.wide), type);
  }
  check(x.text.size() + y.text.size());
  x.text += y.text;
  if (!max && x.text.size() > type.length) x.text.resize(AnsiPrefixLength(x.text, type.length));
  return Value::Chars(std::move(x.text), type);
}

SqlType DecimalSumType(const SqlType& a, const SqlType& b) {
  int scale = std::max(a.scale, b.scale);
  int integral = std::max(a.precision - a.scale, b.precision - b.scale);
  int precision = scale + integral + 1;
  if (precision > kMaxPrecision) {
    // Past 38 digits the integral part is kept and the scale gives way, down to 6.
    scale = std::max(std::min(scale, kMaxPrecision - integral), std::min(scale, 6));
    precision = kMaxPrecision;
  }
  return DecimalType(precision, scale, TypeId::Numeric);
}

SqlType ExactTypeOf(const Value& v) {
  if (IsDecimal(v.type.id)) return v.type;
  // Integers take the precision of their type, money its 19 digits and 4 decimals.
  switch (v.type.id) {
    case TypeId::TinyInt:
      return DecimalType(3, 0);
    case TypeId::SmallInt:
      return DecimalType(5, 0);
    case TypeId::Int:
      return DecimalType(10, 0);
    case TypeId::BigInt:
      return DecimalType(19, 0);
    case TypeId::Bit:
      return DecimalType(1, 0);
    case TypeId::Money:
      return DecimalType(19, 4);
    case TypeId::SmallMoney:
      return DecimalType(10, 4);
    default:
      return DecimalType(38, 0);
  }
}

// An operand of a decimal sum as a decimal value; text takes the other operand's type.
Value AsExact(const Value& v, const Value& other) {
  if (v.untyped_null) return Value::Null(ExactTypeOf(other));
  if (IsDecimal(v.type.id)) return v;
  if (IsCharacter(v.type.id)) return Convert(v, ExactTypeOf(other));
  return Convert(v, ExactTypeOf(v));
}

}  // namespace

Value Add(const Value& a, const Value& b) {
  TypeId x = a.untyped_null ? b.type.id : a.type.id;
  TypeId y = b.untyped_null ? a.type.id : b.type.id;
  if (x == TypeId::Guid || y == TypeId::Guid) InvalidOperand(TypeId::Guid, "add");
  if (IsLob(x) || IsLob(y)) Incompatible(x, y);
  if (IsCharacter(x) && IsCharacter(y)) {
    return Concatenate(a, b, IsUnicode(x) || IsUnicode(y) ? TypeId::NVarChar : TypeId::VarChar);
  }
  if (IsBinary(x) && IsBinary(y)) return Concatenate(a, b, TypeId::VarBinary);
  if (x == TypeId::Bit && y == TypeId::Bit) InvalidOperand(TypeId::Bit, "add");
  TypeId result = Precedence(x) >= Precedence(y) ? x : y;
  if (IsCharacter(result) || IsBinary(result)) Incompatible(x, y);
  if (IsDateTime(result)) {
    // Dates add as days since 1900-01-01 with the time as the fraction.
    Value p = Convert(a, TypeOf(TypeId::Float), Conversion::kExplicit);
    Value q = Convert(b, TypeOf(TypeId::Float), Conversion::kExplicit);
    if (a.null || b.null) return Value::Null(TypeOf(result));
    return Convert(Value::Float(p.real + q.real), TypeOf(result));
  }
  if (IsDecimal(result)) {
    Value p = AsExact(a, b), q = AsExact(b, a);
    SqlType type = DecimalSumType(p.type, q.type);
    if (p.null || q.null) return Value::Null(type);
    auto sum = AddDecimals(p.decimal, q.decimal);
    if (!sum) Overflow(TypeId::Numeric);
    auto rounded = sum->Rescale(type.scale);
    if (!rounded || !rounded->FitsPrecision(type.precision)) Overflow(TypeId::Numeric);
    return Value::Exact(*rounded, type.precision);
  }
  SqlType type = TypeOf(result);
  Value p = Convert(a, type), q = Convert(b, type);
  if (p.null || q.null) return Value::Null(type);
  if (IsApproximate(result)) {
    double sum = p.real + q.real;
    if (!std::isfinite(sum)) Overflow(result);
    return Convert(Value::Float(sum), type);
  }
  int64_t sum;
  if (__builtin_add_overflow(p.integer, q.integer, &sum)) Overflow(type.id);
  if (IsMoney(result)) {
    if (result == TypeId::SmallMoney && (sum < INT32_MIN || sum > INT32_MAX)) Overflow(result);
    return Value::Money(sum, result);
  }
  return Convert(Value::Integer(sum, TypeId::BigInt), type);
}

Value Negate(const Value& a) {
  TypeId id = a.type.id;
  if (a.untyped_null) return a;
  if (!IsNumber(id) || id == TypeId::Bit) InvalidOperand(id, "minus");
  if (a.null) return a;
  Value out = a;
  if (IsApproximate(id)) {
    out.real = -a.real;
  } else if (IsDecimal(id)) {
    out.decimal.negative = !a.decimal.negative;
  } else {
    if (a.integer == INT64_MIN) Overflow(id);
    // -(-2147483648) leaves the int range.
    if (IsInteger(id)) return Convert(Value::Integer(-a.integer, TypeId::BigInt), a.type);
    if (id == TypeId::SmallMoney && -a.integer > INT32_MAX) Overflow(id);
    out.integer = -a.integer;
  }
  return out;
}

Value Subtract(const Value& a, const Value& b) {
  TypeId x = a.type.id, y = b.type.id;
  if (!a.untyped_null && (IsCharacter(x) || IsBinary(x) || x == TypeId::Guid)) {
    InvalidOperand(x, "subtract");
  }
  if (!b.untyped_null && (IsCharacter(y) || IsBinary(y) || y == TypeId::Guid)) {
    InvalidOperand(y, "subtract");
  }
  if (!b.untyped_null && IsDateTime(y)) {
    Value p = Convert(a, TypeOf(TypeId::Float), Conversion::kExplicit);
    Value q = Convert(b, TypeOf(TypeId::Float), Conversion::kExplicit);
    TypeId result = Precedence(x) >= Precedence(y) ? x : y;
    if (a.null || b.null) return Value::Null(TypeOf(result));
    return Convert(Value::Float(p.real - q.real), TypeOf(result));
  }
  return Add(a, Negate(b));
}

namespace {

// Character text in one case and without its trailing spaces, for comparing.
std::string CollationKey(const Value& v) {
  std::string text = IsUnicode(v.type.id) ? WideToUtf8(v.wide) : AnsiToUtf8(v.text);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return ToUpperAscii(text);
}

template <typename T>
int Order(const T& a, const T& b) {
  return a < b ? -1 : b < a ? 1 : 0;
}

}  // namespace

int Compare(const Value& a, const Value& b) {
  TypeId x = a.type.id, y = b.type.id;
  if (IsCharacter(x) && IsCharacter(y)) return Order(CollationKey(a), CollationKey(b));
  bool bytes_x = IsBinary(x) || x == TypeId::Guid, bytes_y = IsBinary(y) || y == TypeId::Guid;
  if (bytes_x && bytes_y) return Order(a.bytes, b.bytes);
  if (x != y) {
    // The operand of lower precedence takes the other's type, as the server converts.
    if (Precedence(x) >= Precedence(y)) return Compare(a, Convert(b, a.type));
    return Compare(Convert(a, b.type), b);
  }
  if (IsDateTime(x)) {
    return a.datetime.days != b.datetime.days ? Order(a.datetime.days, b.datetime.days)
                                              : Order(a.datetime.ticks, b.datetime.ticks);
  }
  if (IsApproximate(x)) return Order(a.real, b.real);
  if (IsDecimal(x)) {
    Value difference = Subtract(a, b);
    if (difference.decimal.IsZero()) return 0;
    return difference.decimal.negative ? -1 : 1;
  }
  if (IsNumber(x)) return Order(a.integer, b.integer);
  throw SqlError(402, 16, 1,
                 std::string("The data types ") + BaseName(x) + " and " + BaseName(y) +
                     " are incompatible in the equal to operator.");
}

}  // namespace dunmarrow::tsql
