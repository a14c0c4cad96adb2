// 8-bit text by the rules of the ANSI code page the platform reports.
#include "runtime/ansi_text.h"

#include <cstdint>

#include "platform/windows.h"
#include "runtime/ascii.h"

namespace dunmarrow {

namespace {

// The length of the character that starts at `at`: two bytes for a lead byte of a
// double-byte code page followed by its second byte, otherwise one. UTF-8 is not asked here.
size_t DoubleByteCharLength(UINT code_page, std::string_view text, size_t at) {
  if (IsDBCSLeadByteEx(code_page, static_cast<BYTE>(text[at])) && at + 1 < text.size()) return 2;
  return 1;
}

}  // namespace

size_t AnsiPrefixLength(std::string_view text, size_t limit) {
  if (limit >= text.size()) return text.size();
  UINT code_page = GetACP();
  if (code_page == CP_UTF8) {
    // Step back over continuation bytes to the start of the character that would be cut.
    size_t end = limit;
    while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) --end;
    return end;
  }
  // A double-byte code page is read from the start: a second byte may look like a lead byte
  // or like ASCII. In a single-byte code page every step is one byte.
  size_t end = 0;
  while (end < limit) {
    size_t next = end + DoubleByteCharLength(code_page, text, end);
    if (next > limit) break;
    end = next;
  }
  return end;
}

std::string AnsiLowerAscii(std::string_view text) {
  std::string out(text);
  UINT code_page = GetACP();
  for (size_t at = 0; at < out.size();) {
    size_t length = code_page == CP_UTF8 ? 1 : DoubleByteCharLength(code_page, out, at);
    if (length == 1) out[at] = AsciiLower(out[at]);
    at += length;
  }
  return out;
}

}  // namespace dunmarrow
