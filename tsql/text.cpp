// Conversions between the engine's text encodings: UTF-8 batches and messages, 8-bit varchar
// text in the ANSI code page, UTF-16 nvarchar text.
#include "tsql/text.h"

#include <vector>

#include "ods/params.h"
#include "platform/windows.h"

namespace dunmarrow::tsql {

std::u16string Utf8ToWide(std::string_view utf8) {
  return ods::params::Utf16(utf8);
}

std::string WideToUtf8(std::u16string_view wide) {
  std::string out;
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t cp = wide[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // an unpaired surrogate
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::u16string AnsiToWide(std::string_view ansi) {
  if (ansi.empty()) return {};
  int length = static_cast<int>(ansi.size());
  int size = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::u16string out(static_cast<size_t>(size), u'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, reinterpret_cast<LPWSTR>(out.data()), size);
  return out;
}

std::string WideToAnsi(std::u16string_view wide) {
  if (wide.empty()) return {};
  int length = static_cast<int>(wide.size());
  auto* units = reinterpret_cast<LPCWSTR>(wide.data());
  int size = WideCharToMultiByte(CP_ACP, 0, units, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, units, length, out.data(), size, nullptr, nullptr);
  return out;
}

size_t Utf8Length(std::string_view utf8) {
  size_t count = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::string_view Utf8Prefix(std::string_view utf8, size_t chars) {
  size_t count = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
      if (count == chars) return utf8.substr(0, i);
      ++count;
    }
  }
  return utf8;
}

size_t AnsiPrefixLength(std::string_view ansi, size_t bytes) {
  if (bytes >= ansi.size()) return ansi.size();
  if (GetACP() != CP_UTF8) return bytes;
  // Back up to the start of the character that would be cut.
  size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(ansi[end]) & 0xC0) == 0x80) --end;
  return end;
}

std::string ToUpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ToLowerAscii(a) == ToLowerAscii(b);
}

}  // namespace dunmarrow::tsql
