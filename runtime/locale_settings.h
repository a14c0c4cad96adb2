// The date and time formats of the diagnostic log, made of the locale's values read at module
// load (runtime/locale_values.h), and the pictures that format a time with them.
#pragma once

#include <string>

#include "platform/windows.h"

namespace dunmarrow {

struct DateTimeFormats {
  std::string short_date = "M/d/yyyy";
  std::string long_time = "h:mm:ss tt";
};

// The locale's pictures, or the defaults above where it gives none or an empty one.
DateTimeFormats CurrentDateTimeFormats();

// A time in a Windows date or time picture (d, dd, M, MM, yy, yyyy, h, hh, H, HH, m, mm,
// s, ss, t, tt; quoted text is literal).
std::string FormatPicture(const std::string& picture, const SYSTEMTIME& time);

// The short date, a blank and the long time of now; the time is left out at exactly midnight.
std::string FormatLogTimestamp();
std::string FormatLogTimestamp(const SYSTEMTIME& time, const DateTimeFormats& formats);

}  // namespace dunmarrow
