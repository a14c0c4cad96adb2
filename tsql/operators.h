// The operators of the subset: + (concatenation of text and of binary values, addition of
// numbers), binary - and unary minus, with the result types the server gives them.
#pragma once

#include "tsql/value.h"

namespace dunmarrow::tsql {

Value Add(const Value& a, const Value& b);
Value Subtract(const Value& a, const Value& b);
Value Negate(const Value& a);

}  // namespace dunmarrow::tsql
