// Letter case of ASCII alone: A-Z and a-z fold into each other, every other character is left
// as it is, whatever the code page or the locale. For names, keywords and hexadecimal digits,
// which the module compares without letter case; text that folds by a code page's or a
// locale's rules goes through runtime/ansi_text.h or the platform.
#pragma once

#include <concepts>
#include <string>
#include <string_view>

namespace dunmarrow {

// One character of any width (char, char16_t, ...); a byte above 0x7F, as a negative char,
// is no letter.
template <std::integral Char>
constexpr Char AsciiLower(Char c) {
  return c >= Char{'A'} && c <= Char{'Z'} ? static_cast<Char>(c + ('a' - 'A')) : c;
}

inline std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

constexpr bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace dunmarrow
