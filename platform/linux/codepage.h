// Conversions between the ANSI code page (UTF-8 on Linux, 65001) and UTF-16.
#pragma once

#include "platform/linux/types.h"

#define CP_ACP 0u
#define CP_UTF8 65001u
#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_ERR_INVALID_CHARS 0x00000080u

extern "C" {
WINAPI_EXPORT UINT GetACP();
// Whether a byte starts a two-byte character of a double-byte code page. UTF-8 is no
// double-byte code page: FALSE for every byte, as on Windows.
WINAPI_EXPORT BOOL IsDBCSLeadByteEx(UINT code_page, BYTE byte);
// Returns the number of units written, or with wide_size 0 the number needed. A negative
// length converts through the terminating zero, which is counted. Flags other than
// MB_ERR_INVALID_CHARS (WC_ERR_INVALID_CHARS) fail with ERROR_INVALID_FLAGS.
WINAPI_EXPORT int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int length,
                                      LPWSTR wide, int wide_size);
WINAPI_EXPORT int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR wide, int length,
                                      LPSTR text, int size, LPCSTR default_char,
                                      BOOL* used_default_char);
}
