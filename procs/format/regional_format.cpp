// The number settings of the format engine: the locale's separators and currency layout, made
// once as the module is loaded (xp_FormatStr registers the step) of the values the runtime read
// from the locale, and replaceable by tests.
#include <optional>

#include "platform/windows.h"
#include "procs/format/format_engine.h"
#include "runtime/locale_values.h"

namespace dunmarrow {
namespace {

RegionalFormat regional;

// The locale's value as UTF-16; nothing when the locale gives none.
std::optional<std::u16string> Widen(const std::optional<std::string>& value) {
  if (!value) return std::nullopt;
  const std::string& text = *value;
  if (text.empty()) return std::u16string();
  int length = static_cast<int>(text.size());
  int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return std::u16string();
  std::u16string out(static_cast<size_t>(size), u'\0');
  size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, reinterpret_cast<LPWSTR>(out.data()),
                             size);
  out.resize(static_cast<size_t>(std::max(size, 0)));
  return out;
}

char16_t LocaleCharacter(const std::optional<std::string>& locale_value, char16_t fallback) {
  auto value = Widen(locale_value);
  if (!value) return fallback;
  return value->empty() ? u'\0' : (*value)[0];
}

int LocaleNumber(const std::optional<std::string>& locale_value, int fallback) {
  auto value = Widen(locale_value);
  if (!value || value->empty() || value->size() > 4) return fallback;
  int number = 0;
  for (char16_t c : *value) {
    if (c < u'0' || c > u'9') return fallback;
    number = number * 10 + (c - u'0');
  }
  return number;
}

}  // namespace

RegionalFormat RegionalFormatOf(const LocaleValues& values) {
  RegionalFormat settings;
  settings.decimal_separator = LocaleCharacter(values.decimal_separator, u'.');
  settings.thousand_separator = LocaleCharacter(values.thousand_separator, u',');
  settings.currency_symbol = Widen(values.currency_symbol).value_or(u"");
  settings.currency_decimals = LocaleNumber(values.currency_decimals, 0);
  settings.positive_currency_format = LocaleNumber(values.positive_currency_format, 0);
  settings.negative_currency_format = LocaleNumber(values.negative_currency_format, 0);
  return settings;
}

const RegionalFormat& CurrentRegionalFormat() {
  return regional;
}

void SetRegionalFormat(const RegionalFormat& settings) {
  regional = settings;
}

}  // namespace dunmarrow
