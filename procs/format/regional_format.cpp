// The number settings of the format engine: the locale's separators and currency layout, read
// once as the module is loaded (xp_FormatStr registers the step) and replaceable by tests.
#include <cstring>
#include <optional>

#include "platform/windows.h"
#include "procs/format/format_engine.h"

namespace dunmarrow {
namespace {

RegionalFormat regional;

std::u16string Widen(const std::string& text) {
  if (text.empty()) return {};
  int length = static_cast<int>(text.size());
  int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::u16string out(static_cast<size_t>(size), u'\0');
  size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, reinterpret_cast<LPWSTR>(out.data()),
                             size);
  out.resize(static_cast<size_t>(std::max(size, 0)));
  return out;
}

// The locale's value as UTF-16; nothing when the locale gives none.
std::optional<std::u16string> LocaleValue(LCID locale, LCTYPE type) {
  int size = GetLocaleInfoA(locale, type, nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::string bytes(static_cast<size_t>(size), '\0');
  size = GetLocaleInfoA(locale, type, bytes.data(), size);
  if (size <= 0) return std::nullopt;
  bytes.resize(std::strlen(bytes.c_str()));
  return Widen(bytes);
}

char16_t LocaleCharacter(LCID locale, LCTYPE type, char16_t fallback) {
  auto value = LocaleValue(locale, type);
  if (!value) return fallback;
  return value->empty() ? u'\0' : (*value)[0];
}

int LocaleNumber(LCID locale, LCTYPE type, int fallback) {
  auto value = LocaleValue(locale, type);
  if (!value || value->empty() || value->size() > 4) return fallback;
  int number = 0;
  for (char16_t c : *value) {
    if (c < u'0' || c > u'9') return fallback;
    number = number * 10 + (c - u'0');
  }
  return number;
}

}  // namespace

void LoadRegionalFormat() {
  LCID locale = GetThreadLocale();
  RegionalFormat settings;
  settings.decimal_separator = LocaleCharacter(locale, LOCALE_SDECIMAL, u'.');
  settings.thousand_separator = LocaleCharacter(locale, LOCALE_STHOUSAND, u',');
  settings.currency_symbol = LocaleValue(locale, LOCALE_SCURRENCY).value_or(u"");
  settings.currency_decimals = LocaleNumber(locale, LOCALE_ICURRDIGITS, 0);
  settings.positive_currency_format = LocaleNumber(locale, LOCALE_ICURRENCY, 0);
  settings.negative_currency_format = LocaleNumber(locale, LOCALE_INEGCURR, 0);
  regional = std::move(settings);
}

const RegionalFormat& CurrentRegionalFormat() {
  return regional;
}

void SetRegionalFormat(const RegionalFormat& settings) {
  regional = settings;
}

}  // namespace dunmarrow
