// The format engine of xp_FormatStr (procs/file/format_engine.h): a printf-style formatter
// over typed arguments, in UTF-16, whose float digits are exact whatever the C runtime.
//
// Map: the argument constructors; decimal digits of a number (Decimal, currency amounts, the
// big integers that give an extended value's 18 digits exactly); the notations (general,
// exponent, fixed, number, currency, with the locale's separators and currency layouts); the
// pass over the format (sinks, directives, their failures); the regional settings read from
// the locale at module load; the entry points.
#include "procs/file/format_engine.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "platform/windows.h"
#include "runtime/failure.h"

namespace dunmarrow {

FormatArg FormatArg::Integer(int32_t value) {
  FormatArg arg;
  arg.integer = value;
  return arg;
}

FormatArg FormatArg::Boolean(bool value) {
  FormatArg arg;
  arg.kind = faBoolean;
  arg.boolean = value ? 1 : 0;
  return arg;
}

FormatArg FormatArg::Float(long double value) {
  FormatArg arg;
  arg.kind = faFloat;
  arg.extended = value;
  return arg;
}

FormatArg FormatArg::Currency(int64_t ten_thousandths) {
  FormatArg arg;
  arg.kind = faCurrency;
  arg.currency = ten_thousandths;
  return arg;
}

FormatArg FormatArg::WideText(std::u16string value) {
  FormatArg arg;
  arg.kind = faWideText;
  arg.text = std::move(value);
  return arg;
}

namespace {

// ---------------------------------------------------------------------------------------------
// Decimal digits of a number

// value = 0.d1 d2 ... dk times 10^exponent; no trailing zero digit; zero has no digits, no sign
// and exponent 0.
struct Decimal {
  bool negative = false;
  int exponent = 0;
  int count = 0;
  uint8_t digits[20] = {};
};

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

// ---------------------------------------------------------------------------------------------
// Notations

void AppendSeparator(std::u16string& out, char16_t separator) {
  if (separator != 0) out += separator;
}

void AppendAscii(std::u16string& out, const char* text) {
  while (*text) out += static_cast<char16_t>(*text++);
}

void AppendUnsigned(std::u16string& out, uint64_t value, int min_digits) {
  uint8_t digits[20];
  int n = SplitDigits(value, digits);
  for (int i = n; i < min_digits; ++i) out += u'0';
  for (int i = 0; i < n; ++i) out += static_cast<char16_t>(u'0' + digits[i]);
}

char16_t DigitAt(const Decimal& d, int i) {
  return i < d.count ? static_cast<char16_t>(u'0' + d.digits[i]) : u'0';
}

void AppendGeneral(std::u16string& out, const Decimal& d, int precision, int exponent_digits,
                   const RegionalFormat& settings) {
  if (d.negative) out += u'-';
  int e = d.exponent;
  if (e >= -3 && e <= precision) {
    if (e <= 0) {
      out += u'0';
      if (d.count > 0) {
        AppendSeparator(out, settings.decimal_separator);
        out.append(static_cast<size_t>(-e), u'0');
        for (int i = 0; i < d.count; ++i) out += DigitAt(d, i);
      }
    } else {
      for (int i = 0; i < e; ++i) out += DigitAt(d, i);
      if (d.count > e) {
        AppendSeparator(out, settings.decimal_separator);
        for (int i = e; i < d.count; ++i) out += DigitAt(d, i);
      }
    }
    return;
  }
  out += DigitAt(d, 0);
  if (d.count > 1) {
    AppendSeparator(out, settings.decimal_separator);
    for (int i = 1; i < d.count; ++i) out += DigitAt(d, i);
  }
  out += u'E';
  int shown = d.count == 0 ? 0 : e - 1;
  if (shown < 0) out += u'-';
  AppendUnsigned(out, static_cast<uint64_t>(shown < 0 ? -int64_t{shown} : shown), exponent_digits);
}

void AppendExponent(std::u16string& out, const Decimal& d, int precision, int exponent_digits,
                    const RegionalFormat& settings) {
  if (d.negative) out += u'-';
  out += DigitAt(d, 0);
  AppendSeparator(out, settings.decimal_separator);
  for (int i = 1; i < precision; ++i) out += DigitAt(d, i);
  out += u'E';
  int shown = d.count == 0 ? 0 : d.exponent - 1;
  out += shown < 0 ? u'-' : u'+';
  AppendUnsigned(out, static_cast<uint64_t>(shown < 0 ? -int64_t{shown} : shown), exponent_digits);
}

// The amount without sign: integer part (grouped in number notation), then the decimals.
void AppendFixedDigits(std::u16string& out, const Decimal& d, int decimals, bool grouped,
                       const RegionalFormat& settings) {
  int e = d.exponent;
  if (e <= 0) {
    out += u'0';
  } else {
    for (int i = 0; i < e; ++i) {
      if (grouped && i > 0 && (e - i) % 3 == 0) AppendSeparator(out, settings.thousand_separator);
      out += DigitAt(d, i);
    }
  }
  if (decimals <= 0) return;
  AppendSeparator(out, settings.decimal_separator);
  int written = 0;
  if (e < 0) {
    int zeros = std::min(-e, decimals);
    out.append(static_cast<size_t>(zeros), u'0');
    written = zeros;
  }
  for (int i = std::max(e, 0); i < d.count && written < decimals; ++i, ++written) {
    out += DigitAt(d, i);
  }
  out.append(static_cast<size_t>(decimals - written), u'0');
}

constexpr const char* kPositiveLayouts[] = {"$*", "*$", "$ *", "* $"};
constexpr const char* kNegativeLayouts[] = {"($*)", "-$*",  "$-*",   "$*-",  "(*$)", "-*$",
                                            "*-$",  "*$-",  "-* $",  "-$ *", "* $-", "$ *-",
                                            "$ -*", "*- $", "($ *)", "(* $)"};

void AppendCurrency(std::u16string& out, const Decimal& d, int decimals,
                    const RegionalFormat& settings) {
  const char* layout;
  if (d.negative) {
    layout = kNegativeLayouts[std::clamp(settings.negative_currency_format, 0, 15)];
  } else {
    layout = kPositiveLayouts[std::clamp(settings.positive_currency_format, 0, 3)];
  }
  for (const char* c = layout; *c; ++c) {
    if (*c == '$') {
      out += settings.currency_symbol;
    } else if (*c == '*') {
      AppendFixedDigits(out, d, decimals, true, settings);
    } else {
      out += static_cast<char16_t>(*c);
    }
  }
}

void AppendFloatText(std::u16string& out, const FormatArg& value, FloatNotation notation,
                     int precision, int digits, const RegionalFormat& settings) {
  bool currency = value.kind == faCurrency;
  precision = currency ? 19 : std::clamp(precision, 2, 18);
  digits = std::clamp(digits, 0, 18);
  Decimal d;
  if (currency) {
    bool fixed = notation == fnFixed || notation == fnNumber || notation == fnCurrency;
    d = CurrencyDigits(value.currency, fixed ? std::min(digits, 4) : 4);
  } else {
    ExtendedParts parts = SplitExtended(value.extended);
    if (parts.biased_exponent == 0x7FFF) {
      if ((parts.significand << 1) != 0) {
        AppendAscii(out, "NAN");
      } else {
        AppendAscii(out, parts.negative ? "-INF" : "INF");
      }
      return;
    }
    d = ExtendedDigits(parts);
    if (notation == fnGeneral || notation == fnExponent) {
      CutDigits(d, precision);
    } else {
      CutDigits(d, std::min(d.exponent + digits, precision));
    }
  }
  switch (notation) {
    case fnGeneral:
      AppendGeneral(out, d, precision, digits, settings);
      return;
    case fnExponent:
      AppendExponent(out, d, precision, digits, settings);
      return;
    case fnFixed:
    case fnNumber:
    case fnCurrency:
      // More digits before the decimal point than the precision: general notation.
      if (d.exponent > precision) {
        AppendGeneral(out, d, precision, digits > 4 ? 0 : digits, settings);
      } else if (notation == fnCurrency) {
        AppendCurrency(out, d, digits, settings);
      } else {
        if (d.negative) out += u'-';
        AppendFixedDigits(out, d, digits, notation == fnNumber, settings);
      }
      return;
  }
}

// ---------------------------------------------------------------------------------------------
// The pass over the format

// Writes into a buffer, up to its capacity.
class BufferSink {
 public:
  BufferSink(char16_t* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}
  bool Full() const { return length_ >= capacity_; }
  size_t Length() const { return length_; }
  void Append(const char16_t* text, size_t count) {
    count = std::min(count, capacity_ - length_);
    std::memcpy(buffer_ + length_, text, count * sizeof(char16_t));
    length_ += count;
  }
  void Fill(char16_t c, uint64_t count) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(count, capacity_ - length_));
    std::fill_n(buffer_ + length_, n, c);
    length_ += n;
  }

