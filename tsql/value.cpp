// SQL values: construction, text forms, and the conversions of CAST, CONVERT, assignment and
// expressions between every type of the subset.
//
// Sections: the constructors of values; which conversions the server allows (CheckAllowed);
// text forms of numbers, money and dates, hex and big-endian bytes; one conversion per target
// family (ToInteger, ToFloat, ToDecimal, ToMoney, ToDateTime, ToCharacter, ToBinary, ToGuid);
// and Convert, which dispatches to them.
#include "tsql/value.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "tsql/errors.h"
#include "tsql/text.h"

namespace dunmarrow::tsql {

Value Value::Null(SqlType type) {
  Value v;
  v.type = type;
  return v;
}

Value Value::UntypedNull() {
  Value v;
  v.untyped_null = true;
  return v;
}

Value Value::Integer(int64_t value, TypeId id) {
  Value v;
  v.type = TypeOf(id);
  v.null = false;
  v.integer = value;
  return v;
}

Value Value::Bit(bool value) {
  return Integer(value ? 1 : 0, TypeId::Bit);
}

Value Value::Float(double value, TypeId id) {
  Value v;
  v.type = TypeOf(id);
  v.null = false;
  v.real = value;
  return v;
}

Value Value::Money(int64_t value, TypeId id) {
  return Integer(value, id);
}

Value Value::Exact(const Decimal& value, int precision, TypeId id) {
  Value v;
  v.type = DecimalType(precision, value.scale, id);
  v.null = false;
  v.decimal = value;
  return v;
}

Value Value::Date(DateTimeValue value, TypeId id) {
  Value v;
  v.type = TypeOf(id);
  v.null = false;
  v.datetime = value;
  return v;
}

Value Value::Chars(std::string ansi, SqlType type) {
  Value v;
  v.type = type;
  v.null = false;
  v.text = std::move(ansi);
  return v;
}

Value Value::WideChars(std::u16string wide, SqlType type) {
  Value v;
  v.type = type;
  v.null = false;
  v.wide = std::move(wide);
  return v;
}

Value Value::Binary(ByteString bytes, SqlType type) {
  Value v;
  v.type = type;
  v.null = false;
  v.bytes = std::move(bytes);
  return v;
}

Value Value::Guid(ByteString sixteen) {
  sixteen.resize(16, 0);
  return Binary(std::move(sixteen), TypeOf(TypeId::Guid));
}

namespace {

[[noreturn]] void Fail(int number, int state, std::string text) {
  throw SqlError(number, 16, state, std::move(text));
}

[[noreturn]] void Overflow(const std::string& source, TypeId target) {
  Fail(8115, 2,
       "Arithmetic overflow error converting " + source + " to data type " + MessageName(target) +
           ".");
}

// The source's name in an overflow message: "expression" for integers and dates.
std::string OverflowSource(TypeId source) {
  if (IsInteger(source) || source == TypeId::Bit || IsDateTime(source)) return "expression";
  return MessageName(source);
}

void CheckAllowed(TypeId from, TypeId to, Conversion mode) {
  if (from == to) return;
  auto refuse = [&] {
    if (mode == Conversion::kExplicit) {
      Fail(529, 2,
           std::string("Explicit conversion from data type ") + BaseName(from) + " to " +
               BaseName(to) + " is not allowed.");
    }
    Fail(206, 2,
         std::string("Operand type clash: ") + BaseName(from) + " is incompatible with " +
             BaseName(to));
  };
  auto implicit_refused = [&] {
    if (mode == Conversion::kImplicit) {
      Fail(257, 3,
           std::string("Implicit conversion from data type ") + BaseName(from) + " to " +
               BaseName(to) + " is not allowed. Use the CONVERT function to run this query.");
    }
  };
  bool char_from = IsCharacter(from) && !IsLob(from), char_to = IsCharacter(to) && !IsLob(to);
  bool bin_from = IsBinary(from) && !IsLob(from), bin_to = IsBinary(to) && !IsLob(to);
  if (from == TypeId::Text || from == TypeId::NText || to == TypeId::Text || to == TypeId::NText) {
    if (!IsCharacter(from) || !IsCharacter(to)) refuse();
    return;
  }
  if (from == TypeId::Image || to == TypeId::Image) {
    if (!IsBinary(from) || !IsBinary(to)) refuse();
    return;
  }
  if (from == TypeId::Guid || to == TypeId::Guid) {
    TypeId other = from == TypeId::Guid ? to : from;
    if (!IsCharacter(other) && !IsBinary(other)) refuse();
    if (bin_from && char_to) implicit_refused();
    return;
  }
  if ((IsBinary(from) && (IsApproximate(to) || IsDecimal(to))) ||
      (IsDecimal(from) && IsBinary(to))) {
    refuse();
  }
  if ((char_from && bin_to) || (bin_from && char_to)) implicit_refused();
  if (IsDateTime(from) && IsNumber(to)) implicit_refused();
}

std::string_view Trim(std::string_view text) {
  const char* blanks = " \t\r\n";
  size_t start = text.find_first_not_of(blanks);
  if (start == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(blanks);
  return text.substr(start, end - start + 1);
}

// The ASCII-readable text of a character value, for parsing numbers, dates and identifiers.
std::string ParseText(const Value& v) {
  return IsUnicode(v.type.id) ? WideToUtf8(v.wide) : AnsiToUtf8(v.text);
}

[[noreturn]] void BadText(const Value& v, TypeId target) {
  Fail(245, 1,
       std::string("Conversion failed when converting the ") + BaseName(v.type.id) + " value '" +
           MessageText(v) + "' to data type " + BaseName(target) + ".");
}

std::string FixExponent(std::string text, bool upper = false) {
  // The Windows runtime writes at least three exponent digits: 1e+006.
  size_t e = text.find_first_of("eE");
  if (e == std::string::npos) return text;
  std::string mantissa = text.substr(0, e);
  char sign = text[e + 1];
  std::string digits = text.substr(e + 2);
  while (digits.size() < 3) digits.insert(0, "0");
  return mantissa + (upper ? "E" : "e") + sign + digits;
}

std::string FloatText(double value, int style) {
  char buffer[64];
  std::to_chars_result result{};
  switch (style) {
    case 1:
      result =
          std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 7);
      break;
    case 2:
      result =
          std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 15);
      break;
    case 3:
      result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 17);
      break;
    default:
      result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
      break;
  }
  return FixExponent(std::string(buffer, result.ptr));
}

