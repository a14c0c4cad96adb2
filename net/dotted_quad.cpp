// The reader of IPv4 addresses in dotted-decimal form, as the resolver takes them.
#include <string>

#include "net/internet.h"
#include "net/network_internal.h"
#include "runtime/ascii.h"

namespace dunmarrow {
namespace {

// One field of a dotted quad as an integer: an optional sign, then decimal digits, or
// hexadecimal digits after $, x, X, 0x or 0X. False when it does not convert.
bool ConvertField(std::string_view field, int64_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  unsigned base = 10;
  if (i < field.size() && (field[i] == '$' || AsciiLower(field[i]) == 'x')) {
    base = 16;
    ++i;
  } else if (i + 1 < field.size() && field[i] == '0' && AsciiLower(field[i + 1]) == 'x') {
    base = 16;
    i += 2;
  }
  if (i == field.size()) return false;
  uint64_t magnitude = 0;
  for (; i < field.size(); ++i) {
    char c = AsciiLower(field[i]);
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else {
      return false;
    }
    magnitude = magnitude * base + digit;
    if (magnitude > 0xFFFFFFFFu) return false;
  }
  value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

}  // namespace

namespace net_internal {

bool DottedQuadFields(std::string_view text, int64_t (&fields)[4]) {
  std::string rest;
  rest.reserve(text.size() + 1);
  for (char c : text) {
    if (c != ' ') rest += c;
  }
  rest += '.';
  for (int field = 0; field < 4; ++field) {
    size_t dot = rest.find('.');
    int64_t value = 256;
    if (dot == std::string::npos || !ConvertField(std::string_view(rest).substr(0, dot), value)) {
      value = 256;
    }
    if (value < 0 || value >= 256) return false;
    fields[field] = value;
    rest.erase(0, dot + 1);
  }
  return rest.empty();
}

}  // namespace net_internal

bool IsDottedQuad(std::string_view text) {
  int64_t fields[4];
  return net_internal::DottedQuadFields(text, fields);
}

}  // namespace dunmarrow
