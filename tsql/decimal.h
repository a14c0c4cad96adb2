// Exact decimal numbers of up to 38 digits, as decimal(p,s) and numeric(p,s) hold them: a sign,
// a 128-bit magnitude and a scale. Plain 32-bit limbs, so the 32-bit Windows build has them too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dunmarrow::tsql {

constexpr int kMaxPrecision = 38;

class UInt128 {
 public:
  UInt128() = default;
  explicit UInt128(uint64_t value);
  bool IsZero() const;
  // False on overflow past 128 bits.
  bool MulAdd(uint32_t factor, uint32_t addend);
  uint32_t DivMod(uint32_t divisor);  // returns the remainder
  bool Add(const UInt128& other);     // false on overflow
  void Sub(const UInt128& smaller);
  int Compare(const UInt128& other) const;
  int Digits() const;  // decimal digits; 0 has 1 digit
  bool FitsUInt64() const { return limbs_[2] == 0 && limbs_[3] == 0; }
  uint64_t Low64() const { return (static_cast<uint64_t>(limbs_[1]) << 32) | limbs_[0]; }
  std::string ToString() const;
  // Little-endian bytes, as the server's numeric structure stores the magnitude.
  void ToBytes(uint8_t* out16) const;
  static UInt128 FromBytes(const uint8_t* in16);

 private:
  uint32_t limbs_[4] = {0, 0, 0, 0};  // least significant first
};

struct Decimal {
  bool negative = false;
  UInt128 magnitude;
  int scale = 0;

  bool IsZero() const { return magnitude.IsZero(); }
  // Digits of the magnitude, at least the scale + 1 (a number below 1 has its "0.").
  int Precision() const;
  // "-12.50", "0.5"; with leading_zero false "-.5" as the ODBC drivers show it.
  std::string ToString(bool leading_zero = true) const;
  // The value at another scale, rounded half away from zero; nullopt past 38 digits.
  std::optional<Decimal> Rescale(int new_scale) const;
  bool FitsPrecision(int precision) const;
  // Truncated toward zero; nullopt past 64 bits.
  std::optional<int64_t> ToInt64() const;
  double ToDouble() const;

  static Decimal FromInt64(int64_t value);
  // Digits with an optional sign and point, no exponent; nullopt when malformed or past 38 digits.
  static std::optional<Decimal> Parse(std::string_view text);
  // The shortest decimal that reads back as the double, then rounded to the scale.
  static std::optional<Decimal> FromDouble(double value, int scale);
  // The server's 19-byte numeric structure: precision, scale, sign (1 positive), magnitude.
  void ToNumeric(int precision, uint8_t* out19) const;
  static Decimal FromNumeric(const uint8_t* in19);
};

// a + b exactly, at the larger scale; nullopt past 38 digits.
std::optional<Decimal> AddDecimals(const Decimal& a, const Decimal& b);

}  // namespace dunmarrow::tsql