std::string MoneyText(int64_t value, int style) {
  bool negative = value < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  int decimals = style == 2 ? 4 : 2;
  if (decimals == 2) magnitude = (magnitude + 50) / 100;  // half away from zero
  uint64_t unit = decimals == 2 ? 100 : 10000;
  std::string integral = std::to_string(magnitude / unit);
  if (style == 1) {
    for (int i = static_cast<int>(integral.size()) - 3; i > 0; i -= 3) {
      integral.insert(static_cast<size_t>(i), ",");
    }
  }
  std::string fraction = std::to_string(magnitude % unit);
  fraction.insert(0, static_cast<size_t>(decimals) - fraction.size(), '0');
  return (negative && magnitude != 0 ? "-" : "") + integral + "." + fraction;
}

// The text of a non-character value, as CAST to varchar writes it.
std::string ValueText(const Value& v, int style) {
  TypeId id = v.type.id;
  if (IsInteger(id) || id == TypeId::Bit) return std::to_string(v.integer);
  if (IsApproximate(id)) return FloatText(v.real, style);
  if (IsDecimal(id)) return v.decimal.ToString();
  if (IsMoney(id)) return MoneyText(v.integer, style);
  if (id == TypeId::Guid) return GuidText(v.bytes);
  if (IsDateTime(id)) {
    auto text = FormatDateTime(v.datetime, style, id == TypeId::SmallDateTime);
    if (!text) {
      Fail(281, 1,
           std::to_string(style) +
               " is not a valid style number when converting from datetime to a character string.");
    }
    return *text;
  }
  return {};
}

