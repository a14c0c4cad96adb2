// Conformance checks of the Windows functions the module uses. Each check program, one per
// Windows area (check_<area>.cpp), is built twice: against our Linux stand-ins and, in the
// Windows build, against the real <windows.h>, to run under Wine. Both builds are run on the
// same inputs, which the program generates itself, and print one line per input: the input,
// then what the function returned, the last error and the bytes it wrote. compare.py runs
// both and fails on any difference, showing the input.
//
// A check that Wine is known to answer differently from Windows prints its line with
// WineDiffers() and the reason: the line must still be there on both sides, but its result is
// not compared. Our stand-ins follow Windows, never Wine's deviation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/windows.h"

namespace conformance {

using WideString = std::basic_string<WCHAR>;

// The directory a check works in: it exists and is empty, and it is the current directory.
struct Workspace {
  std::string dir;  // as a Windows path, without a trailing separator: "c:\conformance\files"
  // Where a Windows path is on this machine, for setting up files with the C++ library.
  std::filesystem::path Host(std::string_view windows_path) const;
};

// One input and its result; the two builds must agree.
void Check(std::string_view input, std::string_view result);
// One input whose result Wine is known to give differently from Windows.
void WineDiffers(std::string_view reason, std::string_view input, std::string_view result);

// True in the 64-bit Windows build when it runs under Wine: some of Wine's 64-bit functions
// fault on inputs that its 32-bit ones survive, and a check must not make such a call there.
bool UnderWine64();

// Before each call: a last-error value no function sets, so that a call that leaves the last
// error alone shows as "error=-".
void ResetLastError();
std::string LastErrorText();

// Printable forms: 8-bit text in quotes, non-printable bytes as \xHH; UTF-16 text with units
// outside printable ASCII as \uXXXX; numbers in hexadecimal.
std::string Quote(std::string_view bytes);
std::string QuoteWide(const WCHAR* units, size_t count);
std::string Hex(uint32_t value);
std::string HexBytes(const void* data, size_t size);

// UTF-8 to UTF-16 by the checks' own code, not by the functions under test.
WideString Widen(std::string_view utf8);

}  // namespace conformance

// Defined by each check program.
void RunChecks(const conformance::Workspace& workspace);
