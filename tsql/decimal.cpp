// The 128-bit magnitudes of exact decimals (multiply-add, division by a small number, text and
// bytes) and the decimal operations built on them.
#include "tsql/decimal.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace dunmarrow::tsql {

UInt128::UInt128(uint64_t value) {
  limbs_[0] = static_cast<uint32_t>(value);
  limbs_[1] = static_cast<uint32_t>(value >> 32);
}

bool UInt128::IsZero() const {
  return !(limbs_[0] | limbs_[1] | limbs_[2] | limbs_[3]);
}

bool UInt128::MulAdd(uint32_t factor, uint32_t addend) {
  uint64_t carry = addend;
  for (uint32_t& limb : limbs_) {
    uint64_t product = static_cast<uint64_t>(limb) * factor + carry;
    limb = static_cast<uint32_t>(product);
    carry = product >> 32;
  }
  return carry == 0;
}

uint32_t UInt128::DivMod(uint32_t divisor) {
  uint64_t remainder = 0;
  for (int i = 3; i >= 0; --i) {
    uint64_t current = (remainder << 32) | limbs_[i];
    limbs_[i] = static_cast<uint32_t>(current / divisor);
    remainder = current % divisor;
  }
  return static_cast<uint32_t>(remainder);
}

bool UInt128::Add(const UInt128& other) {
  uint64_t carry = 0;
  for (int i = 0; i < 4; ++i) {
    uint64_t sum = static_cast<uint64_t>(limbs_[i]) + other.limbs_[i] + carry;
    limbs_[i] = static_cast<uint32_t>(sum);
    carry = sum >> 32;
  }
  return carry == 0;
}

void UInt128::Sub(const UInt128& smaller) {
  int64_t borrow = 0;
  for (int i = 0; i < 4; ++i) {
    int64_t difference = static_cast<int64_t>(limbs_[i]) - smaller.limbs_[i] - borrow;
    borrow = difference < 0 ? 1 : 0;
    limbs_[i] = static_cast<uint32_t>(difference + (borrow << 32));
  }
}

int UInt128::Compare(const UInt128& other) const {
  for (int i = 3; i >= 0; --i) {
    if (limbs_[i] != other.limbs_[i]) return limbs_[i] < other.limbs_[i] ? -1 : 1;
  }
  return 0;
}

std::string UInt128::ToString() const {
  UInt128 rest = *this;
  std::string digits;
  do {
    digits += static_cast<char>('0' + rest.DivMod(10));
  } while (!rest.IsZero());
  std::reverse(digits.begin(), digits.end());
  return digits;
}

int UInt128::Digits() const {
  return static_cast<int>(ToString().size());
}

void UInt128::ToBytes(uint8_t* out) const {
  for (int i = 0; i < 16; ++i) out[i] = static_cast<uint8_t>(limbs_[i / 4] >> (8 * (i % 4)));
}

UInt128 UInt128::FromBytes(const uint8_t* in) {
  UInt128 value;
  for (int i = 0; i < 16; ++i) value.limbs_[i / 4] |= static_cast<uint32_t>(in[i]) << (8 * (i % 4));
  return value;
}

int Decimal::Precision() const {
  return std::max({magnitude.Digits(), scale, 1});
}

std::string Decimal::ToString(bool leading_zero) const {
  std::string digits = magnitude.ToString();
  if (static_cast<int>(digits.size()) <= scale) {
    digits.insert(0, static_cast<size_t>(scale) - digits.size() + 1, '0');
  }
  std::string integral = digits.substr(0, digits.size() - static_cast<size_t>(scale));
  std::string out = (negative && !IsZero()) ? "-" : "";
  if (leading_zero || integral != "0" || scale == 0) out += integral;
  if (scale > 0) out += "." + digits.substr(digits.size() - static_cast<size_t>(scale));
  return out;
}

std::optional<Decimal> Decimal::Rescale(int new_scale) const {
  Decimal out = *this;
  out.scale = new_scale;
  if (new_scale >= scale) {
    if (magnitude.Digits() + (new_scale - scale) > kMaxPrecision && !IsZero()) return std::nullopt;
    for (int i = scale; i < new_scale; ++i) out.magnitude.MulAdd(10, 0);
    return out;
  }
  uint32_t last = 0;
  for (int i = new_scale; i < scale; ++i) last = out.magnitude.DivMod(10);
  if (last >= 5) out.magnitude.MulAdd(1, 1);  // half away from zero
  if (out.magnitude.Digits() > kMaxPrecision) return std::nullopt;
  return out;
}