 private:
  char16_t* buffer_;
  size_t capacity_;
  size_t length_ = 0;
};

// Counts what a pass would write, up to just past the largest result.
class CountingSink {
 public:
  bool Full() const { return false; }
  uint64_t Length() const { return length_; }
  void Append(const char16_t*, size_t count) { Add(count); }
  void Fill(char16_t, uint64_t count) { Add(count); }

 private:
  void Add(uint64_t count) {
    length_ = std::min<uint64_t>(length_ + std::min<uint64_t>(count, kMaxFormatResult + 1),
                                 kMaxFormatResult + 1);
  }
  uint64_t length_ = 0;
};

constexpr size_t kFirstPassSize = 8192;
constexpr size_t kLongFormat = 6143;
constexpr size_t kShownDirective = 31;
// Digit runs saturate here; far beyond any width, index or precision that can be met.
constexpr int64_t kNumberLimit = int64_t{1} << 32;

std::string Narrow(std::u16string_view text) {
  if (text.empty()) return {};
  auto wide = reinterpret_cast<LPCWSTR>(text.data());
  int length = static_cast<int>(text.size());
  int size = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<size_t>(size), '\0');
  size = WideCharToMultiByte(CP_ACP, 0, wide, length, out.data(), size, nullptr, nullptr);
  out.resize(static_cast<size_t>(std::max(size, 0)));
  return out;
}

