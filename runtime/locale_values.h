// The values the module takes from the locale, read in one place: once, as the module is
// loaded, from the locale of the loading thread, and never refreshed. The diagnostic log makes
// its date and time formats of them (runtime/locale_settings.h), the format engine its number
// settings (procs/format/format_engine.h).
#pragma once

#include <optional>
#include <string>

namespace dunmarrow {

// Each value as the locale gives it, in the ANSI code page; nothing where it gives none.
struct LocaleValues {
  std::optional<std::string> short_date;                // LOCALE_SSHORTDATE
  std::optional<std::string> long_time;                 // LOCALE_STIMEFORMAT
  std::optional<std::string> decimal_separator;         // LOCALE_SDECIMAL
  std::optional<std::string> thousand_separator;        // LOCALE_STHOUSAND
  std::optional<std::string> currency_symbol;           // LOCALE_SCURRENCY
  std::optional<std::string> currency_decimals;         // LOCALE_ICURRDIGITS
  std::optional<std::string> positive_currency_format;  // LOCALE_ICURRENCY
  std::optional<std::string> negative_currency_format;  // LOCALE_INEGCURR
};

// The values of the calling thread's locale now.
LocaleValues ReadLocaleValues();

// Reads them and keeps them (a load step); until then every value is nothing.
void LoadLocaleValues();
const LocaleValues& CurrentLocaleValues();

}  // namespace dunmarrow
