// The format engine's pass over the format (procs/format/format_engine.h): the arguments, the
// directives and their failures, written to a buffer or only counted; and the entry points that
// format into a buffer, measure a result, or build it however long.
#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/windows.h"
#include "procs/format/format_internal.h"
#include "runtime/ascii.h"
#include "runtime/failure.h"

namespace dunmarrow {

using format_internal::AppendFloatText;

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
    letter = AsciiLower(letter);

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

}  // namespace

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
