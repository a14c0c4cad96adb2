// The format engine's exact decimal digits: a currency amount rounded to its decimals, and an
// x86 extended value rounded to 18 significant digits with integers only (a big integer of
// 32-bit limbs), so that the digits are the same whatever the C runtime.
#include <bit>
#include <cstring>

#include "procs/format/format_internal.h"
#include "runtime/failure.h"

namespace dunmarrow::format_internal {

constexpr uint64_t kTen17 = 100000000000000000ull;
constexpr uint64_t kTen18 = 1000000000000000000ull;

void SetZero(Decimal& d) {
  d.negative = false;
  d.exponent = 0;
  d.count = 0;
}

void StripTrailingZeros(Decimal& d) {
  while (d.count > 0 && d.digits[d.count - 1] == 0) --d.count;
  if (d.count == 0) SetZero(d);
}

// The digits of value (at most 20), most significant first; returns how many.
int SplitDigits(uint64_t value, uint8_t* out) {
  uint8_t reversed[20];
  int n = 0;
  do {
    reversed[n++] = static_cast<uint8_t>(value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = 0; i < n; ++i) out[i] = reversed[n - 1 - i];
  return n;
}

// Keeps the first keep digits; a first dropped digit of 5 or more raises the kept ones by one
// unit in the last place (halves away from zero). keep <= 0 leaves zero or, for keep 0 and a
// first digit of 5 or more, the digit string "1" one place higher.
void CutDigits(Decimal& d, int keep) {
  if (keep >= d.count) return;
  if (keep < 0) {
    SetZero(d);
    return;
  }
  bool up = d.digits[keep] >= 5;
  d.count = keep;
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d.digits[i] == 9) --i;
    if (i < 0) {
      d.digits[0] = 1;
      d.count = 1;
      d.exponent += 1;
    } else {
      d.digits[i] += 1;
      d.count = i + 1;
    }
  }
  StripTrailingZeros(d);
}

// A currency amount (ten-thousandths) with the given decimals: exact with 4 or more, otherwise
// the nearest value with that many decimals, halves going to the even neighbour.
Decimal CurrencyDigits(int64_t amount, int decimals) {
  static constexpr uint64_t kPow10[] = {1, 10, 100, 1000, 10000};
  uint64_t magnitude =
      amount < 0 ? 0 - static_cast<uint64_t>(amount) : static_cast<uint64_t>(amount);
  int scale = 4;
  if (decimals < 4) {
    uint64_t divisor = kPow10[4 - decimals];
    uint64_t quotient = magnitude / divisor;
    uint64_t remainder = magnitude % divisor;
    uint64_t half = divisor / 2;
    if (remainder > half || (remainder == half && (quotient & 1))) ++quotient;
    magnitude = quotient;
    scale = decimals;
  }
  Decimal d;
  if (magnitude == 0) return d;
  d.negative = amount < 0;
  d.count = SplitDigits(magnitude, d.digits);
  d.exponent = d.count - scale;
  StripTrailingZeros(d);
  return d;
}

// An unsigned integer of up to kLimbs 32-bit limbs, enough for every finite extended value
// scaled to 18 digits (the largest intermediate has about 11600 bits).
class BigNum {
 public:
  explicit BigNum(uint64_t value) {
    if (value != 0) {
      limbs_[size_++] = static_cast<uint32_t>(value);
      if (value >> 32) limbs_[size_++] = static_cast<uint32_t>(value >> 32);
    }
  }

  int Size() const { return size_; }
  uint64_t Low64() const {
    uint64_t low = size_ > 0 ? limbs_[0] : 0;
    uint64_t high = size_ > 1 ? limbs_[1] : 0;
    return low | (high << 32);
  }

