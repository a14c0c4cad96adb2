// Linux stand-ins: the ANSI code page (UTF-8, 65001) and its conversions to and from UTF-16
// (MultiByteToWideChar, WideCharToMultiByte, IsDBCSLeadByte, GetACP).
#include "platform/linux/codepage.h"

#include <string>

#include "platform/linux/errors.h"

namespace {

bool IsUtf8CodePage(UINT code_page) {
  return code_page == CP_ACP || code_page == CP_UTF8;
}

constexpr char32_t kMalformed = 0xFFFFFFFF;

// The number of continuation bytes a lead byte announces; 0 for a byte that starts nothing
// (a continuation byte, C0, C1, F5 to FF).
size_t ContinuationCount(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return 0;
}

// Decodes the sequence that starts at text[*i] with a byte of 0x80 or above and moves *i past
// it. A malformed sequence gives kMalformed and one U+FFFD, as Windows replaces it: it ends
// before the first byte that is not a continuation byte, and at the continuation byte that
// shows an overlong form or a surrogate (that byte included) or a value past U+10FFFF (that
// byte left for the next character). A sequence cut short by the end of the input takes the
// continuation bytes left.
char32_t DecodeSequence(const unsigned char* text, size_t n, size_t* i) {
  unsigned char lead = text[(*i)++];
  size_t count = ContinuationCount(lead);
  if (count == 0) return kMalformed;
  if (*i + count > n) {
    while (*i < n && (text[*i] & 0xC0) == 0x80) ++*i;
    return kMalformed;
  }
  char32_t value = lead & (0x3F >> count);
  for (size_t k = 1; k <= count; ++k) {
    unsigned char byte = text[*i];
    if ((byte & 0xC0) != 0x80) return kMalformed;
    value = (value << 6) | (byte & 0x3F);
    size_t left = count - k;
    if (left == 1 && value >= (0x110000 >> 6)) return kMalformed;
    ++*i;
    if (count == 3 && k == 1 && value < 0x10) return kMalformed;  // overlong, 4 bytes
    if (count == 2 && k == 1 && value < 0x20) return kMalformed;  // overlong, 3 bytes
    if (count == 2 && k == 1 && value >= (0xD800 >> 6) && value <= (0xDFFF >> 6)) {
      return kMalformed;  // a surrogate
    }
  }
  return value;
}

}  // namespace

extern "C" {

UINT GetACP() {
  return CP_UTF8;
}

BOOL IsDBCSLeadByteEx(UINT code_page, BYTE byte) {
  (void)code_page;  // the only code page here is UTF-8, which has no lead bytes
  (void)byte;
  return FALSE;
}

int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                        int wide_size) {
  if (!text || length == 0 || wide_size < 0 || (wide_size > 0 && !wide) ||
      !IsUtf8CodePage(code_page)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((flags & ~MB_ERR_INVALID_CHARS) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  // Any negative length converts through the terminating zero.
  size_t n = length < 0 ? std::char_traits<char>::length(text) + 1 : static_cast<size_t>(length);
  std::u16string out;
  for (size_t i = 0; i < n;) {
    char32_t cp = bytes[i] < 0x80 ? bytes[i++] : DecodeSequence(bytes, n, &i);
    if (cp == kMalformed) {
      if (flags & MB_ERR_INVALID_CHARS) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      cp = 0xFFFD;
    }
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  if (wide_size == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(wide_size)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  out.copy(reinterpret_cast<char16_t*>(wide), out.size());
  return static_cast<int>(out.size());
}

int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR wide, int length, LPSTR text, int size,
                        LPCSTR default_char, BOOL* used_default_char) {
  if (!wide || length == 0 || size < 0 || (size > 0 && !text) || !IsUtf8CodePage(code_page) ||
      default_char || used_default_char) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((flags & ~WC_ERR_INVALID_CHARS) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  // Any negative length converts through the terminating zero.
  size_t n =
      length < 0 ? std::char_traits<char16_t>::length(wide) + 1 : static_cast<size_t>(length);
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    char32_t cp = wide[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(wide[i + 1]) - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (flags & WC_ERR_INVALID_CHARS) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      cp = 0xFFFD;  // an unpaired surrogate
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  if (size == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(size)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  out.copy(text, out.size());
  return static_cast<int>(out.size());
}

}  // extern "C"
