// The format engine's notations of a float or currency value: general, exponent, fixed,
// number (grouped) and currency (the locale's symbol and layouts), with the locale's
// separators.
#include <algorithm>

#include "procs/format/format_internal.h"

namespace dunmarrow::format_internal {

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

}  // namespace dunmarrow::format_internal