bool Decimal::FitsPrecision(int precision) const {
  // Integral digits may not exceed precision - scale.
  UInt128 integral = magnitude;
  for (int i = 0; i < scale; ++i) integral.DivMod(10);
  if (integral.IsZero()) return true;
  return integral.Digits() <= precision - scale;
}

std::optional<int64_t> Decimal::ToInt64() const {
  UInt128 integral = magnitude;
  for (int i = 0; i < scale; ++i) integral.DivMod(10);
  if (!integral.FitsUInt64()) return std::nullopt;
  uint64_t value = integral.Low64();
  if (negative) {
    if (value > static_cast<uint64_t>(INT64_MAX) + 1) return std::nullopt;
    return static_cast<int64_t>(0 - value);
  }
  if (value > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return static_cast<int64_t>(value);
}

double Decimal::ToDouble() const {
  std::string text = ToString();
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

Decimal Decimal::FromInt64(int64_t value) {
  Decimal out;
  out.negative = value < 0;
  out.magnitude =
      UInt128(value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value));
  return out;
}

std::optional<Decimal> Decimal::Parse(std::string_view text) {
  Decimal out;
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) out.negative = text[i++] == '-';
  bool any_digit = false, point = false;
  int significant = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    any_digit = true;
    if (point) ++out.scale;
    if (significant > 0 || c != '0') ++significant;
    if (significant > kMaxPrecision || out.scale > kMaxPrecision) return std::nullopt;
    out.magnitude.MulAdd(10, static_cast<uint32_t>(c - '0'));
  }
  if (!any_digit) return std::nullopt;
  return out;
}

std::optional<Decimal> Decimal::FromDouble(double value, int scale) {
  if (!std::isfinite(value)) return std::nullopt;
  // The shortest fixed form that reads back as the value (a double has at most 1075 digits).
  char buffer[1200];
  auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (error != std::errc()) return std::nullopt;
  std::string_view text(buffer, static_cast<size_t>(end - buffer));
  // Keep the digits of the scale; the next one decides the rounding, half away from zero.
  char next = '0';
  size_t dot = text.find('.');
  if (dot != std::string_view::npos && text.size() > dot + 1 + static_cast<size_t>(scale)) {
    next = text[dot + 1 + static_cast<size_t>(scale)];
    text = text.substr(0, dot + 1 + static_cast<size_t>(scale));
  }
  auto parsed = Parse(text);
  if (!parsed) return std::nullopt;
  auto out = parsed->Rescale(scale);
  if (!out) return std::nullopt;
  if (next >= '5') {
    out->magnitude.MulAdd(1, 1);
    if (out->magnitude.Digits() > kMaxPrecision) return std::nullopt;
  }
  return out;
}

void Decimal::ToNumeric(int precision, uint8_t* out) const {
  out[0] = static_cast<uint8_t>(precision);
  out[1] = static_cast<uint8_t>(scale);
  out[2] = (negative && !IsZero()) ? 0 : 1;
  magnitude.ToBytes(out + 3);
}

Decimal Decimal::FromNumeric(const uint8_t* in) {
  Decimal out;
  out.scale = std::min<int>(in[1], kMaxPrecision);
  out.negative = in[2] == 0;
  out.magnitude = UInt128::FromBytes(in + 3);
  return out;
}

std::optional<Decimal> AddDecimals(const Decimal& a, const Decimal& b) {
  int scale = std::max(a.scale, b.scale);
  auto x = a.Rescale(scale), y = b.Rescale(scale);
  if (!x || !y) return std::nullopt;
  Decimal out;
  out.scale = scale;
  if (x->negative == y->negative) {
    out.negative = x->negative;
    out.magnitude = x->magnitude;
    if (!out.magnitude.Add(y->magnitude)) return std::nullopt;
  } else if (x->magnitude.Compare(y->magnitude) >= 0) {
    out.negative = x->negative;
    out.magnitude = x->magnitude;
    out.magnitude.Sub(y->magnitude);
  } else {
    out.negative = y->negative;
    out.magnitude = y->magnitude;
    out.magnitude.Sub(x->magnitude);
  }
  if (out.magnitude.Digits() > kMaxPrecision) return std::nullopt;
  return out;
}

}  // namespace dunmarrow::tsql
