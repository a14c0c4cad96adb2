// Engine values to and from the server's layouts: parameters as the ODS library passes them
// to a procedure, and result columns and OUTPUT parameters read back as typed values.
#include "tsql/ods_values.h"

#include <cstring>

#include "ods/params.h"

namespace dunmarrow::tsql {

namespace {

namespace p = ods::params;

ods::Param NonNull(const Value& v) {
  const SqlType& t = v.type;
  switch (t.id) {
    case TypeId::Int:
      return p::Int(static_cast<int32_t>(v.integer));
    case TypeId::SmallInt:
      return p::SmallInt(static_cast<int16_t>(v.integer));
    case TypeId::TinyInt:
      return p::TinyInt(static_cast<uint8_t>(v.integer));
    case TypeId::BigInt:
      return p::BigInt(v.integer);
    case TypeId::Bit:
      return p::Bit(v.integer != 0);
    case TypeId::Float:
      return p::Float(v.real);
    case TypeId::Real:
      return p::Real(static_cast<float>(v.real));
    case TypeId::Decimal:
    case TypeId::Numeric: {
      uint8_t numeric[19];
      v.decimal.ToNumeric(t.precision, numeric);
      return t.id == TypeId::Decimal ? p::DecimalStruct(numeric) : p::NumericStruct(numeric);
    }
    case TypeId::Money:
      return p::Money(v.integer);
    case TypeId::SmallMoney:
      return p::SmallMoney(static_cast<int32_t>(v.integer));
    case TypeId::DateTime:
      return p::DateTime(v.datetime.days, v.datetime.ticks);
    case TypeId::SmallDateTime:
      return p::SmallDateTime(static_cast<uint16_t>(v.datetime.days),
                              static_cast<uint16_t>(v.datetime.ticks / (60 * kTicksPerSecond)));
    case TypeId::Char:
      return p::Char(v.text, t.length);
    case TypeId::VarChar:
      return t.IsMax() ? p::VarCharMax(v.text) : p::VarChar(v.text, t.length);
    case TypeId::Text:
      return p::Text(v.text);
    case TypeId::NChar:
      return p::NChar(v.wide, t.length);
    case TypeId::NVarChar:
      return t.IsMax() ? p::NVarCharMax(v.wide) : p::NVarChar(v.wide, t.length);
    case TypeId::NText:
      return p::NText(v.wide);
    case TypeId::Binary:
      return p::Binary(v.bytes, t.length);
    case TypeId::VarBinary:
      return t.IsMax() ? p::VarBinaryMax(v.bytes) : p::VarBinary(v.bytes, t.length);
    case TypeId::Image:
      return p::Image(v.bytes);
    case TypeId::Guid:
      return p::Guid(v.bytes);
  }
  return p::Null(SRVNULL, 0);
}

int64_t LittleEndian(const ods::Bytes& data, size_t offset, size_t size) {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) value |= static_cast<uint64_t>(data[offset + i]) << (8 * i);
  return static_cast<int64_t>(value);
}

}  // namespace

ods::Param ToParam(const Value& value) {
  if (value.untyped_null) return p::AsNull(p::Int(0));
  if (value.null) {
    // The type of the NULL with an empty value of its declared length.
    Value empty = value;
    empty.null = false;
    if (IsDecimal(value.type.id)) empty.decimal = Decimal{};
    if (value.type.id == TypeId::Guid) empty.bytes.assign(16, 0);
    return p::AsNull(NonNull(empty));
  }
  return NonNull(value);
}

SqlType ColumnType(int32_t type, int32_t max_len) {
  uint32_t len = static_cast<uint32_t>(max_len < 0 ? 0 : max_len);
  bool max = max_len >= 0x7FFFFFFF;
  auto sized = [&](TypeId id, uint32_t length) { return TypeOf(id, max ? kMaxLength : length); };
  switch (type) {
    case SRVINT1:
      return TypeOf(TypeId::TinyInt);
    case SRVINT2:
      return TypeOf(TypeId::SmallInt);
    case SRVINT4:
      return TypeOf(TypeId::Int);
    case SRVINT8:
      return TypeOf(TypeId::BigInt);
    case SRVINTN:
      return TypeOf(len == 1   ? TypeId::TinyInt
                    : len == 2 ? TypeId::SmallInt
                    : len == 8 ? TypeId::BigInt
                               : TypeId::Int);
    case SRVBIT:
    case SRVBITN:
      return TypeOf(TypeId::Bit);
    case SRVFLT4:
      return TypeOf(TypeId::Real);
    case SRVFLT8:
      return TypeOf(TypeId::Float);
    case SRVFLTN:
      return TypeOf(len == 4 ? TypeId::Real : TypeId::Float);
    case SRVMONEY:
      return TypeOf(TypeId::Money);
    case SRVMONEY4:
      return TypeOf(TypeId::SmallMoney);
    case SRVMONEYN:
      return TypeOf(len == 4 ? TypeId::SmallMoney : TypeId::Money);
    case SRVDATETIME:
      return TypeOf(TypeId::DateTime);
    case SRVDATETIM4:
      return TypeOf(TypeId::SmallDateTime);
    case SRVDATETIMN:
      return TypeOf(len == 4 ? TypeId::SmallDateTime : TypeId::DateTime);
    case SRVDECIMAL:
    case SRVDECIMALN:
    case SRVNUMERIC:
    case SRVNUMERICN:
      return DecimalType(38, 0);  // the scale comes with each value
    case SRVGUID:
      return TypeOf(TypeId::Guid);
    case SRVCHAR:
    case SRVBIGCHAR:
      return sized(TypeId::Char, len);
    case SRVVARCHAR:
    case SRVBIGVARCHAR:
      return sized(TypeId::VarChar, len);
    case SRVTEXT:
      return TypeOf(TypeId::Text);
    case SRVNCHAR:
      return sized(TypeId::NChar, len / 2);
    case SRVNVARCHAR:
      return sized(TypeId::NVarChar, len / 2);
    case SRVNTEXT:
      return TypeOf(TypeId::NText);
    case SRVBINARY:
    case SRVBIGBINARY:
      return sized(TypeId::Binary, len);
    case SRVVARBINARY:
    case SRVBIGVARBINARY:
      return sized(TypeId::VarBinary, len);
    case SRVIMAGE:
      return TypeOf(TypeId::Image);
    default:
      return sized(TypeId::VarBinary, len);  // shown as its bytes
  }
}