// Raises the failure whose message is before + the directive's first 31 characters + after.
[[noreturn]] __attribute__((noinline)) void RaiseDirectiveFailure(const char* before,
                                                                  std::u16string_view directive,
                                                                  const char* after) {
  const void* address = __builtin_return_address(0);
  std::string message = before + Narrow(directive.substr(0, kShownDirective)) + after;
  throw Exception(std::move(message), address);
}

struct Number {
  bool present = false;
  int64_t value = 0;
};

// A run of digits or "*" (the value of the argument at the index, which then advances; 0 for
// an argument that is not an integer, and 0 without advancing when none is left).
Number ReadNumber(const char16_t*& p, const char16_t* end, std::span<const FormatArg> args,
                  int64_t& index) {
  Number number;
  if (p == end) return number;
  if (*p == u'*') {
    ++p;
    number.present = true;
    if (index >= 0 && index < static_cast<int64_t>(args.size())) {
      const FormatArg& arg = args[static_cast<size_t>(index++)];
      number.value = arg.kind == faInteger ? arg.integer : 0;
    }
    return number;
  }
  while (p < end && *p >= u'0' && *p <= u'9') {
    number.present = true;
    number.value = std::min(number.value * 10 + (*p - u'0'), kNumberLimit);
    ++p;
  }
  return number;
}

// Integer digits into the end of buffer; returns the text.
std::u16string_view IntegerText(char16_t (&buffer)[48], uint32_t magnitude, bool negative,
                                unsigned base, int64_t precision) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  int min_digits = precision >= 0 && precision <= 16 ? static_cast<int>(precision) : 0;
  char16_t* end = buffer + 48;
  char16_t* p = end;
  int count = 0;
  do {
    *--p = kDigits[magnitude % base];
    magnitude /= base;
    ++count;
  } while (magnitude != 0);
  for (; count < min_digits; ++count) *--p = u'0';
  if (negative) *--p = u'-';
  return std::u16string_view(p, static_cast<size_t>(end - p));
}

constexpr char kNoArgumentBefore[] = "No argument for format '";
constexpr char kNoArgumentAfter[] = "'";
constexpr char kInvalidBefore[] = "Format '";
constexpr char kInvalidAfter[] = "' invalid or incompatible with argument";

