// The server's numeric structure (precision, scale, sign, 16 bytes of magnitude, little-endian)
// and its conversions to and from float.
#pragma once

#include <cstdint>

namespace dunmarrow::ods {

constexpr int kNumericSize = 19;

bool IsNumericType(int type);
bool IsFloatType(int type);

// Writes value into out (19 bytes) with the given precision and scale, rounding to the nearest
// unit of the scale. False when the value is not finite or needs more digits than precision.
bool FloatToNumeric(double value, uint8_t precision, uint8_t scale, uint8_t* out);

// The value of a numeric structure as a double.
double NumericToFloat(const uint8_t* numeric);

}  // namespace dunmarrow::ods