  void MultiplySmall(uint32_t factor) {
    uint64_t carry = 0;
    for (int i = 0; i < size_; ++i) {
      uint64_t t = uint64_t{limbs_[i]} * factor + carry;
      limbs_[i] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    if (carry != 0) Push(static_cast<uint32_t>(carry));
  }

  // Divides by divisor, rounding down; true when the remainder was not zero.
  bool DivideSmall(uint32_t divisor) {
    uint64_t remainder = 0;
    for (int i = size_ - 1; i >= 0; --i) {
      uint64_t current = (remainder << 32) | limbs_[i];
      limbs_[i] = static_cast<uint32_t>(current / divisor);
      remainder = current % divisor;
    }
    Trim();
    return remainder != 0;
  }

  void ShiftLeft(int bits) {
    if (size_ == 0 || bits == 0) return;
    int words = bits / 32;
    int rest = bits % 32;
    if (size_ + words + 1 > kLimbs) RaiseRangeError();
    if (rest == 0) {
      for (int i = size_ - 1; i >= 0; --i) limbs_[i + words] = limbs_[i];
    } else {
      limbs_[size_ + words] = limbs_[size_ - 1] >> (32 - rest);
      for (int i = size_ - 1; i > 0; --i) {
        limbs_[i + words] = (limbs_[i] << rest) | (limbs_[i - 1] >> (32 - rest));
      }
      limbs_[words] = limbs_[0] << rest;
      ++size_;
    }
    for (int i = 0; i < words; ++i) limbs_[i] = 0;
    size_ += words;
    Trim();
  }

  // Shifts right, rounding down; true when a bit that was not zero was shifted out.
  bool ShiftRight(int bits) {
    int words = bits / 32;
    int rest = bits % 32;
    if (words >= size_) {
      bool lost = size_ > 0;
      size_ = 0;
      return lost;
    }
    bool lost = false;
    for (int i = 0; i < words; ++i) lost |= limbs_[i] != 0;
    if (rest != 0) lost |= (limbs_[words] & ((uint32_t{1} << rest) - 1)) != 0;
    int new_size = size_ - words;
    for (int i = 0; i < new_size; ++i) {
      uint32_t low = limbs_[i + words] >> rest;
      uint32_t high = rest != 0 && i + words + 1 < size_ ? limbs_[i + words + 1] << (32 - rest) : 0;
      limbs_[i] = low | high;
    }
    size_ = new_size;
    Trim();
    return lost;
  }

 private:
  static constexpr int kLimbs = 640;

  void Push(uint32_t limb) {
    if (size_ == kLimbs) RaiseRangeError();
    limbs_[size_++] = limb;
  }
  void Trim() {
    while (size_ > 0 && limbs_[size_ - 1] == 0) --size_;
  }

  uint32_t limbs_[kLimbs];
  int size_ = 0;
};

constexpr uint32_t kPow5[] = {1,     5,      25,      125,     625,      3125,      15625,
                              78125, 390625, 1953125, 9765625, 48828125, 244140625, 1220703125};
constexpr int kMaxPow5 = 13;

void MultiplyPow5(BigNum& b, int n) {
  while (n > 0) {
    int k = std::min(n, kMaxPow5);
    b.MultiplySmall(kPow5[k]);
    n -= k;
  }
}

bool DividePow5(BigNum& b, int n) {
  bool inexact = false;
  while (n > 0) {
    int k = std::min(n, kMaxPow5);
    inexact |= b.DivideSmall(kPow5[k]);
    n -= k;
  }
  return inexact;
}

// floor(2 * m * 2^e * 10^t) and whether that was inexact; false when it needs more than 64 bits.
bool ScaledTwice(uint64_t m, int e, int t, uint64_t* result, bool* inexact) {
  BigNum b(m);
  b.ShiftLeft(1);
  if (t > 0) MultiplyPow5(b, t);
  int shift = e + t;
  if (shift > 0) b.ShiftLeft(shift);
  bool lost = false;
  if (t < 0) lost = DividePow5(b, -t);
  if (shift < 0) lost |= b.ShiftRight(-shift);
  if (b.Size() > 2) return false;
  *result = b.Low64();
  *inexact = lost;
  return true;
}

ExtendedParts SplitExtended(long double value) {
  unsigned char raw[sizeof(long double)];
  std::memcpy(raw, &value, sizeof value);
  ExtendedParts parts;
  std::memcpy(&parts.significand, raw, 8);
  uint16_t sign_exponent;
  std::memcpy(&sign_exponent, raw + 8, 2);
  parts.negative = (sign_exponent & 0x8000) != 0;
  parts.biased_exponent = sign_exponent & 0x7FFF;
  return parts;
}

// A finite extended value rounded to exactly 18 significant digits, to nearest (an exact half
// goes to the even neighbour). Computed with integers only, so the digits are the same
// whatever the C runtime.
Decimal ExtendedDigits(const ExtendedParts& parts) {
  Decimal d;
  uint64_t m = parts.significand;
  if (m == 0) return d;
  // value = m * 2^e; denormals have the exponent of the smallest normal.
  int e = std::max(parts.biased_exponent, 1) - 16383 - 63;
  int leading = std::countl_zero(m);
  m <<= leading;
  e -= leading;
  // 2^(e+63) <= value < 2^(e+64): a first guess of E with 10^(E-1) <= value < 10^E, checked
  // below. floor(L * log10(2)) with log10(2) as 1292913986 / 2^32.
  int64_t l = e + 63;
  int exponent = static_cast<int>((l * 1292913986LL) >> 32) + 1;
  uint64_t twice = 0;
  bool inexact = false;
  for (int attempt = 0; attempt < 4; ++attempt) {
    bool fits = ScaledTwice(m, e, 18 - exponent, &twice, &inexact);
    if (!fits || (twice >> 1) >= kTen18) {
      ++exponent;
    } else if ((twice >> 1) < kTen17) {
      --exponent;
    } else {
      break;
    }
  }
  uint64_t q = twice >> 1;
  if ((twice & 1) && (inexact || (q & 1))) ++q;
  if (q == kTen18) {
    q = kTen17;
    ++exponent;
  }
  d.negative = parts.negative;
  d.count = SplitDigits(q, d.digits);
  d.exponent = exponent;
  StripTrailingZeros(d);
  return d;
}

}  // namespace dunmarrow::format_internal
