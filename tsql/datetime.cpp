// datetime and smalldatetime: calendar arithmetic, parsing of date and time text, rounding
// to the minute and the text forms of the CONVERT styles.
#include "tsql/datetime.h"

#include <cstdio>
#include <regex>

namespace dunmarrow::tsql {

namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

const int64_t kMinDays = -53690;   // 1753-01-01
const int64_t kMaxDays = 2958463;  // 9999-12-31

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

int MonthFromName(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const char* const kFull[] = {"january",   "february", "march",    "april",
                                      "may",       "june",     "july",     "august",
                                      "september", "october",  "november", "december"};
  for (int i = 0; i < 12; ++i) {
    std::string full = kFull[i];
    if (name == full || (name.size() == 3 && full.compare(0, 3, name) == 0)) return i + 1;
  }
  return 0;
}

// Parses the time part; false on bad syntax or values.
bool ParseTime(const std::string& text, uint32_t& ticks) {
  static const std::regex clock(
      R"(^(\d{1,2}):(\d{1,2})(?::(\d{1,2})(?:\.(\d{0,9}))?)?\s*([AaPp][Mm])?$)");
  static const std::regex hour_only(R"(^(\d{1,2})\s*([AaPp][Mm])$)");
  std::smatch m;
  int hour = 0, minute = 0, second = 0;
  double fraction = 0;
  std::string half;
  if (std::regex_match(text, m, clock)) {
    hour = std::stoi(m[1]);
    minute = std::stoi(m[2]);
    if (m[3].matched) second = std::stoi(m[3]);
    if (m[4].matched && m[4].length() > 0) fraction = std::stod("0." + m[4].str());
    half = m[5];
  } else if (std::regex_match(text, m, hour_only)) {
    hour = std::stoi(m[1]);
    half = m[2];
  } else {
    return false;
  }
  if (!half.empty()) {
    if (hour < 1 || hour > 12) return false;
    bool pm = half[0] == 'p' || half[0] == 'P';
    hour = hour % 12 + (pm ? 12 : 0);
  }
  if (hour > 23 || minute > 59 || second > 59) return false;
  // Milliseconds round to the nearest 1/300 s: .998 stays .997, .999 becomes the next second.
  int64_t millis = static_cast<int64_t>(fraction * 1000 + 0.5);
  int64_t fraction_ticks = (millis * 3 + 5) / 10;
  ticks = static_cast<uint32_t>((hour * 3600 + minute * 60 + second) * 300 + fraction_ticks);
  return true;
}

std::string Pad(int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  return buffer;
}

}  // namespace

int64_t DaysFromCivil(int year, int month, int day) {
  // Days from 1970-01-01 (Howard Hinnant's algorithm), then moved to 1900-01-01.
  int64_t y = year - (month <= 2 ? 1 : 0);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25567;
}

CivilDate CivilFromDays(int64_t days) {
  int64_t z = days - 25567 + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  return {year, month, day};
}

bool InDateTimeRange(int64_t days) {
  return days >= kMinDays && days <= kMaxDays;
}
bool InSmallDateTimeRange(int64_t days) {
  return days >= 0 && days <= 65535;
}