ByteString BigEndian(uint64_t value, size_t size) {
  ByteString out(size);
  for (size_t i = 0; i < size; ++i) out[size - 1 - i] = static_cast<uint8_t>(value >> (8 * i));
  return out;
}

// The last `size` bytes as a big-endian number, padded with zeros on the left.
uint64_t FromBigEndian(const ByteString& bytes, size_t size) {
  uint64_t value = 0;
  size_t start = bytes.size() > size ? bytes.size() - size : 0;
  for (size_t i = start; i < bytes.size(); ++i) value = (value << 8) | bytes[i];
  return value;
}

std::string HexText(const ByteString& bytes, bool prefix) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = prefix ? "0x" : "";
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<ByteString> ParseHex(std::string_view hex) {
  if (hex.size() % 2) return std::nullopt;
  ByteString out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return out;
}

int64_t RoundHalfAway(double value) {
  return static_cast<int64_t>(value < 0 ? std::ceil(value - 0.5) : std::floor(value + 0.5));
}

bool InRange(TypeId id, int64_t value) {
  switch (id) {
    case TypeId::TinyInt:
      return value >= 0 && value <= 255;
    case TypeId::SmallInt:
      return value >= INT16_MIN && value <= INT16_MAX;
    case TypeId::Int:
      return value >= INT32_MIN && value <= INT32_MAX;
    case TypeId::SmallMoney:
      return value >= INT32_MIN && value <= INT32_MAX;
    default:
      return true;
  }
}

Value ToInteger(const Value& v, TypeId target) {
  TypeId src = v.type.id;
  int64_t value = 0;
  if (IsInteger(src) || src == TypeId::Bit) {
    value = v.integer;
  } else if (IsApproximate(src)) {
    if (!std::isfinite(v.real) || std::fabs(v.real) >= 9.2233720368547758e18) {
      Overflow("float", target == TypeId::Bit ? TypeId::Int : target);
    }
    value = static_cast<int64_t>(std::trunc(v.real));
  } else if (IsDecimal(src)) {
    auto integral = v.decimal.ToInt64();
    if (!integral) Overflow("numeric", target);
    value = *integral;
  } else if (IsMoney(src)) {
    value = v.integer / 10000;
    int64_t rest = v.integer % 10000;
    if (rest >= 5000) ++value;
    if (rest <= -5000) --value;
  } else if (IsDateTime(src)) {
    value = v.datetime.days + (v.datetime.ticks >= kTicksPerDay / 2 ? 1 : 0);
  } else if (IsCharacter(src)) {
    std::string text(Trim(ParseText(v)));
    if (target == TypeId::Bit) {
      if (EqualsNoCase(text, "true")) return Value::Bit(true);
      if (EqualsNoCase(text, "false")) return Value::Bit(false);
    }
    if (text.empty()) return target == TypeId::Bit ? Value::Bit(false) : Value::Integer(0, target);
    const char* begin = text.data();
    if (*begin == '+') ++begin;
    auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range) {
      Fail(248, 1,
           std::string("The conversion of the ") + BaseName(src) + " value '" + MessageText(v) +
               "' overflowed an int column.");
    }
    if (error != std::errc() || end != text.data() + text.size()) BadText(v, target);
    if (target != TypeId::Bit && !InRange(target, value)) {
      std::string name = BaseName(target);
      Fail(248, 1,
           std::string("The conversion of the ") + BaseName(src) + " value '" + MessageText(v) +
               "' overflowed " + (name == "int" ? "an " : "a ") + name + " column.");
    }
  } else if (IsBinary(src)) {
    size_t size = target == TypeId::Bit ? 1 : StorageSize(TypeOf(target));
    uint64_t raw = FromBigEndian(v.bytes, size);
    switch (size) {
      case 1:
        value = static_cast<uint8_t>(raw);
        break;
      case 2:
        value = static_cast<int16_t>(raw);
        break;
      case 4:
        value = static_cast<int32_t>(raw);
        break;
      default:
        value = static_cast<int64_t>(raw);
        break;
    }
  }
  if (target == TypeId::Bit) return Value::Bit(value != 0);
  if (!InRange(target, value)) {
    if ((IsInteger(src) || src == TypeId::Bit) && target != TypeId::Int) {
      Fail(220, 2,
           std::string("Arithmetic overflow error for data type ") + BaseName(target) +
               ", value = " + std::to_string(value) + ".");
    }
    Overflow(OverflowSource(src), target);
  }
  return Value::Integer(value, target);
}

