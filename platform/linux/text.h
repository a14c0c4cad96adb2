// Internal to the Linux stand-ins: UTF-8 and UTF-16 text, and the case folding Windows uses
// for file and profile names (names compare without regard to case).
#pragma once

#include <string>
#include <string_view>

namespace winplatform {

// Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
// Each byte that is not part of valid UTF-8 becomes its own lone low surrogate, so that
// different bytes stay different (for comparing names in 8-bit files).
std::u16string Utf8ToUtf16Escaped(std::string_view text);

// The upper-case form of a UTF-16 unit, for comparing names without regard to case: ASCII,
// Latin-1, Latin Extended-A, Greek and Cyrillic letters.
char16_t FoldUnit(char16_t unit);
std::u16string FoldText(std::string_view utf8);  // escaped, see above
std::u16string FoldText(std::u16string_view text);

}  // namespace winplatform
