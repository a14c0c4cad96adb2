// Reading integer parameters by their value (numeric, money and float values included) and
// refusing names and OUTPUT parameters a procedure could only act on wrongly.
#include "runtime/param_checks.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "runtime/failure.h"

namespace dunmarrow {

namespace {

// A magnitude of up to 128 bits as four 32-bit words, lowest first.
struct Magnitude {
  uint32_t words[4] = {};

  // Divides by 10; returns the remainder.
  uint32_t DivideBy10() {
    uint64_t rest = 0;
    for (int i = 3; i >= 0; --i) {
      uint64_t part = (rest << 32) | words[i];
      words[i] = static_cast<uint32_t>(part / 10);
      rest = part % 10;
    }
    return static_cast<uint32_t>(rest);
  }
};

// The whole value of a count of 10^-scale units, when it is one and fits 32 bits.
int32_t WholeOfScaled(bool negative, Magnitude magnitude, unsigned scale) {
  for (unsigned i = 0; i < scale; ++i) {
    if (magnitude.DivideBy10() != 0) RaiseRangeError();
  }
  if (magnitude.words[1] || magnitude.words[2] || magnitude.words[3]) RaiseRangeError();
  uint32_t whole = magnitude.words[0];
  if (whole > (negative ? 2147483648u : 2147483647u)) RaiseRangeError();
  return static_cast<int32_t>(negative ? -static_cast<int64_t>(whole) : whole);
}

int32_t WholeOfDouble(double value) {
  if (!(value >= -2147483648.0 && value <= 2147483647.0) || std::trunc(value) != value) {
    RaiseRangeError();
  }
  return static_cast<int32_t>(value);
}

bool IsSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDFFF;
}

// Whether UTF-16 units hold a NUL or a surrogate that is not part of a pair.
bool BadWideName(const uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    char16_t unit;
    std::memcpy(&unit, data + 2 * i, 2);
    if (unit == 0) return true;
    if (!IsSurrogate(unit)) continue;
    if (unit >= 0xDC00 || i + 1 == count) return true;  // a low half first, or a high half last
    char16_t next;
    std::memcpy(&next, data + 2 * (i + 1), 2);
    if (next < 0xDC00 || next > 0xDFFF) return true;
    ++i;
  }
  return false;
}

bool BadName(TxpDataKind kind, const uint8_t* data, size_t length) {
  if (length == 0 || !data) return false;
  if (kind == dkString || kind == dkMemo) return std::memchr(data, 0, length) != nullptr;
  if (kind == dkWideString) return BadWideName(data, length / 2);
  return false;
}

std::string Ordinal(int position) {
  switch (position) {
    case 1:
      return "1st";
    case 2:
      return "2nd";
    case 3:
      return "3rd";
    default:
      return std::to_string(position) + "th";
  }
}

}  // namespace

bool WholeNumberValue(uint8_t ods_type, const uint8_t* data, uint32_t length, int32_t& value) {
  switch (ods_type) {
    case SRVDECIMAL:
    case SRVNUMERIC:
    case SRVDECIMALN:
    case SRVNUMERICN: {
      // precision, scale, sign (1 positive), then 16 bytes of magnitude, little-endian
      if (length < 3) RaiseRangeError();
      Magnitude magnitude;
      std::memcpy(magnitude.words, data + 3, std::min<uint32_t>(length - 3, 16));
      unsigned scale = data[1];
      if (scale > 38) RaiseRangeError();
      value = WholeOfScaled(data[2] == 0, magnitude, scale);
      return true;
    }
    case SRVMONEY:
    case SRVMONEY4:
    case SRVMONEYN: {
      int64_t units;
      if (length == 8) {
        units = OdsMoneyToCurrency(data);
      } else if (length == 4) {
        int32_t small;
        std::memcpy(&small, data, 4);
        units = small;
      } else {
        return false;
      }
      bool negative = units < 0;
      uint64_t size = negative ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
      Magnitude magnitude;
      magnitude.words[0] = static_cast<uint32_t>(size);
      magnitude.words[1] = static_cast<uint32_t>(size >> 32);
      value = WholeOfScaled(negative, magnitude, 4);
      return true;
    }
    case SRVFLT4:
    case SRVFLT8:
    case SRVFLTN:
      if (length == 8) {
        double number;
        std::memcpy(&number, data, 8);
        value = WholeOfDouble(number);
        return true;
      }
      if (length == 4) {
        float number;
        std::memcpy(&number, data, 4);
        value = WholeOfDouble(number);
        return true;
      }
      return false;
    default:
      return false;
  }
}

int32_t IntegerOf(const TxpItem& item) {
  if (item.IsNull()) return 0;
  int32_t value;
  if (WholeNumberValue(item.OdsType(), item.Data(), item.DataLen(), value)) return value;
  return item.AsInteger();
}

void RaiseParamError(const std::string& problem, int position) {
  throw Exception(problem + " (" + Ordinal(position) + " param)");
}

void CheckName(const TxpItem& item, const char* what, int position) {
  if (item.IsNull()) return;
  if (BadName(item.Kind(), item.Data(), item.DataLen())) {
    RaiseParamError(std::string("Invalid character in ") + what, position);
  }
}

void CheckName(const TxpParamBuffer& param, const char* what, int position) {
  if (param.Null) return;
  if (BadName(OdsTypeKind(param.Type), param.Data, param.ActualLen)) {
    RaiseParamError(std::string("Invalid character in ") + what, position);
  }
}

void CheckOutputKind(const TxpItem& item) {
  TxpDataKind kind = item.Kind();
  if (item.IsOutput() && kind != dkString && kind != dkWideString && kind != dkBytes) {
    RaiseInvalidParams();
  }
}

void CheckOutputRoom(const TxpItem& item, uint64_t bytes, int position) {
  CheckOutputKind(item);
  if (bytes > item.MaxLen()) RaiseParamError("Result too long for the output", position);
}

}  // namespace dunmarrow