template <typename Sink>
void FormatPass(Sink& out, std::u16string_view format, std::span<const FormatArg> args,
                const RegionalFormat& settings) {
  const char16_t* p = format.data();
  const char16_t* const end = p + format.size();
  int64_t index = 0;
  std::u16string scratch;
  char16_t integer_buffer[48];
  while (p < end && !out.Full()) {
    const char16_t* literal = p;
    while (p < end && *p != u'%') ++p;
    out.Append(literal, static_cast<size_t>(p - literal));
    if (p == end || out.Full()) return;
    const char16_t* directive = p++;
    if (p == end) return;  // a lone "%" at the end is dropped
    if (*p == u'%') {
      out.Append(p++, 1);
      continue;
    }
    Number number = ReadNumber(p, end, args, index);
    if (number.present && p < end && *p == u':') {
      index = number.value;
      ++p;
      number = Number{};
    }
    bool left = false;
    if (!number.present) {
      if (p < end && *p == u'-') {
        left = true;
        ++p;
      }
      number = ReadNumber(p, end, args, index);
    }
    // A negative width from "*" is left alignment with its absolute value, as in C.
    uint64_t width = 0;
    if (number.value < 0) {
      left = true;
      width = static_cast<uint64_t>(-number.value);
    } else {
      width = static_cast<uint64_t>(number.value);
    }
    int64_t precision = -1;  // none
    if (p < end && *p == u'.') {
      ++p;
      Number given = ReadNumber(p, end, args, index);
      precision = given.value < 0 ? -1 : given.value;
    }
    if (p == end) return;  // the format ends inside a directive
    char16_t letter = *p++;
    std::u16string_view shown(directive, static_cast<size_t>(p - directive));
    if (index < 0 || index >= static_cast<int64_t>(args.size())) {
      RaiseDirectiveFailure(kNoArgumentBefore, shown, kNoArgumentAfter);
    }
    const FormatArg& arg = args[static_cast<size_t>(index++)];
    if (letter >= u'A' && letter <= u'Z') letter = static_cast<char16_t>(letter + (u'a' - u'A'));

    std::u16string_view text;
    bool accepted = false;
    switch (letter) {
      case u'd':
        if (arg.kind == faInteger) {
          uint32_t magnitude = arg.integer < 0 ? 0u - static_cast<uint32_t>(arg.integer)
                                               : static_cast<uint32_t>(arg.integer);
          text = IntegerText(integer_buffer, magnitude, arg.integer < 0, 10, precision);
          accepted = true;
        }
        break;
      case u'u':
      case u'x':
        if (arg.kind == faInteger) {
          text = IntegerText(integer_buffer, static_cast<uint32_t>(arg.integer), false,
                             letter == u'u' ? 10 : 16, precision);
          accepted = true;
        }
        break;
      case u'e':
      case u'f':
      case u'g':
      case u'n':
      case u'm':
        if (arg.kind == faFloat || arg.kind == faCurrency) {
          bool given = precision >= 0 && precision <= 18;
          int p_value = static_cast<int>(precision);
          scratch.clear();
          switch (letter) {
            case u'e':
              AppendFloatText(scratch, arg, fnExponent, given ? p_value : 15, 3, settings);
              break;
            case u'g':
              AppendFloatText(scratch, arg, fnGeneral, given ? p_value : 15, 3, settings);
              break;
            case u'f':
              AppendFloatText(scratch, arg, fnFixed, 18, given ? p_value : 2, settings);
              break;
            case u'n':
              AppendFloatText(scratch, arg, fnNumber, 18, given ? p_value : 2, settings);
              break;
            default:
              AppendFloatText(scratch, arg, fnCurrency, 18,
                              given ? p_value : settings.currency_decimals, settings);
              break;
          }
          text = scratch;
          accepted = true;
        }
        break;
      case u's':
        if (arg.kind == faWideText) {
          text = arg.text;
          text = text.substr(0, text.find(u'\0'));
          if (precision >= 0 && static_cast<uint64_t>(precision) < text.size()) {
            text = text.substr(0, static_cast<size_t>(precision));
          }
          accepted = true;
        }
        break;
      default:
        break;
    }
    if (!accepted) RaiseDirectiveFailure(kInvalidBefore, shown, kInvalidAfter);

    uint64_t padding = width > text.size() ? width - text.size() : 0;
    if (!left) out.Fill(u' ', padding);
    out.Append(text.data(), text.size());
    if (left) out.Fill(u' ', padding);
  }
}

