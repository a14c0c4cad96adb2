// Parameters as the server describes them to srv_paraminfo: type code, maximum length, value
// bytes and NULL flag for each SQL type. Used by hosts and tests to build calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ods/session.h"

namespace dunmarrow::ods::params {

// The maximum length reported for the (max) types and for text, ntext and image.
constexpr uint32_t kMaxTypeLength = 0x7FFFFFFF;

// 8-bit text: char(n), varchar(n), text. A length of 0 takes the value's own length (at least 1).
Param Char(std::string_view value, uint32_t length = 0);
Param VarChar(std::string_view value, uint32_t length = 0);
Param VarCharMax(std::string_view value);
Param Text(std::string_view value);
// 16-bit text from UTF-16 units: nchar(n), nvarchar(n), ntext; maximum length 2n.
Param NChar(std::u16string_view value, uint32_t length = 0);
Param NVarChar(std::u16string_view value, uint32_t length = 0);
Param NVarCharMax(std::u16string_view value);
Param NText(std::u16string_view value);
// 16-bit text given as UTF-8.
Param NVarCharUtf8(std::string_view utf8, uint32_t length = 0);

Param TinyInt(uint8_t value);
Param SmallInt(int16_t value);
Param Int(int32_t value);
Param BigInt(int64_t value);
Param Bit(bool value);
Param Float(double value);
Param Real(float value);
// Money values count ten-thousandths.
Param Money(int64_t ten_thousandths);
Param SmallMoney(int32_t ten_thousandths);
Param Decimal(double value, uint8_t precision, uint8_t scale);
Param Numeric(double value, uint8_t precision, uint8_t scale);
// decimal and numeric from the server's 19-byte structure (precision, scale, sign, magnitude).
Param DecimalStruct(const uint8_t* numeric);
Param NumericStruct(const uint8_t* numeric);
// datetime: days since 1900-01-01 and 1/300 s ticks since midnight.
Param DateTime(int32_t days, uint32_t ticks);
// smalldatetime: days since 1900-01-01 and minutes since midnight.
Param SmallDateTime(uint16_t days, uint16_t minutes);
Param Binary(const Bytes& value, uint32_t length = 0);
Param VarBinary(const Bytes& value, uint32_t length = 0);
Param VarBinaryMax(const Bytes& value);
Param Image(const Bytes& value);
Param Guid(const Bytes& sixteen_bytes);

// A NULL of the given SQL type code and maximum length.
Param Null(uint8_t type, uint32_t max_len);
// The parameter as NULL, typed as the server types a NULL: a fixed-length type takes its
// nullable form with its width as the maximum length (int 0x38 becomes 0x26 with 4, bit 0x68,
// float and real 0x6D, money and smallmoney 0x6E, datetime and smalldatetime 0x6F); the other
// types keep their code and maximum length.
Param AsNull(Param p);

Param Output(Param p);
Param Named(std::string name, Param p);

// UTF-8 to UTF-16 for building parameters (invalid input becomes U+FFFD).
std::u16string Utf16(std::string_view utf8);

}  // namespace dunmarrow::ods::params