std::optional<Value> FromOds(int32_t type, const ods::Bytes& data) {
  size_t n = data.size();
  switch (type) {
    case SRVINT1:
    case SRVINT2:
    case SRVINT4:
    case SRVINT8:
    case SRVINTN:
      switch (n) {
        case 1:
          return Value::Integer(data[0], TypeId::TinyInt);
        case 2:
          return Value::Integer(static_cast<int16_t>(LittleEndian(data, 0, 2)), TypeId::SmallInt);
        case 4:
          return Value::Integer(static_cast<int32_t>(LittleEndian(data, 0, 4)), TypeId::Int);
        case 8:
          return Value::Integer(LittleEndian(data, 0, 8), TypeId::BigInt);
        default:
          return std::nullopt;
      }
    case SRVBIT:
    case SRVBITN:
      if (n != 1) return std::nullopt;
      return Value::Bit(data[0] != 0);
    case SRVFLT4:
    case SRVFLT8:
    case SRVFLTN:
      if (n == 8) {
        double value;
        std::memcpy(&value, data.data(), 8);
        return Value::Float(value);
      }
      if (n == 4) {
        float value;
        std::memcpy(&value, data.data(), 4);
        return Value::Float(value, TypeId::Real);
      }
      return std::nullopt;
    case SRVMONEY:
    case SRVMONEY4:
    case SRVMONEYN:
      if (n == 8) {
        // The high 32 bits first, then the low 32 bits.
        uint64_t high = static_cast<uint32_t>(LittleEndian(data, 0, 4));
        uint64_t low = static_cast<uint32_t>(LittleEndian(data, 4, 4));
        return Value::Money(static_cast<int64_t>((high << 32) | low));
      }
      if (n == 4)
        return Value::Money(static_cast<int32_t>(LittleEndian(data, 0, 4)), TypeId::SmallMoney);
      return std::nullopt;
    case SRVDATETIME:
    case SRVDATETIM4:
    case SRVDATETIMN:
      if (n == 8) {
        DateTimeValue value{static_cast<int32_t>(LittleEndian(data, 0, 4)),
                            static_cast<uint32_t>(LittleEndian(data, 4, 4))};
        if (value.ticks >= kTicksPerDay || !InDateTimeRange(value.days)) return std::nullopt;
        return Value::Date(value);
      }
      if (n == 4) {
        DateTimeValue value{static_cast<int32_t>(LittleEndian(data, 0, 2)),
                            static_cast<uint32_t>(LittleEndian(data, 2, 2)) * 60 * kTicksPerSecond};
        if (value.ticks >= kTicksPerDay) return std::nullopt;
        return Value::Date(value, TypeId::SmallDateTime);
      }
      return std::nullopt;
    case SRVDECIMAL:
    case SRVDECIMALN:
    case SRVNUMERIC:
    case SRVNUMERICN: {
      if (n != 19 || data[0] < 1 || data[0] > 38 || data[1] > data[0]) return std::nullopt;
      Decimal value = Decimal::FromNumeric(data.data());
      if (value.magnitude.Digits() > data[0]) return std::nullopt;
      return Value::Exact(value, data[0]);
    }
    case SRVGUID:
      if (n != 16) return std::nullopt;
      return Value::Guid(data);
    case SRVCHAR:
    case SRVBIGCHAR:
    case SRVVARCHAR:
    case SRVBIGVARCHAR:
    case SRVTEXT:
      return Value::Chars(std::string(data.begin(), data.end()),
                          TypeOf(TypeId::VarChar, kMaxLength));
    case SRVNCHAR:
    case SRVNVARCHAR:
    case SRVNTEXT: {
      if (n % 2) return std::nullopt;
      std::u16string wide(n / 2, u'\0');
      for (size_t i = 0; i < n / 2; ++i) {
        wide[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
      }
      return Value::WideChars(std::move(wide), TypeOf(TypeId::NVarChar, kMaxLength));
    }
    case SRVBINARY:
    case SRVBIGBINARY:
    case SRVVARBINARY:
    case SRVBIGVARBINARY:
    case SRVIMAGE:
      return Value::Binary(data, TypeOf(TypeId::VarBinary, kMaxLength));
    default:
      return std::nullopt;
  }
}

}  // namespace dunmarrow::tsql