// ---------------------------------------------------------------------------------------------
// Regional settings

RegionalFormat regional;

std::u16string Widen(const std::string& text) {
  if (text.empty()) return {};
  int length = static_cast<int>(text.size());
  int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::u16string out(static_cast<size_t>(size), u'\0');
  size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, reinterpret_cast<LPWSTR>(out.data()),
                             size);
  out.resize(static_cast<size_t>(std::max(size, 0)));
  return out;
}

// The locale's value as UTF-16; nothing when the locale gives none.
std::optional<std::u16string> LocaleValue(LCID locale, LCTYPE type) {
  int size = GetLocaleInfoA(locale, type, nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::string bytes(static_cast<size_t>(size), '\0');
  size = GetLocaleInfoA(locale, type, bytes.data(), size);
  if (size <= 0) return std::nullopt;
  bytes.resize(std::strlen(bytes.c_str()));
  return Widen(bytes);
}

char16_t LocaleCharacter(LCID locale, LCTYPE type, char16_t fallback) {
  auto value = LocaleValue(locale, type);
  if (!value) return fallback;
  return value->empty() ? u'\0' : (*value)[0];
}

int LocaleNumber(LCID locale, LCTYPE type, int fallback) {
  auto value = LocaleValue(locale, type);
  if (!value || value->empty() || value->size() > 4) return fallback;
  int number = 0;
  for (char16_t c : *value) {
    if (c < u'0' || c > u'9') return fallback;
    number = number * 10 + (c - u'0');
  }
  return number;
}

}  // namespace

void LoadRegionalFormat() {
  LCID locale = GetThreadLocale();
  RegionalFormat settings;
  settings.decimal_separator = LocaleCharacter(locale, LOCALE_SDECIMAL, u'.');
  settings.thousand_separator = LocaleCharacter(locale, LOCALE_STHOUSAND, u',');
  settings.currency_symbol = LocaleValue(locale, LOCALE_SCURRENCY).value_or(u"");
  settings.currency_decimals = LocaleNumber(locale, LOCALE_ICURRDIGITS, 0);
  settings.positive_currency_format = LocaleNumber(locale, LOCALE_ICURRENCY, 0);
  settings.negative_currency_format = LocaleNumber(locale, LOCALE_INEGCURR, 0);
  regional = std::move(settings);
}

const RegionalFormat& CurrentRegionalFormat() {
  return regional;
}

void SetRegionalFormat(const RegionalFormat& settings) {
  regional = settings;
}

std::u16string FormatFloatText(const FormatArg& value, FloatNotation notation, int precision,
                               int digits, const RegionalFormat& settings) {
  std::u16string out;
  AppendFloatText(out, value, notation, precision, digits, settings);
  return out;
}

size_t FormatWideBuf(char16_t* buffer, size_t capacity, std::u16string_view format,
                     std::span<const FormatArg> args, const RegionalFormat& settings) {
  BufferSink sink(buffer, capacity);
  FormatPass(sink, format, args, settings);
  return sink.Length();
}

uint64_t MeasureWideText(std::u16string_view format, std::span<const FormatArg> args,
                         const RegionalFormat& settings) {
  CountingSink counter;
  FormatPass(counter, format, args, settings);
  return counter.Length();
}

std::u16string FormatWideText(std::u16string_view format, std::span<const FormatArg> args,
                              const RegionalFormat& settings, size_t limit) {
  if (format.size() <= kLongFormat) {
    char16_t buffer[kFirstPassSize];
    size_t written = FormatWideBuf(buffer, kFirstPassSize - 1, format, args, settings);
    if (written < kFirstPassSize - 1) return std::u16string(buffer, written);
  }
  // A long result: measure it, then format once more into a buffer of that size.
  uint64_t length = MeasureWideText(format, args, settings);
  if (length > kMaxFormatResult) RaiseRangeError();
  std::u16string result(static_cast<size_t>(std::min<uint64_t>(length, limit)), u'\0');
  size_t written = FormatWideBuf(result.data(), result.size(), format, args, settings);
  result.resize(written);
  return result;
}

}  // namespace dunmarrow
