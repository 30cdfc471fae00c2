#include "common/DateTime.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>

namespace {

constexpr std::int64_t MSecsPerDayInt = 86400000;
constexpr std::int64_t UnixEpochDay = 25569;  // 1970-01-01
constexpr std::int64_t MinDay = -693593;      // 0001-01-01
constexpr std::int64_t MaxDay = 2958465;      // 9999-12-31

const char* const ShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const LongMonthNames[12] = {"January", "February", "March",     "April",
                                        "May",     "June",     "July",      "August",
                                        "September", "October", "November", "December"};
const char* const ShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const LongDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

std::int64_t FloorMod(std::int64_t a, std::int64_t b) { return a - FloorDiv(a, b) * b; }

// Proleptic Gregorian calendar in days relative to 1970-01-01.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = FloorDiv(y, 400);
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = FloorDiv(z, 146097);
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// A value as its day number and the milliseconds since that day's midnight. Before
// 1899-12-30 the day is the integer part and the fraction still counts forward from
// midnight, so -1.25 is 1899-12-29 06:00. Rounds to the nearest millisecond: a value
// built from whole milliseconds is often a hair below them.
bool SplitValue(TDateTime value, std::int64_t& day, std::int64_t& msOfDay) {
  if (!std::isfinite(value) || value < static_cast<double>(MinDay - 1) ||
      value > static_cast<double>(MaxDay + 1))
    return false;
  const std::int64_t ms = std::llround(std::fabs(value) * MSecsPerDay);
  day = ms / MSecsPerDayInt;
  msOfDay = ms % MSecsPerDayInt;
  if (value < 0) day = -day;
  return day >= MinDay && day <= MaxDay;
}

TDateTime JoinValue(std::int64_t day, std::int64_t msOfDay) {
  const double fraction = static_cast<double>(msOfDay) / MSecsPerDay;
  return day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
}

// Milliseconds since 1899-12-30 00:00, counting straight through negative days.
bool ToLinearMs(TDateTime value, std::int64_t& linear) {
  std::int64_t day, msOfDay;
  if (!SplitValue(value, day, msOfDay)) return false;
  linear = day * MSecsPerDayInt + msOfDay;
  return true;
}

TDateTime FromLinearMs(std::int64_t linear) {
  return JoinValue(FloorDiv(linear, MSecsPerDayInt), FloorMod(linear, MSecsPerDayInt));
}

constexpr std::int64_t UnixEpochMs = UnixEpochDay * MSecsPerDayInt;

// Seconds east of UTC in force at a UTC instant (seconds since 1970).
long UtcOffsetAt(std::int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm parts{};
  if (!localtime_r(&t, &parts)) return 0;
  return parts.tm_gmtoff;
}

// Finds the UTC instant whose local reading is the given local time.
std::int64_t LocalLinearToUtcLinear(std::int64_t localLinear) {
  const std::int64_t localSecs = FloorDiv(localLinear - UnixEpochMs, 1000);
  const long first = UtcOffsetAt(localSecs);
  long offset = first;
  const long second = UtcOffsetAt(localSecs - first);
  if (second != first) {
    // Either the guess straddled a change (the second offset then holds), or the
    // local time lies in a gap, where the earlier, smaller offset applies.
    offset = UtcOffsetAt(localSecs - second) == second ? second : std::min(first, second);
  }
  return localLinear - static_cast<std::int64_t>(offset) * 1000;
}

std::int64_t UtcLinearToLocalLinear(std::int64_t utcLinear) {
  const std::int64_t utcSecs = FloorDiv(utcLinear - UnixEpochMs, 1000);
  return utcLinear + static_cast<std::int64_t>(UtcOffsetAt(utcSecs)) * 1000;
}

void AppendNumber(std::string& out, int value, int digits) {
  std::string text = std::to_string(value < 0 ? -value : value);
  if (value < 0) out += '-';
  if (static_cast<int>(text.size()) < digits) out.append(digits - text.size(), '0');
  out += text;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithNoCase(std::string_view text, std::size_t at, std::string_view prefix) {
  if (text.size() - at < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (Upper(text[at + i]) != Upper(prefix[i])) return false;
  return true;
}

// The hour is on the 12-hour clock when an am/pm marker follows it before the next
// hour code (outside quoted literals).
bool TwelveHourAfter(std::string_view format, std::size_t from) {
  char quote = 0;
  for (std::size_t i = from; i < format.size(); ++i) {
    const char c = format[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (Upper(c) == 'H') {
      return false;
    } else if (Upper(c) == 'A' && (StartsWithNoCase(format, i, "am/pm") ||
                                   StartsWithNoCase(format, i, "a/p") ||
                                   StartsWithNoCase(format, i, "ampm"))) {
      return true;
    }
  }
  return false;
}

template <std::size_t N>
const char* NameAt(const char* const (&names)[N], int oneBased) {
  return oneBased >= 1 && oneBased <= static_cast<int>(N) ? names[oneBased - 1] : "";
}

}  // namespace

TDateTime Now() {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  return FromLinearMs(UtcLinearToLocalLinear(static_cast<std::int64_t>(ms) + UnixEpochMs));
}

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || day < 1 || day > DaysInMonth(year, month)) return false;
  out = static_cast<double>(DaysFromCivil(year, month, day) + UnixEpochDay);
  return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& out) {
  if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 ||
      msec > 999)
    return false;
  out = static_cast<double>(((hour * 60 + min) * 60 + sec) * 1000 + msec) / MSecsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime out = 0;
  return TryEncodeDate(year, month, day, out) ? out : 0;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime out = 0;
  return TryEncodeTime(hour, min, sec, msec, out) ? out : 0;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, min, sec, msec, time))
    return 0;
  return JoinValue(static_cast<std::int64_t>(date), std::llround(time * MSecsPerDay));
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  std::int64_t dayNumber, msOfDay;
  if (!SplitValue(value, dayNumber, msOfDay)) {
    year = month = day = 0;
    return;
  }
  CivilFromDays(dayNumber - UnixEpochDay, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec) {
  std::int64_t dayNumber, ms;
  if (!SplitValue(value, dayNumber, ms)) ms = 0;
  msec = static_cast<int>(ms % 1000);
  sec = static_cast<int>(ms / 1000 % 60);
  min = static_cast<int>(ms / 60000 % 60);
  hour = static_cast<int>(ms / 3600000);
}

