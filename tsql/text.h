// Text encodings of the engine: batch text and messages are UTF-8, varchar values are
// 8-bit text in the ANSI code page, nvarchar values are UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace dunmarrow::tsql {

std::u16string Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::u16string_view wide);
std::u16string AnsiToWide(std::string_view ansi);
std::string WideToAnsi(std::u16string_view wide);
inline std::string Utf8ToAnsi(std::string_view utf8) {
  return WideToAnsi(Utf8ToWide(utf8));
}
inline std::string AnsiToUtf8(std::string_view ansi) {
  return WideToUtf8(AnsiToWide(ansi));
}

// The number of characters (code points) of UTF-8 text, for column widths.
size_t Utf8Length(std::string_view utf8);
// The longest prefix of UTF-8 text with at most `chars` characters.
std::string_view Utf8Prefix(std::string_view utf8, size_t chars);
// The longest prefix of ANSI text of at most `bytes` bytes that does not split a character.
size_t AnsiPrefixLength(std::string_view ansi, size_t bytes);

std::string ToLowerAscii(std::string_view text);
std::string ToUpperAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace dunmarrow::tsql
