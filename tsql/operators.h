// The operators of the subset: + (concatenation of text and of binary values, addition of
// numbers), binary - and unary minus, with the result types the server gives them.
#pragma once

#include "tsql/value.h"

namespace dunmarrow::tsql {

Value Add(const Value& a, const Value& b);
Value Subtract(const Value& a, const Value& b);
Value Negate(const Value& a);
// The order of two values that are not NULL: below, equal to or above zero. Character values
// compare as the default collation does (case-insensitive, trailing spaces ignored); numbers
// and dates by value, converting as the server does; binary values byte by byte.
int Compare(const Value& a, const Value& b);

}  // namespace dunmarrow::tsql