int DayOfWeek(TDateTime value) {
  std::int64_t dayNumber, msOfDay;
  if (!SplitValue(value, dayNumber, msOfDay)) return 0;
  // Day 0 was a Saturday.
  return static_cast<int>(FloorMod(dayNumber + 6, 7)) + 1;
}

int MonthOf(TDateTime value) {
  int year, month, day;
  DecodeDate(value, year, month, day);
  return month;
}

TDateTime UnixToDateTime(double unixSeconds) {
  // Beyond these the result would not be a calendar date anyway.
  if (!std::isfinite(unixSeconds) || std::fabs(unixSeconds) > 1e12) return 0;
  const std::int64_t utcLinear = std::llround(unixSeconds * 1000.0) + UnixEpochMs;
  return FromLinearMs(UtcLinearToLocalLinear(utcLinear));
}

double DateTimeToUnix(TDateTime value) {
  std::int64_t localLinear;
  if (!ToLinearMs(value, localLinear)) return 0;
  return static_cast<double>(LocalLinearToUtcLinear(localLinear) - UnixEpochMs) / 1000.0;
}

int TimeZoneBiasMinutes(TDateTime localValue) {
  std::int64_t localLinear;
  if (!ToLinearMs(localValue, localLinear)) return 0;
  const std::int64_t offsetMs = localLinear - LocalLinearToUtcLinear(localLinear);
  return static_cast<int>(-offsetMs / 60000);
}

TDateTime LocalToUniversal(TDateTime localValue) {
  std::int64_t linear;
  if (!ToLinearMs(localValue, linear)) return localValue;
  return FromLinearMs(LocalLinearToUtcLinear(linear));
}

TDateTime UniversalToLocal(TDateTime utcValue) {
  std::int64_t linear;
  if (!ToLinearMs(utcValue, linear)) return utcValue;
  return FromLinearMs(UtcLinearToLocalLinear(linear));
}

std::string FormatDateTime(std::string_view format, TDateTime value) {
  int year, month, day, hour, min, sec, msec;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, min, sec, msec);
  const int weekDay = DayOfWeek(value);

  std::string out;
  out.reserve(format.size() + 16);
  char lastCode = 0;
  std::size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    const char code = Upper(c);
    if (c == '"' || c == '\'') {
      const std::size_t close = format.find(c, i + 1);
      const std::size_t end = close == std::string_view::npos ? format.size() : close;
      out.append(format.substr(i + 1, end - i - 1));
      i = end == format.size() ? end : end + 1;
      continue;
    }
    if (code == 'A') {
      if (StartsWithNoCase(format, i, "am/pm")) {
        out.append(format.substr(hour >= 12 ? i + 3 : i, 2));
        i += 5;
      } else if (StartsWithNoCase(format, i, "a/p")) {
        out += format[hour >= 12 ? i + 2 : i];
        i += 3;
      } else if (StartsWithNoCase(format, i, "ampm")) {
        out += hour >= 12 ? "PM" : "AM";
        i += 4;
      } else {
        out += c;
        ++i;
      }
      continue;
    }
    if (code != 'Y' && code != 'M' && code != 'D' && code != 'H' && code != 'N' &&
        code != 'S' && code != 'Z') {
      out += c;
      ++i;
      continue;
    }
    std::size_t count = 1;
    while (i + count < format.size() && Upper(format[i + count]) == code) ++count;
    const int width = count >= 2 ? 2 : 1;
    switch (code) {
      case 'Y':
        if (count <= 2) AppendNumber(out, year % 100, 2);
        else AppendNumber(out, year, 4);
        break;
      case 'M':
        if (lastCode == 'H' && count <= 2) AppendNumber(out, min, width);
        else if (count <= 2) AppendNumber(out, month, width);
        else out += NameAt(count == 3 ? ShortMonthNames : LongMonthNames, month);
        break;
      case 'D':
        if (count <= 2) AppendNumber(out, day, width);
        else out += NameAt(count == 3 ? ShortDayNames : LongDayNames, weekDay);
        break;
      case 'H': {
        int shown = hour;
        if (TwelveHourAfter(format, i + count)) {
          if (shown == 0) shown = 12;
          else if (shown > 12) shown -= 12;
        }
        AppendNumber(out, shown, width);
        break;
      }
      case 'N': AppendNumber(out, min, width); break;
      case 'S': AppendNumber(out, sec, width); break;
      case 'Z': AppendNumber(out, msec, count == 1 ? 1 : 3); break;
    }
    lastCode = code;
    i += count;
  }
  return out;
}

std::string DisplayDate(TDateTime value) {
  return value > 0 ? FormatDateTime("dd-mmm-yyyy", value) : "(None)";
}
