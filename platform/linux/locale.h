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