double AsDouble(const Value& v) {
  TypeId src = v.type.id;
  if (IsInteger(src) || src == TypeId::Bit) return static_cast<double>(v.integer);
  if (IsApproximate(src)) return v.real;
  if (IsDecimal(src)) return v.decimal.ToDouble();
  if (IsMoney(src)) return static_cast<double>(v.integer) / 10000.0;
  if (IsDateTime(src)) {
    return v.datetime.days + static_cast<double>(v.datetime.ticks) / kTicksPerDay;
  }
  return 0;
}

Value ToFloat(const Value& v, TypeId target) {
  double value = 0;
  if (IsCharacter(v.type.id)) {
    std::string text(Trim(ParseText(v)));
    if (!text.empty()) {
      bool plain = true;
      for (char c : text) {
        if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-')) {
          plain = false;
        }
      }
      const char* begin = text.data();
      if (*begin == '+') ++begin;
      auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
      if (!plain || error != std::errc() || end != text.data() + text.size()) {
        Fail(8114, 5,
             std::string("Error converting data type ") + BaseName(v.type.id) + " to float.");
      }
    }
  } else {
    value = AsDouble(v);
  }
  if (target == TypeId::Real) {
    if (std::fabs(value) > FLT_MAX) Overflow(OverflowSource(v.type.id), TypeId::Real);
    value = static_cast<float>(value);
  }
  return Value::Float(value, target);
}

Value ToDecimal(const Value& v, const SqlType& target) {
  TypeId src = v.type.id;
  std::optional<Decimal> value;
  if (IsInteger(src) || src == TypeId::Bit) {
    value = Decimal::FromInt64(v.integer);
  } else if (IsApproximate(src)) {
    value = Decimal::FromDouble(v.real, target.scale);
  } else if (IsDecimal(src)) {
    value = v.decimal;
  } else if (IsMoney(src)) {
    value = Decimal::FromInt64(v.integer);
    value->scale = 4;
  } else if (IsDateTime(src)) {
    value = Decimal::FromDouble(AsDouble(v), target.scale);
  } else if (IsCharacter(src)) {
    std::string text(Trim(ParseText(v)));
    value = Decimal::Parse(text);
    if (!value) {
      Fail(8114, 5, std::string("Error converting data type ") + BaseName(src) + " to numeric.");
    }
  }
  if (value) value = value->Rescale(target.scale);
  if (!value || !value->FitsPrecision(target.precision)) {
    Overflow(IsInteger(src) ? BaseName(src) : MessageName(src), TypeId::Numeric);
  }
  return Value::Exact(*value, target.precision, target.id);
}

std::optional<int64_t> ParseMoney(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return 0;
  bool negative = false;
  size_t i = 0;
  auto sign = [&] {
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  };
  sign();
  if (i < text.size() && text[i] == '$') {
    ++i;
    if (!negative) sign();
  }
  std::string digits;
  int decimals = -1;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      if (decimals >= 0) ++decimals;
      digits += c;
    } else if (c == ',' && decimals < 0) {
      continue;
    } else if (c == '.' && decimals < 0) {
      decimals = 0;
    } else {
      return std::nullopt;
    }
  }
  if (digits.empty()) return std::nullopt;
  auto parsed = Decimal::Parse(digits);
  if (!parsed) return std::nullopt;
  parsed->scale = decimals < 0 ? 0 : decimals;
  parsed->negative = negative;
  auto scaled = parsed->Rescale(4);
  if (!scaled || !scaled->magnitude.FitsUInt64()) return std::nullopt;
  uint64_t magnitude = scaled->magnitude.Low64();
  // money's minimum, -922337203685477.5808, has one unit more than its maximum
  if (magnitude > static_cast<uint64_t>(INT64_MAX) + (negative ? 1 : 0)) return std::nullopt;
  return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

