// The date and time formats of the diagnostic log, from the locale's values read at module
// load, and the pictures that format a time with them.
#include "runtime/locale_settings.h"

#include <cstdio>

#include "runtime/locale_values.h"

namespace dunmarrow {

namespace {

const std::string& PictureOr(const std::optional<std::string>& value, const std::string& fallback) {
  return value && !value->empty() ? *value : fallback;
}

std::string Number(int value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", digits, value);
  return buffer;
}

}  // namespace

DateTimeFormats CurrentDateTimeFormats() {
  const LocaleValues& values = CurrentLocaleValues();
  DateTimeFormats defaults;
  return {PictureOr(values.short_date, defaults.short_date),
          PictureOr(values.long_time, defaults.long_time)};
}

std::string FormatPicture(const std::string& picture, const SYSTEMTIME& t) {
  std::string out;
  size_t i = 0;
  while (i < picture.size()) {
    char c = picture[i];
    size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    int hour12 = t.wHour % 12 == 0 ? 12 : t.wHour % 12;
    switch (c) {
      case 'd':
        out += Number(t.wDay, run >= 2 ? 2 : 1);
        break;
      case 'M':
        out += Number(t.wMonth, run >= 2 ? 2 : 1);
        break;
      case 'y':
        out += run >= 3 ? Number(t.wYear, 4) : Number(t.wYear % 100, run >= 2 ? 2 : 1);
        break;
      case 'h':
        out += Number(hour12, run >= 2 ? 2 : 1);
        break;
      case 'H':
        out += Number(t.wHour, run >= 2 ? 2 : 1);
        break;
      case 'm':
        out += Number(t.wMinute, run >= 2 ? 2 : 1);
        break;
      case 's':
        out += Number(t.wSecond, run >= 2 ? 2 : 1);
        break;
      case 't':
        out += run >= 2 ? (t.wHour < 12 ? "AM" : "PM") : (t.wHour < 12 ? "A" : "P");
        break;
      case '\'': {
        size_t end = picture.find('\'', i + 1);
        if (end == std::string::npos) end = picture.size();
        out += picture.substr(i + 1, end - i - 1);
        i = end + 1;
        continue;
      }
      default:
        out.append(run, c);
        break;
    }
    i += run;
  }
  return out;
}

std::string FormatLogTimestamp(const SYSTEMTIME& time, const DateTimeFormats& fmt) {
  std::string text = FormatPicture(fmt.short_date, time);
  bool midnight =
      time.wHour == 0 && time.wMinute == 0 && time.wSecond == 0 && time.wMilliseconds == 0;
  if (!midnight) text += " " + FormatPicture(fmt.long_time, time);
  return text;
}

std::string FormatLogTimestamp() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return FormatLogTimestamp(now, CurrentDateTimeFormats());
}

}  // namespace dunmarrow
