// datetime and smalldatetime values: days since 1900-01-01 and 1/300-second ticks since
// midnight, their parsing from text and their text forms (CONVERT styles).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dunmarrow::tsql {

struct DateTimeValue {
  int32_t days = 0;    // since 1900-01-01
  uint32_t ticks = 0;  // 1/300 s since midnight, below 300 * 86400
};

constexpr uint32_t kTicksPerSecond = 300;
constexpr uint32_t kTicksPerDay = kTicksPerSecond * 86400;

struct CivilDate {
  int year, month, day;
};
int64_t DaysFromCivil(int year, int month, int day);  // relative to 1900-01-01
CivilDate CivilFromDays(int64_t days);

bool InDateTimeRange(int64_t days);       // 1753-01-01 to 9999-12-31
bool InSmallDateTimeRange(int64_t days);  // 1900-01-01 to 2079-06-06

enum class DateParse { kOk, kSyntax, kRange };
// The forms the server reads with the us_english settings: 'yyyymmdd', 'yyyy-mm-dd', 'mm/dd/yyyy',
// 'Jan 1 2020', '1 Jan 2020', each with an optional time 'hh:mm[:ss[.fff]][AM|PM]'; a time alone
// is on 1900-01-01; '' is 1900-01-01 00:00.
DateParse ParseDateTime(std::string_view text, DateTimeValue& out);

// smalldatetime keeps whole minutes: 29.998 seconds and less round down.
DateTimeValue RoundToMinute(DateTimeValue value);

// The text of a CONVERT style (0, 100-108, 110-112, 120, 121, 126); nullopt for other styles.
std::optional<std::string> FormatDateTime(DateTimeValue value, int style, bool small);

}  // namespace dunmarrow::tsql