Value ToMoney(const Value& v, TypeId target) {
  TypeId src = v.type.id;
  int64_t value = 0;
  if (IsInteger(src) || src == TypeId::Bit) {
    if (v.integer > INT64_MAX / 10000 || v.integer < INT64_MIN / 10000)
      Overflow("expression", target);
    value = v.integer * 10000;
  } else if (IsApproximate(src) || IsDateTime(src)) {
    double scaled = AsDouble(v) * 10000.0;
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2233720368547758e18) {
      Overflow(OverflowSource(src), target);
    }
    value = RoundHalfAway(scaled);
  } else if (IsDecimal(src)) {
    auto scaled = v.decimal.Rescale(4);
    if (!scaled || !scaled->magnitude.FitsUInt64() ||
        scaled->magnitude.Low64() > static_cast<uint64_t>(INT64_MAX) + (scaled->negative ? 1 : 0)) {
      Overflow("numeric", target);
    }
    uint64_t magnitude = scaled->magnitude.Low64();
    value =
        scaled->negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  } else if (IsMoney(src)) {
    value = v.integer;
  } else if (IsCharacter(src)) {
    auto parsed = ParseMoney(ParseText(v));
    if (!parsed) {
      Fail(235, 0, "Cannot convert a char value to money. The char value has incorrect syntax.");
    }
    value = *parsed;
  } else if (IsBinary(src)) {
    value = target == TypeId::SmallMoney ? static_cast<int32_t>(FromBigEndian(v.bytes, 4))
                                         : static_cast<int64_t>(FromBigEndian(v.bytes, 8));
  }
  if (!InRange(target, value)) Overflow(OverflowSource(src), target);
  return Value::Money(value, target);
}

Value ToDateTime(const Value& v, TypeId target) {
  TypeId src = v.type.id;
  DateTimeValue value;
  bool small = target == TypeId::SmallDateTime;
  if (IsDateTime(src)) {
    value = v.datetime;
  } else if (IsCharacter(src)) {
    switch (ParseDateTime(ParseText(v), value)) {
      case DateParse::kOk:
        break;
      case DateParse::kSyntax:
        Fail(241, 1, "Conversion failed when converting date and/or time from character string.");
      case DateParse::kRange:
        Fail(242, 3,
             std::string("The conversion of a ") + BaseName(src) + " data type to a " +
                 BaseName(target) + " data type resulted in an out-of-range value.");
    }
    if (small && !InSmallDateTimeRange(RoundToMinute(value).days)) {
      Fail(242, 3,
           std::string("The conversion of a ") + BaseName(src) + " data type to a " +
               BaseName(target) + " data type resulted in an out-of-range value.");
    }
  } else if (IsBinary(src)) {
    if (small) {
      uint64_t raw = FromBigEndian(v.bytes, 4);
      value.days = static_cast<int32_t>(raw >> 16);
      value.ticks = static_cast<uint32_t>(raw & 0xFFFF) * 60 * kTicksPerSecond;
    } else {
      uint64_t raw = FromBigEndian(v.bytes, 8);
      value.days = static_cast<int32_t>(static_cast<uint32_t>(raw >> 32));
      value.ticks = static_cast<uint32_t>(raw);
    }
    if (value.ticks >= kTicksPerDay || !InDateTimeRange(value.days)) {
      Overflow("expression", target);
    }
  } else {
    double d = AsDouble(v);
    double days = std::floor(d);
    if (!std::isfinite(d) || days < -53690 || days > 2958463) Overflow("expression", target);
    int64_t ticks = RoundHalfAway((d - days) * kTicksPerDay);
    value.days = static_cast<int32_t>(days);
    if (ticks >= kTicksPerDay) {
      ticks -= kTicksPerDay;
      ++value.days;
    }
    value.ticks = static_cast<uint32_t>(ticks);
  }
  if (small) {
    value = RoundToMinute(value);
    if (!InSmallDateTimeRange(value.days)) Overflow("expression", target);
  } else if (!InDateTimeRange(value.days)) {
    Overflow("expression", target);
  }
  return Value::Date(value, target);
}

