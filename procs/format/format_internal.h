// What the files of the format engine share among themselves: the exact decimal digits of a
// number (float_digits.cpp) and the text of a float or currency value in each notation
// (notations.cpp), which the pass over the format (format_pass.cpp) writes.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "procs/format/format_engine.h"

namespace dunmarrow::format_internal {

// value = 0.d1 d2 ... dk times 10^exponent; no trailing zero digit; zero has no digits, no sign
// and exponent 0.
struct Decimal {
  bool negative = false;
  int exponent = 0;
  int count = 0;
  uint8_t digits[20] = {};
};

static_assert(std::numeric_limits<long double>::digits == 64 &&
                  std::numeric_limits<long double>::max_exponent == 16384,
              "faFloat is the x86 80-bit extended type");

// The fields of an x86 extended value: 64-bit significand with its explicit integer bit, then
// the sign bit and the 15-bit biased exponent.
struct ExtendedParts {
  uint64_t significand;
  bool negative;
  int biased_exponent;
};

// The digits of value (at most 20), most significant first; returns how many.
int SplitDigits(uint64_t value, uint8_t* out);

// Keeps the first keep digits; a first dropped digit of 5 or more raises the kept ones by one
// unit in the last place (halves away from zero). keep <= 0 leaves zero or, for keep 0 and a
// first digit of 5 or more, the digit string "1" one place higher.
void CutDigits(Decimal& d, int keep);

// A currency amount (ten-thousandths) with the given decimals: exact with 4 or more, otherwise
// the nearest value with that many decimals, halves going to the even neighbour.
Decimal CurrencyDigits(int64_t amount, int decimals);

ExtendedParts SplitExtended(long double value);

// A finite extended value rounded to exactly 18 significant digits, to nearest (an exact half
// goes to the even neighbour). Computed with integers only, so the digits are the same
// whatever the C runtime.
Decimal ExtendedDigits(const ExtendedParts& parts);

// Appends the text of one faFloat or faCurrency value (FormatFloatText).
void AppendFloatText(std::u16string& out, const FormatArg& value, FloatNotation notation,
                     int precision, int digits, const RegionalFormat& settings);

}  // namespace dunmarrow::format_internal
