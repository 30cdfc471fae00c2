#pragma once
// Date-times as the program stores them: day counts since 1899-12-30 in local time,
// the time of day as the fraction. 0 means "never".
#include <string>
#include <string_view>

using TDateTime = double;

constexpr double MSecsPerDay = 86400000.0;
constexpr double SecsPerDay = 86400.0;
constexpr double MinsPerDay = 1440.0;

// The current local date-time.
TDateTime Now();

// Calendar conversions. Encode* return false / 0 for values the calendar rejects.
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& out);
TDateTime EncodeDate(int year, int month, int day);             // 0 when invalid
TDateTime EncodeTime(int hour, int min, int sec, int msec = 0);  // 0 when invalid
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec = 0);
// Decoding rounds to the nearest millisecond; a value outside the years 1 to 9999 (or
// not a number) decodes to zeros.
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);
int DayOfWeek(TDateTime value);  // 1 = Sunday .. 7 = Saturday
int MonthOf(TDateTime value);
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Unix time (seconds since 1970-01-01 UTC) to and from local date-times.
TDateTime UnixToDateTime(double unixSeconds);
double DateTimeToUnix(TDateTime value);

// Time-zone bias in minutes for a local date-time: UTC = local + bias
// (Central Europe in winter gives -60, New York in summer gives 240).
int TimeZoneBiasMinutes(TDateTime localValue);

// Local date-times to and from UTC date-times, with the zone offset in force at the
// date converted. A local time skipped by a spring-forward change is read with the
// offset in force before the change (02:30 counts as 03:30).
TDateTime LocalToUniversal(TDateTime localValue);
TDateTime UniversalToLocal(TDateTime utcValue);

// Formats with the day-count format codes: d dd ddd dddd m mm mmm mmmm yy yyyy
// h hh n nn s ss z zzz am/pm a/p ampm, "quoted" and 'quoted' literals, / and : as is.
// After h or hh, m and mm mean minutes. With am/pm or a/p the hour is 12-hour. Month
// and day names are English; am/pm and a/p keep the letter case written in the format.
std::string FormatDateTime(std::string_view format, TDateTime value);

// "dd-mmm-yyyy" for a value above 0, else "(None)".
std::string DisplayDate(TDateTime value);
