// The format engine of xp_FormatStr: a printf-style formatter over typed arguments, in UTF-16.
// Its files: float_digits.cpp (exact decimal digits), notations.cpp (the text of a float or
// currency value), format_pass.cpp (the pass over the format and the entry points),
// regional_format.cpp (the locale's number settings); format_internal.h joins them.
//
// A directive is "%" [index ":"] ["-"] [width] ["." precision] letter, where index, width and
// precision are each a run of decimal digits or "*" (the value of the next argument). The
// letters: d u x (integers), e f g n m (floats and currency amounts), s (text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace dunmarrow {

enum FormatArgKind : uint8_t { faInteger, faBoolean, faFloat, faCurrency, faWideText };

// One argument of the engine; only the value of its kind is meaningful. A default argument is
// the integer 0.
struct FormatArg {
  FormatArgKind kind = faInteger;
  int32_t integer = 0;
  uint8_t boolean = 0;
  // The x86 80-bit extended value, on Linux and in the 32-bit Windows build alike.
  long double extended = 0;
  // The amount times 10000.
  int64_t currency = 0;
  std::u16string text;

  static FormatArg Integer(int32_t value);
  static FormatArg Boolean(bool value);
  static FormatArg Float(long double value);
  static FormatArg Currency(int64_t ten_thousandths);
  static FormatArg WideText(std::u16string value);
};

// The number settings of the locale the module was loaded in.
struct RegionalFormat {
  // One character each; a zero character (a locale without grouping) is left out.
  char16_t decimal_separator = u'.';
  char16_t thousand_separator = u',';
  std::u16string currency_symbol;
  int currency_decimals = 0;
  // Positive layout 0..3 and negative layout 0..15; larger values count as the largest.
  int positive_currency_format = 0;
  int negative_currency_format = 0;
};

struct LocaleValues;

// The settings made of the locale's values (runtime/locale_values.h). At module load the
// engine takes them from the values read there, and never refreshes them.
RegionalFormat RegionalFormatOf(const LocaleValues& values);
const RegionalFormat& CurrentRegionalFormat();
// Replaces the settings; for tests, between calls.
void SetRegionalFormat(const RegionalFormat& settings);

enum FloatNotation : uint8_t { fnGeneral, fnExponent, fnFixed, fnNumber, fnCurrency };

// The text of one faFloat or faCurrency value. General and exponent notation: precision is the
// number of significant digits and digits the minimum number of exponent digits. Fixed, number
// and currency notation: digits is the number of decimals (at most 18), precision the most
// significant digits. A float value has 2 to 18 significant digits; a currency value always 19.
std::u16string FormatFloatText(const FormatArg& value, FloatNotation notation, int precision,
                               int digits, const RegionalFormat& settings);

// The longest result the engine builds, in characters.
inline constexpr size_t kMaxFormatResult = size_t{1} << 30;

// One pass over the format: writes at most capacity characters to buffer and returns the
// number written. Raises "No argument for format '%s'" and
// "Format '%s' invalid or incompatible with argument".
size_t FormatWideBuf(char16_t* buffer, size_t capacity, std::u16string_view format,
                     std::span<const FormatArg> args,
                     const RegionalFormat& settings = CurrentRegionalFormat());

// The length of the result of FormatWideText, or kMaxFormatResult + 1 for any longer result,
// without building it. Raises the failures of the format.
uint64_t MeasureWideText(std::u16string_view format, std::span<const FormatArg> args,
                         const RegionalFormat& settings = CurrentRegionalFormat());

// The result, however long: a first pass into a buffer on the stack, and for longer results
// one pass into a buffer of the measured size, or of `limit` characters when that is smaller
// (the result is then cut there). A result of more than 2^30 characters raises "Range check
// error", whatever the limit.
std::u16string FormatWideText(std::u16string_view format, std::span<const FormatArg> args,
                              const RegionalFormat& settings = CurrentRegionalFormat(),
                              size_t limit = kMaxFormatResult);

}  // namespace dunmarrow
