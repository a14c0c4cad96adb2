// The one reading of the locale (runtime/locale_values.h): GetLocaleInfoA on the calling
// thread's locale, each value sized first so that none is cut.
#include "runtime/locale_values.h"

#include <cstring>

#include "platform/windows.h"

namespace dunmarrow {

namespace {

// Constant-initialised, so that it is empty before the module's load runs.
constinit LocaleValues values;

std::optional<std::string> LocaleValue(LCID locale, LCTYPE type) {
  int size = GetLocaleInfoA(locale, type, nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::string bytes(static_cast<size_t>(size), '\0');
  size = GetLocaleInfoA(locale, type, bytes.data(), size);
  if (size <= 0) return std::nullopt;
  bytes.resize(std::strlen(bytes.c_str()));
  return bytes;
}

}  // namespace

LocaleValues ReadLocaleValues() {
  LCID locale = GetThreadLocale();
  LocaleValues read;
  read.short_date = LocaleValue(locale, LOCALE_SSHORTDATE);
  read.long_time = LocaleValue(locale, LOCALE_STIMEFORMAT);
  read.decimal_separator = LocaleValue(locale, LOCALE_SDECIMAL);
  read.thousand_separator = LocaleValue(locale, LOCALE_STHOUSAND);
  read.currency_symbol = LocaleValue(locale, LOCALE_SCURRENCY);
  read.currency_decimals = LocaleValue(locale, LOCALE_ICURRDIGITS);
  read.positive_currency_format = LocaleValue(locale, LOCALE_ICURRENCY);
  read.negative_currency_format = LocaleValue(locale, LOCALE_INEGCURR);
  return read;
}

void LoadLocaleValues() {
  values = ReadLocaleValues();
}

const LocaleValues& CurrentLocaleValues() {
  return values;
}

}  // namespace dunmarrow