Value ToCharacter(const Value& v, const SqlType& target, int style) {
  TypeId src = v.type.id;
  bool unicode = IsUnicode(target.id);
  std::string ansi;
  std::u16string wide;
  bool number = IsNumber(src);
  if (IsCharacter(src)) {
    if (IsUnicode(src) == unicode) {
      ansi = v.text;
      wide = v.wide;
    } else if (unicode) {
      wide = AnsiToWide(v.text);
    } else {
      ansi = WideToAnsi(v.wide);
    }
  } else if (IsBinary(src)) {
    if (style == 1 || style == 2) {
      ansi = HexText(v.bytes, style == 1);
      wide = Utf8ToWide(ansi);
    } else if (unicode) {
      for (size_t i = 0; i < v.bytes.size(); i += 2) {
        uint8_t high = i + 1 < v.bytes.size() ? v.bytes[i + 1] : 0;
        wide += static_cast<char16_t>(v.bytes[i] | (high << 8));
      }
    } else {
      ansi.assign(v.bytes.begin(), v.bytes.end());
    }
  } else {
    if (src == TypeId::Guid && !target.IsMax() && !IsLob(target.id) && target.length < 36) {
      Fail(8170, 2,
           std::string("Insufficient result space to convert uniqueidentifier value to ") +
               BaseName(target.id) + ".");
    }
    ansi = ValueText(v, style);
    wide = Utf8ToWide(ansi);
  }
  bool limited = !target.IsMax() && !IsLob(target.id);
  if (unicode) {
    if (limited && wide.size() > target.length) {
      if (number) Overflow("expression", target.id);
      wide.resize(target.length);
    }
    if (IsFixedLength(target.id) && wide.size() < target.length) wide.resize(target.length, u' ');
    return Value::WideChars(std::move(wide), target);
  }
  if (limited && ansi.size() > target.length) {
    if (IsInteger(src) || src == TypeId::Bit) {
      ansi = "*";
    } else if (number) {
      Overflow("expression", target.id);
    } else {
      ansi.resize(AnsiPrefixLength(ansi, target.length));
    }
  }
  if (IsFixedLength(target.id) && ansi.size() < target.length) ansi.resize(target.length, ' ');
  return Value::Chars(std::move(ansi), target);
}

Value ToBinary(const Value& v, const SqlType& target, int style) {
  TypeId src = v.type.id;
  ByteString out;
  bool number = false;
  if (IsInteger(src) || src == TypeId::Bit) {
    out = BigEndian(static_cast<uint64_t>(v.integer), StorageSize(v.type));
    number = true;
  } else if (IsMoney(src)) {
    out = BigEndian(static_cast<uint64_t>(v.integer), src == TypeId::Money ? 8 : 4);
    number = true;
  } else if (src == TypeId::Float) {
    uint64_t bits;
    std::memcpy(&bits, &v.real, 8);
    out = BigEndian(bits, 8);
    number = true;
  } else if (src == TypeId::Real) {
    float single = static_cast<float>(v.real);
    uint32_t bits;
    std::memcpy(&bits, &single, 4);
    out = BigEndian(bits, 4);
    number = true;
  } else if (src == TypeId::DateTime) {
    out = BigEndian(
        (static_cast<uint64_t>(static_cast<uint32_t>(v.datetime.days)) << 32) | v.datetime.ticks,
        8);
  } else if (src == TypeId::SmallDateTime) {
    out = BigEndian((static_cast<uint64_t>(v.datetime.days) << 16) |
                        (v.datetime.ticks / (60 * kTicksPerSecond)),
                    4);
  } else if (IsCharacter(src)) {
    if (style == 1 || style == 2) {
      std::string text = ParseText(v);
      std::string_view hex(text);
      bool prefixed = hex.size() >= 2 && hex[0] == '0' && (hex[1] == 'x' || hex[1] == 'X');
      if (style == 1 && !prefixed) hex = "?";
      if (prefixed) hex.remove_prefix(2);
      auto parsed = ParseHex(hex);
      if (!parsed) {
        Fail(8114, 5,
             std::string("Error converting data type ") + BaseName(src) + " to " +
                 BaseName(target.id) + ".");
      }
      out = std::move(*parsed);
    } else if (IsUnicode(src)) {
      for (char16_t unit : v.wide) {
        out.push_back(static_cast<uint8_t>(unit & 0xFF));
        out.push_back(static_cast<uint8_t>(unit >> 8));
      }
    } else {
      out.assign(v.text.begin(), v.text.end());
    }
  } else {
    out = v.bytes;  // binary, uniqueidentifier
  }
  bool limited = !target.IsMax() && !IsLob(target.id);
  if (limited && out.size() > target.length) {
    if (number) {
      out.erase(out.begin(), out.end() - target.length);  // the low-order bytes stay
    } else {
      out.resize(target.length);
    }
  }
  if (target.id == TypeId::Binary && out.size() < target.length) {
    if (number) {
      out.insert(out.begin(), target.length - out.size(), 0);
    } else {
      out.resize(target.length, 0);
    }
  }
  return Value::Binary(std::move(out), target);
}