DateParse ParseDateTime(std::string_view input, DateTimeValue& out) {
  std::string text(input);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  size_t start = text.find_first_not_of(" \t");
  text = start == std::string::npos ? std::string() : text.substr(start);
  out = DateTimeValue{};
  if (text.empty()) return DateParse::kOk;
  // No date is longer; the patterns are not run over long texts.
  if (text.size() > 64) return DateParse::kSyntax;

  static const std::regex compact(R"(^(\d{4})(\d{2})(\d{2})(?:[ T]+(.*))?$)");
  static const std::regex ymd(R"(^(\d{4})[-/.](\d{1,2})[-/.](\d{1,2})(?:(?:\s+|T)(.*))?$)");
  static const std::regex mdy(R"(^(\d{1,2})[-/.](\d{1,2})[-/.](\d{2}|\d{4})(?:\s+(.*))?$)");
  static const std::regex month_first(R"(^([A-Za-z]+)\s+(\d{1,2}),?\s+(\d{4})(?:\s+(.*))?$)");
  static const std::regex day_first(R"(^(\d{1,2})\s+([A-Za-z]+),?\s+(\d{4})(?:\s+(.*))?$)");
  std::smatch m;
  int year = 1900, month = 1, day = 1;
  std::string time;
  if (std::regex_match(text, m, compact) || std::regex_match(text, m, ymd)) {
    year = std::stoi(m[1]);
    month = std::stoi(m[2]);
    day = std::stoi(m[3]);
    time = m[4];
  } else if (std::regex_match(text, m, mdy)) {
    month = std::stoi(m[1]);
    day = std::stoi(m[2]);
    year = std::stoi(m[3]);
    if (m[3].length() == 2) year += year < 50 ? 2000 : 1900;  // two-digit year cutoff 2049
    time = m[4];
  } else if (std::regex_match(text, m, month_first)) {
    month = MonthFromName(m[1]);
    day = std::stoi(m[2]);
    year = std::stoi(m[3]);
    time = m[4];
    if (month == 0) return DateParse::kSyntax;
  } else if (std::regex_match(text, m, day_first)) {
    day = std::stoi(m[1]);
    month = MonthFromName(m[2]);
    year = std::stoi(m[3]);
    time = m[4];
    if (month == 0) return DateParse::kSyntax;
  } else {
    time = text;  // a time alone
  }
  uint32_t ticks = 0;
  if (!time.empty() && !ParseTime(time, ticks)) return DateParse::kSyntax;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
    return DateParse::kRange;
  }
  int64_t days = DaysFromCivil(year, month, day);
  if (ticks >= kTicksPerDay) {
    ticks -= kTicksPerDay;
    ++days;
  }
  if (!InDateTimeRange(days)) return DateParse::kRange;
  out.days = static_cast<int32_t>(days);
  out.ticks = ticks;
  return DateParse::kOk;
}

DateTimeValue RoundToMinute(DateTimeValue value) {
  const uint32_t minute = 60 * kTicksPerSecond;
  uint32_t rest = value.ticks % minute;
  // 29.998 s is 8999.4 ticks: it and everything below stay in the minute.
  value.ticks -= rest;
  if (rest >= 9000) value.ticks += minute;
  if (value.ticks >= kTicksPerDay) {
    value.ticks -= kTicksPerDay;
    ++value.days;
  }
  return value;
}

std::optional<std::string> FormatDateTime(DateTimeValue value, int style, bool small) {
  CivilDate date = CivilFromDays(value.days);
  uint32_t seconds = value.ticks / kTicksPerSecond;
  int millis = static_cast<int>(((value.ticks % kTicksPerSecond) * 10 + 1) / 3);
  int hour = static_cast<int>(seconds / 3600), minute = static_cast<int>(seconds / 60 % 60),
      second = static_cast<int>(seconds % 60);
  if (small) millis = 0;
  std::string yyyy = Pad(date.year, 4), mm = Pad(date.month, 2), dd = Pad(date.day, 2);
  std::string mon = kMonths[date.month - 1];
  std::string hms = Pad(hour, 2) + ":" + Pad(minute, 2) + ":" + Pad(second, 2);
  switch (style) {
    case 0:
    case 100: {
      char day[4];
      std::snprintf(day, sizeof day, "%2d", date.day);
      int hour12 = hour % 12 == 0 ? 12 : hour % 12;
      char clock[16];
      std::snprintf(clock, sizeof clock, "%2d:%02d%s", hour12, minute, hour < 12 ? "AM" : "PM");
      return mon + " " + day + " " + yyyy + " " + clock;
    }
    case 101:
      return mm + "/" + dd + "/" + yyyy;
    case 102:
      return yyyy + "." + mm + "." + dd;
    case 103:
      return dd + "/" + mm + "/" + yyyy;
    case 104:
      return dd + "." + mm + "." + yyyy;
    case 105:
      return dd + "-" + mm + "-" + yyyy;
    case 106:
      return dd + " " + mon + " " + yyyy;
    case 107:
      return mon + " " + dd + ", " + yyyy;
    case 108:
      return hms;
    case 110:
      return mm + "-" + dd + "-" + yyyy;
    case 111:
      return yyyy + "/" + mm + "/" + dd;
    case 112:
      return yyyy + mm + dd;
    case 120:
      return yyyy + "-" + mm + "-" + dd + " " + hms;
    case 121:
      return yyyy + "-" + mm + "-" + dd + " " + hms + "." + Pad(millis, 3);
    case 126: {
      std::string out = yyyy + "-" + mm + "-" + dd + "T" + hms;
      if (millis != 0) out += "." + Pad(millis, 3);
      return out;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace dunmarrow::tsql
