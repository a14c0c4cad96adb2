// FormatMessageA/W with FORMAT_MESSAGE_FROM_SYSTEM: which codes have a text, how a text ends,
// what a buffer that is too small gives, and that the two functions agree.
#include <cstring>
#include <vector>

#include "tests/conformance/conformance.h"

using namespace conformance;

namespace {

constexpr DWORD kFromSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

// Wine has short texts of its own ("File not found." for 2): only their shape is compared.
constexpr const char* kShortTexts = "short system texts of its own";
// Wine has no texts for the CryptoAPI codes: FormatMessage fails with 317 there.
constexpr const char* kNoCryptTexts = "no texts for the NTE_* codes";

bool IsCryptCode(DWORD code) {
  return (code & 0xFFFF0000u) == 0x80090000u;
}

// How a text ends and whether the length returned is its length: what a caller relies on.
std::string Shape(const char* text, DWORD length) {
  size_t real = std::strlen(text);
  std::string shape = "length " + std::string(length == real ? "matches" : "differs");
  if (real >= 2 && text[real - 2] == '\r' && text[real - 1] == '\n') shape += ", ends in CRLF";
  if (real >= 3 && text[real - 3] == '.') shape += " after a full stop";
  return shape;
}

void TextOf(DWORD code) {
  std::string input = "FormatMessageA(FROM_SYSTEM, " + Hex(code) + ", 512 bytes)";
  char text[512];
  std::memset(text, '#', sizeof text);
  ResetLastError();
  DWORD length = FormatMessageA(kFromSystem, nullptr, code, 0, text, sizeof text, nullptr);
  std::string error = LastErrorText();
  std::string result = length == 0 ? "0 " + error : Quote(std::string_view(text, length));

  WCHAR wide[512];
  ResetLastError();
  DWORD wide_length = FormatMessageW(kFromSystem, nullptr, code, 0, wide, 512, nullptr);
  std::string wide_error = LastErrorText();
  std::string agreement;
  if (length == 0 || wide_length == 0) {
    agreement = wide_length == 0 ? "W: 0 " + wide_error : "W: a text, A: none";
  } else {
    agreement = Widen(std::string_view(text, length)) == WideString(wide, wide_length)
                    ? "W: the same text"
                    : "W: " + QuoteWide(wide, wide_length);
  }

  if (IsCryptCode(code)) {
    WineDiffers(kNoCryptTexts, input, result + "; " + agreement);
    return;
  }
  if (length == 0) {
    Check(input, result + "; " + agreement);
    return;
  }
  Check(input + " shape", Shape(text, length) + "; " + agreement);
  WineDiffers(kShortTexts, input, result);
}

// A buffer one character too small, or empty: the call fails; what is left in the buffer?
void SmallBuffer(DWORD code) {
  char text[512];
  DWORD full = FormatMessageA(kFromSystem, nullptr, code, 0, text, sizeof text, nullptr);
  if (full == 0) return;
  for (DWORD size : {full, DWORD{1}, DWORD{0}}) {
    char small[512];
    std::memset(small, '#', sizeof small);
    ResetLastError();
    DWORD length = FormatMessageA(kFromSystem, nullptr, code, 0, small, size, nullptr);
    std::string error = LastErrorText();
    std::string input = "FormatMessageA(FROM_SYSTEM, " + Hex(code) + ", size " +
                        (size == full ? std::string("text length") : std::to_string(size)) + ")";
    Check(input, std::to_string(length) + " " + error + " first byte " +
                     (small[0] == '#' ? std::string("untouched") : "written"));
  }
}

}  // namespace

void RunChecks(const Workspace&) {
  // The codes the stand-ins produce, and those the module reports from other calls.
  std::vector<DWORD> codes = {
      0,    1,           2,           3,           4,           5,           6,          8,   15,
      18,   19,          32,          39,          80,          87,          111,        112, 122,
      123,  126,         127,         131,         145,         183,         206,        234, 267,
      1113, 0x80090003u, 0x80090004u, 0x80090005u, 0x80090008u, 0x80090009u, 0x8009000Cu};
  // Codes that have no text anywhere.
  for (DWORD code : {0x0000FFFFu, 0x20000001u, 0xDEADBEEFu, 0xFFFFFFFFu}) codes.push_back(code);

  for (DWORD code : codes) TextOf(code);
  for (DWORD code : {2u, 87u}) SmallBuffer(code);
}