Value ToGuid(const Value& v) {
  if (IsBinary(v.type.id) || v.type.id == TypeId::Guid) {
    ByteString sixteen(v.bytes.begin(), v.bytes.begin() + std::min<size_t>(16, v.bytes.size()));
    return Value::Guid(std::move(sixteen));
  }
  std::string text(Trim(ParseText(v)));
  std::string_view s(text);
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  bool ok = s.size() == 36;
  std::string hex;
  for (size_t i = 0; ok && i < s.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      ok = s[i] == '-';
    } else {
      ok = HexDigit(s[i]) >= 0;
      hex += s[i];
    }
  }
  if (!ok) {
    Fail(8169, 2, "Conversion failed when converting from a character string to uniqueidentifier.");
  }
  ByteString b = *ParseHex(hex);
  // The first three groups are stored little-endian.
  ByteString sixteen = {b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6]};
  sixteen.insert(sixteen.end(), b.begin() + 8, b.end());
  return Value::Guid(std::move(sixteen));
}

}  // namespace

std::string GuidText(const ByteString& g) {
  if (g.size() < 16) return {};
  ByteString ordered = {g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6]};
  ordered.insert(ordered.end(), g.begin() + 8, g.begin() + 16);
  std::string hex = HexText(ordered, false);
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20);
}

std::string MessageText(const Value& v) {
  if (v.null) return "NULL";
  if (IsCharacter(v.type.id)) return ParseText(v);
  if (IsBinary(v.type.id)) return HexText(v.bytes, true);
  return ValueText(v, 0);
}

Value Convert(const Value& v, const SqlType& target, Conversion mode, int style) {
  if (v.null) {
    if (!v.untyped_null) CheckAllowed(v.type.id, target.id, mode);
    return Value::Null(target);
  }
  CheckAllowed(v.type.id, target.id, mode);
  switch (target.id) {
    case TypeId::Int:
    case TypeId::SmallInt:
    case TypeId::TinyInt:
    case TypeId::BigInt:
    case TypeId::Bit:
      return ToInteger(v, target.id);
    case TypeId::Float:
    case TypeId::Real:
      return ToFloat(v, target.id);
    case TypeId::Decimal:
    case TypeId::Numeric:
      return ToDecimal(v, target);
    case TypeId::Money:
    case TypeId::SmallMoney:
      return ToMoney(v, target.id);
    case TypeId::DateTime:
    case TypeId::SmallDateTime:
      return ToDateTime(v, target.id);
    case TypeId::Char:
    case TypeId::VarChar:
    case TypeId::Text:
    case TypeId::NChar:
    case TypeId::NVarChar:
    case TypeId::NText:
      return ToCharacter(v, target, style);
    case TypeId::Binary:
    case TypeId::VarBinary:
    case TypeId::Image:
      return ToBinary(v, target, style);
    case TypeId::Guid:
      return ToGuid(v);
  }
  return Value::Null(target);
}

}  // namespace dunmarrow::tsql
