// MultiByteToWideChar and WideCharToMultiByte between UTF-8 (the ANSI code page on both
// builds: the Windows programs declare UTF-8 as their active code page) and UTF-16: every
// single byte, the boundaries of each UTF-8 sequence length, malformed and truncated
// sequences, surrogates, flags, lengths and output buffers that are too small.
#include <vector>

#include "tests/conformance/conformance.h"

using namespace conformance;

namespace {

#ifndef MB_PRECOMPOSED
#define MB_PRECOMPOSED 0x00000001u
#endif
#ifndef WC_ERR_INVALID_CHARS
#define WC_ERR_INVALID_CHARS 0x00000080u
#endif
#ifndef WC_COMPOSITECHECK
#define WC_COMPOSITECHECK 0x00000200u
#endif
#ifndef WC_NO_BEST_FIT_CHARS
#define WC_NO_BEST_FIT_CHARS 0x00000400u
#endif

// Wine takes flags with UTF-8 that Windows documents as failing with ERROR_INVALID_FLAGS:
// MB_PRECOMPOSED, MB_COMPOSITE, MB_USEGLYPHCHARS; WC_COMPOSITECHECK, WC_NO_BEST_FIT_CHARS.
constexpr const char* kFlagsTaken = "takes flags that UTF-8 does not allow";
// Wine succeeds with half a surrogate pair when the output ends inside the pair; Windows
// fails with ERROR_INSUFFICIENT_BUFFER whenever the output does not fit.
constexpr const char* kCutPair = "succeeds with half a surrogate pair in a buffer too small";
// Wine lets a sequence cut short by the end of the input swallow the bytes after its lead
// byte even when they are not continuation bytes ("\xE2A" gives one U+FFFD); our stand-in
// keeps them, as no character may be lost.
constexpr const char* kSwallowed = "a truncated sequence at the end swallows an ASCII byte";
// Wine ignores a default character, or the flag for its use, with UTF-8; Windows documents
// both as failing with ERROR_INVALID_PARAMETER.
constexpr const char* kDefaultTaken = "takes a default character with UTF-8";

constexpr WCHAR kWideFill = 0xCCCC;
constexpr char kNarrowFill = '\xCC';

std::string CodePageName(UINT code_page) {
  return code_page == CP_UTF8  ? "CP_UTF8"
         : code_page == CP_ACP ? "CP_ACP"
                               : std::to_string(code_page);
}

// What a successful call wrote: up to the first unit still holding the fill, at most `size`
// units. What a failed call leaves in the buffer is not defined, and not compared.
std::string WideWritten(const WCHAR* out, int size) {
  int n = 0;
  while (n < size && out[n] != kWideFill) ++n;
  return QuoteWide(out, static_cast<size_t>(n));
}

std::string NarrowWritten(const char* out, int size) {
  int n = 0;
  while (n < size && out[n] != kNarrowFill) ++n;
  return Quote(std::string_view(out, static_cast<size_t>(n)));
}

void ToWide(UINT code_page, DWORD flags, const std::string& bytes, int length, int size,
            const char* wine_differs = nullptr) {
  std::vector<WCHAR> out(64, kWideFill);
  const char* text = bytes.data();
  ResetLastError();
  int result =
      MultiByteToWideChar(code_page, flags, text, length, size == 0 ? nullptr : out.data(), size);
  std::string error = LastErrorText();
  std::string input = "MultiByteToWideChar(" + CodePageName(code_page) + ", " + Hex(flags) + ", " +
                      Quote(bytes) + ", " + std::to_string(length) + ", " + std::to_string(size) +
                      ")";
  std::string output = std::to_string(result) + " " + error;
  if (result > 0) output += " " + WideWritten(out.data(), size);
  if (wine_differs) {
    WineDiffers(wine_differs, input, output);
  } else {
    Check(input, output);
  }
}

void ToNarrow(UINT code_page, DWORD flags, const WideString& units, int length, int size,
              const char* wine_differs = nullptr) {
  std::vector<char> out(64, kNarrowFill);
  ResetLastError();
  int result = WideCharToMultiByte(code_page, flags, units.data(), length,
                                   size == 0 ? nullptr : out.data(), size, nullptr, nullptr);
  std::string error = LastErrorText();
  std::string input = "WideCharToMultiByte(" + CodePageName(code_page) + ", " + Hex(flags) + ", " +
                      QuoteWide(units.data(), units.size()) + ", " + std::to_string(length) + ", " +
                      std::to_string(size) + ")";
  std::string output = std::to_string(result) + " " + error;
  if (result > 0) output += " " + NarrowWritten(out.data(), size);
  if (wine_differs) {
    WineDiffers(wine_differs, input, output);
  } else {
    Check(input, output);
  }
}

// Both flag settings, with a buffer that is large enough; the size query must agree.
void BytesBoth(const std::string& bytes, const char* wine_differs = nullptr) {
  int length = static_cast<int>(bytes.size());
  for (DWORD flags : {DWORD{0}, DWORD{MB_ERR_INVALID_CHARS}}) {
    ToWide(CP_UTF8, flags, bytes, length, 0, flags == 0 ? wine_differs : nullptr);
    ToWide(CP_UTF8, flags, bytes, length, 64, flags == 0 ? wine_differs : nullptr);
  }
}

void UnitsBoth(const WideString& units) {
  int length = static_cast<int>(units.size());
  for (DWORD flags : {DWORD{0}, DWORD{WC_ERR_INVALID_CHARS}}) {
    ToNarrow(CP_UTF8, flags, units, length, 0);
    ToNarrow(CP_UTF8, flags, units, length, 64);
  }
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

}  // namespace

void RunChecks(const Workspace&) {
  Check("GetACP()", std::to_string(GetACP()));

  // Every single byte.
  for (int b = 0; b < 256; ++b) BytesBoth(Bytes({b}));
  // Two-byte sequences: every lead byte with the trail bytes around the valid range.
  for (int lead = 0xC0; lead <= 0xDF; ++lead) {
    for (int trail : {0x7F, 0x80, 0xBF, 0xC0}) BytesBoth(Bytes({lead, trail}));
  }
  // Longer sequences at their boundaries: overlong forms, surrogates, the largest code point
  // and past it, truncated sequences and sequences broken by another character.
  const std::vector<std::string> sequences = {Bytes({0xE0, 0x80, 0x80}),
                                              Bytes({0xE0, 0x9F, 0xBF}),
                                              Bytes({0xE0, 0xA0, 0x80}),
                                              Bytes({0xE2, 0x82, 0xAC}),
                                              Bytes({0xE2, 0x82}),
                                              Bytes({0xE2, 0x82, 0x41}),
                                              Bytes({0xED, 0x9F, 0xBF}),
                                              Bytes({0xED, 0xA0, 0x80}),
                                              Bytes({0xED, 0xBF, 0xBF}),
                                              Bytes({0xED, 0xA0, 0x80, 0xED, 0xB0, 0x80}),
                                              Bytes({0xEF, 0xBF, 0xBE}),
                                              Bytes({0xEF, 0xBF, 0xBF}),
                                              Bytes({0xEF, 0xBB, 0xBF, 0x61}),
                                              Bytes({0xF0, 0x80, 0x80, 0x80}),
                                              Bytes({0xF0, 0x8F, 0xBF, 0xBF}),
                                              Bytes({0xF0, 0x90, 0x80, 0x80}),
                                              Bytes({0xF0, 0x9F, 0x98, 0x80}),
                                              Bytes({0xF0, 0x9F, 0x98}),
                                              Bytes({0xF0, 0x9F, 0x98, 0x41}),
                                              Bytes({0xF0, 0x9F}),
                                              Bytes({0xF4, 0x8F, 0xBF, 0xBF}),
                                              Bytes({0xF4, 0x90, 0x80, 0x80}),
                                              Bytes({0xF5, 0x80, 0x80, 0x80}),
                                              Bytes({0xF7, 0xBF, 0xBF, 0xBF}),
                                              Bytes({0xF8, 0x88, 0x80, 0x80, 0x80}),
                                              Bytes({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}),
                                              Bytes({0x80, 0x80, 0x41}),
                                              Bytes({0xC3, 0xA9, 0xC3}),
                                              Bytes({0x61, 0x00, 0x62}),
                                              Bytes({0x00}),
                                              "a\xC3\xA9"
                                              "b\xE2\x82\xAC"
                                              "c\xF0\x9F\x98\x80"};
  for (const std::string& bytes : sequences) BytesBoth(bytes);
  BytesBoth(Bytes({0xE2, 0x41}), kSwallowed);
  BytesBoth(Bytes({0xF0, 0x9F, 0x41}), kSwallowed);
  BytesBoth(Bytes({0xF4, 0x90, 0x80}));

  // Output buffers around the length of "a", "é" and "😀" (1 + 1 + 2 units, 1 + 2 + 4 bytes).
  std::string mixed = "a\xC3\xA9\xF0\x9F\x98\x80";
  for (int size : {1, 2, 3, 4, 5}) {
    ToWide(CP_UTF8, 0, mixed, static_cast<int>(mixed.size()), size, size == 3 ? kCutPair : nullptr);
  }
  WideString mixed_wide = Widen(mixed);
  for (int size : {1, 2, 3, 4, 5, 6, 7, 8}) {
    ToNarrow(CP_UTF8, 0, mixed_wide, static_cast<int>(mixed_wide.size()), size);
  }

  // Lengths: through the terminator (-1), none, and negative.
  for (int length : {-1, 0, -2}) {
    ToWide(CP_UTF8, 0, "a\xC3\xA9", length, 0);
    ToWide(CP_UTF8, 0, "a\xC3\xA9", length, 64);
    ToNarrow(CP_UTF8, 0, mixed_wide, length, 0);
    ToNarrow(CP_UTF8, 0, mixed_wide, length, 64);
  }
  ToWide(CP_UTF8, 0, "a\xC3\xA9", -1, 3);  // room for the characters but not the terminator
  ToNarrow(CP_UTF8, 0, mixed_wide, -1, 7);

  // Flags that UTF-8 does not take, and code pages that do not exist.
  for (DWORD flags : {DWORD{MB_PRECOMPOSED}, DWORD{0x2}, DWORD{0x4}}) {
    ToWide(CP_UTF8, flags, "abc", 3, 64, kFlagsTaken);
  }
  for (DWORD flags : {DWORD{0x10}, DWORD{0x80}}) ToWide(CP_UTF8, flags, "abc", 3, 64);
  for (DWORD flags : {DWORD{WC_COMPOSITECHECK}, DWORD{WC_NO_BEST_FIT_CHARS}}) {
    ToNarrow(CP_UTF8, flags, Widen("abc"), 3, 64, kFlagsTaken);
  }
  for (DWORD flags : {DWORD{0x8}, DWORD{MB_ERR_INVALID_CHARS | 0x80}}) {
    ToNarrow(CP_UTF8, flags, Widen("abc"), 3, 64);
  }
  // UTF-8 has no default character.
  {
    char out[8];
    BOOL used = FALSE;
    WideString abc = Widen("abc");
    ResetLastError();
    int with_default = WideCharToMultiByte(CP_UTF8, 0, abc.data(), 3, out, 8, "?", nullptr);
    std::string error = LastErrorText();
    WineDiffers(kDefaultTaken, "WideCharToMultiByte(CP_UTF8, 0, L\"abc\", 3, 8, default \"?\")",
                std::to_string(with_default) + " " + error);
    ResetLastError();
    int with_used = WideCharToMultiByte(CP_UTF8, 0, abc.data(), 3, out, 8, nullptr, &used);
    error = LastErrorText();
    WineDiffers(kDefaultTaken, "WideCharToMultiByte(CP_UTF8, 0, L\"abc\", 3, 8, &used)",
                std::to_string(with_used) + " " + error);
  }
  ToWide(12345, 0, "abc", 3, 64);
  ToNarrow(12345, 0, Widen("abc"), 3, 64);

  // The ANSI code page is UTF-8 on both builds.
  ToWide(CP_ACP, 0, mixed, static_cast<int>(mixed.size()), 64);
  ToWide(CP_ACP, MB_ERR_INVALID_CHARS, Bytes({0xC3}), 1, 64);
  ToNarrow(CP_ACP, 0, mixed_wide, static_cast<int>(mixed_wide.size()), 64);

  // UTF-16 units around each boundary, lone and reversed surrogates.
  for (int unit : {0x0000, 0x0041, 0x007F, 0x0080, 0x07FF, 0x0800, 0x0FFF, 0x1000, 0xD7FF, 0xD800,
                   0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFEFF, 0xFFFD, 0xFFFE, 0xFFFF}) {
    UnitsBoth(WideString(1, static_cast<WCHAR>(unit)));
    UnitsBoth(WideString{static_cast<WCHAR>(unit), static_cast<WCHAR>('x')});
  }
  for (WideString units :
       {WideString{0xD83D, 0xDE00}, WideString{0xDBFF, 0xDFFF}, WideString{0xD800, 0xDC00},
        WideString{0xDE00, 0xD83D}, WideString{0xD83D, 0xD83D, 0xDE00},
        WideString{0xD83D, 0x0041, 0xDE00}, WideString{0x0041, 0xDE00, 0xD83D}}) {
    UnitsBoth(units);
  }
}
