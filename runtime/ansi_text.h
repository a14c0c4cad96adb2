// 8-bit text in the ANSI code page, handled by that code page's rules: where its characters
// begin and end (one or two bytes in a double-byte code page such as 932, one to four in
// UTF-8, always one in 1252), and letter case that folds only whole one-byte characters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dunmarrow {

// The length of the longest start of `text` of at most `limit` bytes that ends between two
// characters of the ANSI code page.
size_t AnsiPrefixLength(std::string_view text, size_t limit);

// `text` with the ASCII capitals A-Z that stand as characters of their own made small; the
// second byte of a double-byte character is left as it is, whatever its value.
std::string AnsiLowerAscii(std::string_view text);

}  // namespace dunmarrow
