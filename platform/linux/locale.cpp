// Linux stand-ins: locale settings (GetLocaleInfoA, GetThreadLocale) from the process locale,
// and the local time.
#include "platform/linux/locale.h"

#include <langinfo.h>
#include <locale.h>
#include <sys/time.h>
#include <time.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/linux/errors.h"

namespace {

// A strftime date or time format as a Windows picture ("%m/%d/%y" as "MM/dd/yy").
std::string WindowsPicture(const char* format) {
  std::string out;
  for (const char* p = format; *p; ++p) {
    if (*p != '%') {
      if (*p == '\'') {
        out += "''";
      } else {
        out += *p;
      }
      continue;
    }
    ++p;
    while (*p == 'E' || *p == 'O' || *p == '-' || *p == '_' || *p == '0') ++p;
    switch (*p) {
      case 'd':
        out += "dd";
        break;
      case 'e':
        out += "d";
        break;
      case 'm':
        out += "MM";
        break;
      case 'y':
        out += "yy";
        break;
      case 'Y':
        out += "yyyy";
        break;
      case 'H':
        out += "HH";
        break;
      case 'k':
        out += "H";
        break;
      case 'I':
        out += "hh";
        break;
      case 'l':
        out += "h";
        break;
      case 'M':
        out += "mm";
        break;
      case 'S':
        out += "ss";
        break;
      case 'p':
        out += "tt";
        break;
      case 'D':
        out += "MM/dd/yy";
        break;
      case 'T':
        out += "HH:mm:ss";
        break;
      case 'r':
        out += "hh:mm:ss tt";
        break;
      case 'R':
        out += "HH:mm";
        break;
      case 'F':
        out += "yyyy-MM-dd";
        break;
      case '\0':
        return out;
      default:
        break;
    }
  }
  return out;
}

bool IsPosixLocale(const char* name) {
  return !name || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 ||
         std::strncmp(name, "C.", 2) == 0;
}

// The value of a locale setting as text; false for a setting we do not know.
bool LocaleValue(LCTYPE type, std::string* value) {
  const char* time_locale = setlocale(LC_TIME, nullptr);
  const char* numeric_locale = setlocale(LC_NUMERIC, nullptr);
  const char* monetary_locale = setlocale(LC_MONETARY, nullptr);
  // The C locale stands for en-US, as on Wine.
  switch (type) {
    case LOCALE_SSHORTDATE:
      *value = IsPosixLocale(time_locale) ? "M/d/yyyy" : WindowsPicture(nl_langinfo(D_FMT));
      return true;
    case LOCALE_STIMEFORMAT:
      *value = IsPosixLocale(time_locale) ? "h:mm:ss tt" : WindowsPicture(nl_langinfo(T_FMT));
      return true;
    case LOCALE_SDECIMAL: {
      const char* point = localeconv()->decimal_point;
      *value = IsPosixLocale(numeric_locale) || !point || !*point ? "." : point;
      return true;
    }
    case LOCALE_STHOUSAND: {
      const char* sep = localeconv()->thousands_sep;
      *value = IsPosixLocale(numeric_locale) ? "," : (sep ? sep : "");
      return true;
    }
    case LOCALE_SCURRENCY: {
      const char* symbol = localeconv()->currency_symbol;
      *value = IsPosixLocale(monetary_locale) ? "$" : (symbol ? symbol : "");
      return true;
    }
    case LOCALE_ICURRDIGITS: {
      char digits = localeconv()->frac_digits;
      *value = IsPosixLocale(monetary_locale) || digits == CHAR_MAX ? "2" : std::to_string(digits);
      return true;
    }
    case LOCALE_ICURRENCY: {
      const lconv* conv = localeconv();
      *value = IsPosixLocale(monetary_locale) ? "0"
                                              : std::to_string(winplatform::PositiveCurrencyLayout(
                                                    conv->p_cs_precedes, conv->p_sep_by_space));
      return true;
    }
    case LOCALE_INEGCURR: {
      const lconv* conv = localeconv();
      *value = IsPosixLocale(monetary_locale)
                   ? "0"
                   : std::to_string(winplatform::NegativeCurrencyLayout(
                         conv->n_cs_precedes, conv->n_sep_by_space, conv->n_sign_posn));
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

namespace winplatform {

// Windows writes a positive amount as $1.1 (0), 1.1$ (1), $ 1.1 (2) or 1.1 $ (3).
int PositiveCurrencyLayout(int cs_precedes, int sep_by_space) {
  if (cs_precedes == CHAR_MAX || sep_by_space == CHAR_MAX) return 0;
  bool space = sep_by_space != 0;
  if (cs_precedes) return space ? 2 : 0;
  return space ? 3 : 1;
}

// The sixteen negative layouts of Windows, by where the symbol goes (after, before), where the
// sign goes (POSIX n_sign_posn 0..4: parentheses, before all, after all, just before the
// symbol, just after the symbol) and the space rule (POSIX n_sep_by_space 0..2). POSIX
// placements Windows has no layout for take the nearest one.
int NegativeCurrencyLayout(int cs_precedes, int sep_by_space, int sign_posn) {
  static constexpr int kLayouts[2][5][3] = {
      // 1.1$: (1.1$) -1.1$ 1.1$- 1.1-$ 1.1$-
      {{4, 15, 4}, {5, 8, 5}, {7, 10, 7}, {6, 13, 13}, {7, 10, 7}},
      // $1.1: ($1.1) -$1.1 $1.1- -$1.1 $-1.1
      {{0, 14, 0}, {1, 9, 1}, {3, 11, 3}, {1, 9, 1}, {2, 12, 12}},
  };
  if (cs_precedes == CHAR_MAX || sep_by_space < 0 || sep_by_space > 2 || sign_posn < 0 ||
      sign_posn > 4) {
    return 0;
  }
  return kLayouts[cs_precedes ? 1 : 0][sign_posn][sep_by_space];
}

}  // namespace winplatform

extern "C" {

LCID GetThreadLocale() {
  return LOCALE_USER_DEFAULT;
}

int GetLocaleInfoA(LCID, LCTYPE type, LPSTR data, int size) {
  std::string value;
  if (!LocaleValue(type, &value) || size < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int needed = static_cast<int>(value.size()) + 1;
  if (size == 0) return needed;
  if (!data || size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(data, value.c_str(), value.size() + 1);
  return needed;
}

void GetLocalTime(LPSYSTEMTIME time) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  struct tm local;
  localtime_r(&now.tv_sec, &local);
  time->wYear = static_cast<WORD>(local.tm_year + 1900);
  time->wMonth = static_cast<WORD>(local.tm_mon + 1);
  time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  time->wDay = static_cast<WORD>(local.tm_mday);
  time->wHour = static_cast<WORD>(local.tm_hour);
  time->wMinute = static_cast<WORD>(local.tm_min);
  time->wSecond = static_cast<WORD>(local.tm_sec);
  time->wMilliseconds = static_cast<WORD>(now.tv_usec / 1000);
}

}  // extern "C"
