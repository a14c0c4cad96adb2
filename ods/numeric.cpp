// The server's numeric structure (precision, scale, sign, 16 bytes of magnitude) and its
// conversions to and from float, shared by the ODS library and the hosts.
#include "ods/numeric.h"

#include <cmath>
#include <cstring>

#include "ods/srv.h"

namespace dunmarrow::ods {

bool IsNumericType(int type) {
  return type == SRVNUMERIC || type == SRVNUMERICN || type == SRVDECIMAL || type == SRVDECIMALN;
}

bool IsFloatType(int type) {
  return type == SRVFLT8 || type == SRVFLTN;
}

namespace {
constexpr long double kTwo64 = 18446744073709551616.0L;
}

bool FloatToNumeric(double value, uint8_t precision, uint8_t scale, uint8_t* out) {
  if (!std::isfinite(value) || precision < 1 || precision > 38 || scale > precision) return false;
  long double scaled = std::fabs(static_cast<long double>(value)) * std::pow(10.0L, scale);
  long double magnitude = std::nearbyint(scaled);
  if (magnitude >= std::pow(10.0L, precision)) return false;
  // The magnitude is below 10^38 < 2^127: split it into two 64-bit halves exactly.
  long double high_part = std::floor(magnitude / kTwo64);
  long double low_part = magnitude - high_part * kTwo64;
  uint64_t high = static_cast<uint64_t>(high_part);
  uint64_t low = static_cast<uint64_t>(low_part);
  std::memset(out, 0, kNumericSize);
  out[0] = precision;
  out[1] = scale;
  out[2] = (value < 0 && magnitude != 0) ? 0 : 1;
  for (int i = 0; i < 8; ++i) {
    out[3 + i] = static_cast<uint8_t>(low >> (8 * i));
    out[11 + i] = static_cast<uint8_t>(high >> (8 * i));
  }
  return true;
}

double NumericToFloat(const uint8_t* numeric) {
  uint64_t low = 0, high = 0;
  for (int i = 0; i < 8; ++i) {
    low |= static_cast<uint64_t>(numeric[3 + i]) << (8 * i);
    high |= static_cast<uint64_t>(numeric[11 + i]) << (8 * i);
  }
  long double magnitude = static_cast<long double>(high) * kTwo64 + static_cast<long double>(low);
  long double value = magnitude / std::pow(10.0L, numeric[1]);
  return static_cast<double>(numeric[2] == 0 ? -value : value);
}

}  // namespace dunmarrow::ods
