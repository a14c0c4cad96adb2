// SQL values in the server's layouts: a value as the parameter the server passes a procedure,
// and the bytes of a result column or OUTPUT parameter read back as a value.
#pragma once

#include <optional>

#include "ods/session.h"
#include "tsql/value.h"

namespace dunmarrow::tsql {

// The parameter as the server describes it to srv_paraminfo: the value's type code, maximum
// length (the declared length of a variable or a literal) and bytes. The NULL constant is an
// int NULL.
ods::Param ToParam(const Value& value);

// The SQL type that shows a result column described with this ODS type and length.
SqlType ColumnType(int32_t ods_type, int32_t max_len);

// The value of bytes in the layout of the ODS type; nullopt when their length does not fit
// the type (an int of 3 bytes) or the type has no values.
std::optional<Value> FromOds(int32_t ods_type, const ods::Bytes& data);

}  // namespace dunmarrow::tsql
