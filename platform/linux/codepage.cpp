#include "platform/linux/codepage.h"

#include <string>

#include "platform/linux/errors.h"

namespace {

bool IsUtf8CodePage(UINT code_page) {
  return code_page == CP_ACP || code_page == CP_UTF8;
}

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 for an invalid byte.
size_t DecodeUtf8(const unsigned char* text, size_t n, size_t i, char32_t* cp) {
  unsigned char b = text[i];
  if (b < 0x80) {
    *cp = b;
    return 1;
  }
  size_t len;
  char32_t value;
  char32_t min;
  if ((b & 0xE0) == 0xC0) {
    len = 2, value = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3, value = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4, value = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > n) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((text[i + k] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (text[i + k] & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return len;
}

}  // namespace

extern "C" {

UINT GetACP() {
  return CP_UTF8;
}

int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                        int wide_size) {
  if (!IsUtf8CodePage(code_page) || !text || length == 0 || length < -1 || wide_size < 0 ||
      (wide_size > 0 && !wide) || (flags & ~MB_ERR_INVALID_CHARS) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  size_t n = length == -1 ? std::char_traits<char>::length(text) + 1 : static_cast<size_t>(length);
  std::u16string out;
  for (size_t i = 0; i < n;) {
    char32_t cp;
    size_t len = DecodeUtf8(bytes, n, i, &cp);
    if (len == 0) {
      if (flags & MB_ERR_INVALID_CHARS) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      cp = 0xFFFD;
      len = 1;
    }
    i += len;
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
  if (!IsUtf8CodePage(code_page) || !wide || length == 0 || length < -1 || size < 0 ||
      (size > 0 && !text) || flags != 0 || default_char || used_default_char) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n =
      length == -1 ? std::char_traits<char16_t>::length(wide) + 1 : static_cast<size_t>(length);
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    char32_t cp = wide[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(wide[i + 1]) - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
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
