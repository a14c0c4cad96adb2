// Locale settings (GetLocaleInfoA) from the process locale, and the local time.
#pragma once

#include "platform/linux/types.h"

#define LOCALE_USER_DEFAULT 0x0400u
#define LOCALE_SDECIMAL 0x0000000Eu
#define LOCALE_STHOUSAND 0x0000000Fu
#define LOCALE_SCURRENCY 0x00000014u
#define LOCALE_ICURRDIGITS 0x00000019u
#define LOCALE_ICURRENCY 0x0000001Bu
#define LOCALE_INEGCURR 0x0000001Cu
#define LOCALE_SSHORTDATE 0x0000001Fu
#define LOCALE_STIMEFORMAT 0x00001003u

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
typedef SYSTEMTIME* LPSYSTEMTIME;

extern "C" {
WINAPI_EXPORT LCID GetThreadLocale();
// Returns the characters written with the terminator, or the size needed when size is 0.
WINAPI_EXPORT int GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size);
WINAPI_EXPORT void GetLocalTime(LPSYSTEMTIME time);
}

// Linux only: the Windows currency layout numbers (LOCALE_ICURRENCY 0..3, LOCALE_INEGCURR
// 0..15) for the symbol and sign placement of a POSIX locale (lconv's p_/n_cs_precedes,
// p_/n_sep_by_space and n_sign_posn; CHAR_MAX for "not given" yields 0).
namespace winplatform {
WINAPI_EXPORT int PositiveCurrencyLayout(int cs_precedes, int sep_by_space);
WINAPI_EXPORT int NegativeCurrencyLayout(int cs_precedes, int sep_by_space, int sign_posn);
}  // namespace winplatform
