// SQL values and the server's conversions between them (CAST, CONVERT and the implicit
// conversions of assignment and expressions).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tsql/datetime.h"
#include "tsql/decimal.h"
#include "tsql/sql_type.h"

namespace dunmarrow::tsql {

using ByteString = std::vector<uint8_t>;

struct Value {
  SqlType type;
  bool null = true;
  bool untyped_null = false;  // the NULL constant: converts to every type
  int64_t integer = 0;        // tinyint..bigint, bit, money and smallmoney (ten-thousandths)
  double real = 0;            // float, real
  Decimal decimal;            // decimal, numeric
  DateTimeValue datetime;     // datetime, smalldatetime
  std::string text;           // char, varchar, text: 8-bit text in the ANSI code page
  std::u16string wide;        // nchar, nvarchar, ntext
  ByteString bytes;           // binary, varbinary, image; uniqueidentifier: 16 bytes

  static Value Null(SqlType type);
  static Value UntypedNull();
  static Value Integer(int64_t value, TypeId id = TypeId::Int);
  static Value Bit(bool value);
  static Value Float(double value, TypeId id = TypeId::Float);
  static Value Money(int64_t ten_thousandths, TypeId id = TypeId::Money);
  static Value Exact(const Decimal& value, int precision, TypeId id = TypeId::Numeric);
  static Value Date(DateTimeValue value, TypeId id = TypeId::DateTime);
  // Character and binary values of the given type (its length is the declared one).
  static Value Chars(std::string ansi, SqlType type);
  static Value WideChars(std::u16string wide, SqlType type);
  static Value Binary(ByteString bytes, SqlType type);
  static Value Guid(ByteString sixteen);
};

enum class Conversion { kImplicit, kExplicit };

// The value converted to the target type as the server converts it: numbers checked against the
// target's range, text cut or padded to the target's length. Raises SqlError when the server
// would refuse (conversion not allowed, bad syntax in the text, overflow).
Value Convert(const Value& value, const SqlType& target, Conversion mode = Conversion::kImplicit,
              int style = 0);

// The text of a uniqueidentifier: "6F9619FF-8B86-D011-B42D-00C04FC964FF".
std::string GuidText(const ByteString& sixteen);

// The value as UTF-8 text for messages ("the varchar value 'abc'").
std::string MessageText(const Value& value);

}  // namespace dunmarrow::tsql
