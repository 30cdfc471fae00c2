#include "common/Clock.h"
#include "common/DateTime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>
#include <memory>
#include <random>

#include "support/TestSupport.h"

using testsupport::TScopedZone;

namespace {

// Whole milliseconds of a value at or after 1899-12-30, for exact comparisons.
long long Ms(TDateTime value) { return std::llround(value * MSecsPerDay); }

std::string Fields(TDateTime value) { return FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", value); }

TEST(DateTime, EncodesKnownDaysAndRejectsWhatTheCalendarRejects) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2);
  EXPECT_EQ(EncodeDate(2026, 12, 8), 46364);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593);
  EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465);
  EXPECT_EQ(EncodeTime(18, 0, 0), 0.75);

  TDateTime out = 123;
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29, out));
  EXPECT_EQ(out, 45351);
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, out));
  out = 123;
  EXPECT_FALSE(TryEncodeDate(2026, 2, 29, out));
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, out));
  EXPECT_FALSE(TryEncodeDate(2026, 2, 31, out));
  EXPECT_FALSE(TryEncodeDate(2026, 4, 31, out));
  EXPECT_FALSE(TryEncodeDate(2026, 13, 1, out));
  EXPECT_FALSE(TryEncodeDate(2026, 0, 1, out));
  EXPECT_FALSE(TryEncodeDate(2026, 1, 0, out));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, out));
  EXPECT_FALSE(TryEncodeDate(10000, 1, 1, out));
  EXPECT_EQ(out, 123) << "a rejected date leaves the output alone";
  EXPECT_TRUE(TryEncodeTime(23, 59, 59, 999, out));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, out));
  EXPECT_FALSE(TryEncodeTime(12, 60, 0, 0, out));
  EXPECT_FALSE(TryEncodeTime(12, 0, 60, 0, out));
  EXPECT_FALSE(TryEncodeTime(12, 0, 0, 1000, out));
  EXPECT_FALSE(TryEncodeTime(-1, 0, 0, 0, out));
  EXPECT_EQ(EncodeDate(2026, 2, 30), 0);
  EXPECT_EQ(EncodeTime(25, 0, 0), 0);
  EXPECT_EQ(EncodeDateTime(2026, 2, 30, 12, 0, 0), 0);
  EXPECT_EQ(EncodeDateTime(2026, 2, 3, 12, 0, 61), 0);

  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2026));
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(2100, 2), 28);
  EXPECT_EQ(DaysInMonth(2026, 12), 31);
  EXPECT_EQ(DaysInMonth(2026, 13), 0);

  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 8)), 3);  // Tuesday
  EXPECT_EQ(DayOfWeek(0), 7);
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 29)), 6);
  EXPECT_EQ(DayOfWeek(EncodeDate(1, 1, 1)), 2);
  EXPECT_EQ(MonthOf(EncodeDateTime(2026, 12, 8, 23, 59, 59, 999)), 12);
  EXPECT_EQ(MonthOf(EncodeDate(2024, 2, 29)), 2);
}

TEST(DateTime, DaysBefore1899KeepTheTimeCountingForwardFromMidnight) {
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0), -1.25);
  EXPECT_EQ(Fields(-1.25), "1899-12-29 06:00:00.000");
  EXPECT_EQ(Fields(-2.75), "1899-12-28 18:00:00.000");
  EXPECT_EQ(Fields(0.25), "1899-12-30 06:00:00.000");
  EXPECT_EQ(Fields(EncodeDateTime(1, 1, 1, 23, 59, 59, 999)), "0001-01-01 23:59:59.999");
  // Within half a millisecond of the next midnight rounds into the next day.
  EXPECT_EQ(Fields(-1.9999999999), "1899-12-28 00:00:00.000");
  EXPECT_EQ(Fields(46364.9999999999), "2026-12-09 00:00:00.000");
}

TEST(DateTime, RoundTripsEveryFieldToTheMillisecond) {
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> years(1, 9999), months(1, 12), days(1, 31), hours(0, 23),
      sixty(0, 59), millis(0, 999);
  for (int i = 0; i < 50000; ++i) {
    const int y = years(random), mo = months(random),
              d = std::min(days(random), DaysInMonth(y, mo));
    const int h = hours(random), n = sixty(random), s = sixty(random), z = millis(random);
    const TDateTime value = EncodeDateTime(y, mo, d, h, n, s, z);
    // The way callers build values: date plus time, or a whole day plus milliseconds.
    const TDateTime summed = EncodeDate(y, mo, d) + (value >= 0 ? 1 : -1) * EncodeTime(h, n, s, z);
    for (TDateTime v : {value, summed}) {
      int y2, mo2, d2, h2, n2, s2, z2;
      DecodeDate(v, y2, mo2, d2);
      DecodeTime(v, h2, n2, s2, z2);
      ASSERT_EQ(y2 * 10000 + mo2 * 100 + d2, y * 10000 + mo * 100 + d) << v;
      ASSERT_EQ(((h2 * 60 + n2) * 60 + s2) * 1000 + z2, ((h * 60 + n) * 60 + s) * 1000 + z) << v;
    }
  }
  // A millisecond step from a value that is a hair short of it must not be lost.
  for (int z = 0; z < 1000; ++z) {
    const TDateTime v = 46364 + z / MSecsPerDay;
    int h, n, s, z2;
    DecodeTime(std::nextafter(v, 0.0), h, n, s, z2);
    ASSERT_EQ(z2, z);
  }
}

TEST(DateTime, UnreadableValuesDecodeToZerosWithoutFailing) {
  for (double bad :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(), 1e300, -1e300, 2958467.0, -693595.0}) {
    int y = 1, mo = 1, d = 1, h = 1, n = 1, s = 1, z = 1;
    DecodeDate(bad, y, mo, d);
    DecodeTime(bad, h, n, s, z);
    EXPECT_EQ(y + mo + d + h + n + s + z, 0) << bad;
    EXPECT_EQ(DayOfWeek(bad), 0);
    EXPECT_EQ(FormatDateTime("dddd mmmm yyyy hh:nn", bad), "  0000 00:00");
    EXPECT_EQ(DateTimeToUnix(bad), 0);
    EXPECT_EQ(TimeZoneBiasMinutes(bad), 0);
  }
  EXPECT_EQ(UnixToDateTime(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(UnixToDateTime(1e300), 0);
  EXPECT_EQ(DisplayDate(std::numeric_limits<double>::quiet_NaN()), "(None)");
}

TEST(DateTime, FormatsEveryPatternTheProgramUses) {
  const TDateTime afternoon = EncodeDateTime(2026, 12, 8, 14, 5, 7, 89);
  const TDateTime night = EncodeDateTime(2026, 12, 8, 0, 30, 0);
  struct TCase {
    const char* format;
    const char* afternoon;
    const char* night;
  };
  const TCase cases[] = {
      {"mmm d, hh:nna/p", "Dec 8, 02:05p", "Dec 8, 12:30a"},
      {"mmm d, hh:nn", "Dec 8, 14:05", "Dec 8, 00:30"},
      {"mmm d, hh:nn:ssa/p", "Dec 8, 02:05:07p", "Dec 8, 12:30:00a"},
      {"mmm d, hh:nn:ss", "Dec 8, 14:05:07", "Dec 8, 00:30:00"},
      {"mmm d, ", "Dec 8, ", "Dec 8, "},
      {"h:nna/p ", "2:05p ", "12:30a "},
      {"hh:nn:ss", "14:05:07", "00:30:00"},
      {"hh:nn:ssa/p", "02:05:07p", "12:30:00a"},
      {":hh:nn:ss", ":14:05:07", ":00:30:00"},
      {" dd hh:nn:ss", " 08 14:05:07", " 08 00:30:00"},
      {"ddd hh:nna/p", "Tue 02:05p", "Tue 12:30a"},
      {"ddd hh:nn", "Tue 14:05", "Tue 00:30"},
      {"dd-mmm-yyyy", "08-Dec-2026", "08-Dec-2026"},
      {"ddd, d mmm yyyy hh:mm:ss", "Tue, 8 Dec 2026 14:05:07", "Tue, 8 Dec 2026 00:30:00"},
      {"yyyymmddhhnnsszzz", "20261208140507089", "20261208003000000"},
      {"h:nn", "14:05", "0:30"},
      {"hh:nn AM/PM", "02:05 PM", "12:30 AM"},
      {"hh:nn am/pm", "02:05 pm", "12:30 am"},
      {"hh:nn Am/Pm", "02:05 Pm", "12:30 Am"},
      {"h A/P", "2 P", "12 A"},
      {"h ampm", "2 PM", "12 AM"},
      {"dddd, mmmm d yy", "Tuesday, December 8 26", "Tuesday, December 8 26"},
      {"m/d/yyyy", "12/8/2026", "12/8/2026"},
      {"s.z", "7.89", "0.0"},
      {"'at' hh \"h\" nn", "at 14 h 05", "at 00 h 30"},
      {"hh 'a/p'", "14 a/p", "00 a/p"},
      {"hh' 'n \"unclosed", "14 5 unclosed", "00 30 unclosed"},
      {"", "", ""},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(FormatDateTime(c.format, afternoon), c.afternoon) << c.format;
    EXPECT_EQ(FormatDateTime(c.format, night), c.night) << c.format;
  }
  EXPECT_EQ(FormatDateTime("h:nna/p", EncodeDateTime(2026, 12, 8, 12, 0, 0)), "12:00p");
  EXPECT_EQ(FormatDateTime("hh:nna/p", EncodeDateTime(2026, 12, 8, 11, 59, 0)), "11:59a");
  // Each hour looks for its own marker: the first is 24-hour, the second 12-hour.
  EXPECT_EQ(FormatDateTime("hh/hh a/p", afternoon), "14/02 p");
  EXPECT_EQ(FormatDateTime("yyyy", EncodeDate(33, 1, 1)), "0033");
}

TEST(DateTime, DisplayDateShowsNoneForNever) {
  EXPECT_EQ(DisplayDate(0), "(None)");
  EXPECT_EQ(DisplayDate(-5), "(None)");
  EXPECT_EQ(DisplayDate(EncodeDateTime(2026, 12, 8, 23, 59, 59)), "08-Dec-2026");
  EXPECT_EQ(DisplayDate(EncodeDate(1900, 1, 1)), "01-Jan-1900");
}

TEST(DateTime, ConvertsUnixTimeWithTheOffsetOfTheDate) {
  {
    TScopedZone zone("UTC");
    EXPECT_EQ(UnixToDateTime(0), 25569);
    EXPECT_EQ(DateTimeToUnix(25569.5), 43200);
    EXPECT_EQ(Fields(UnixToDateTime(-0.001)), "1969-12-31 23:59:59.999");
    EXPECT_EQ(TimeZoneBiasMinutes(EncodeDate(2026, 7, 1)), 0);
  }
  TScopedZone zone("Europe/Berlin");
  EXPECT_EQ(Fields(UnixToDateTime(1000000000.123)), "2001-09-09 03:46:40.123");
  EXPECT_EQ(DateTimeToUnix(EncodeDateTime(2001, 9, 9, 3, 46, 40, 123)), 1000000000.123);
  EXPECT_EQ(Fields(UnixToDateTime(1796770800)), "2026-12-09 00:00:00.000");
  EXPECT_EQ(TimeZoneBiasMinutes(EncodeDate(2026, 1, 15)), -60);
  EXPECT_EQ(TimeZoneBiasMinutes(EncodeDate(2026, 7, 15)), -120);
  {
    TScopedZone ny("America/New_York");
    EXPECT_EQ(TimeZoneBiasMinutes(EncodeDate(2026, 1, 15)), 300);
    EXPECT_EQ(TimeZoneBiasMinutes(EncodeDate(2026, 7, 15)), 240);
  }
  EXPECT_EQ(TimeZoneBiasMinutes(EncodeDate(2026, 1, 15)), -60) << "zone put back";
}

TEST(DateTime, LocalAndUniversalTimeMeetAcrossBothDaylightChanges) {
  // The changes themselves are covered through the HTTP dates; here the milliseconds
  // and the hour the spring change skips (02:30 counts as 03:30).
  {
    TScopedZone zone("Europe/Berlin");
    EXPECT_EQ(Fields(LocalToUniversal(EncodeDateTime(2026, 3, 29, 1, 59, 59, 999))),
              "2026-03-29 00:59:59.999");
    EXPECT_EQ(Fields(LocalToUniversal(EncodeDateTime(2026, 3, 29, 2, 30, 0))),
              "2026-03-29 01:30:00.000");
  }
  {
    TScopedZone zone("America/New_York");
    EXPECT_EQ(Fields(LocalToUniversal(EncodeDateTime(2026, 3, 8, 2, 30, 0))),
              "2026-03-08 07:30:00.000");
  }
  // Every local time that exists comes back unchanged, to the millisecond.
  for (const char* name : {"Europe/Berlin", "America/New_York", "Australia/Sydney"}) {
    TScopedZone zone(name);
    const TDateTime start = EncodeDate(2026, 1, 1);
    int moved = 0;
    for (long long ms = 0; ms < 366LL * 86400000; ms += 1234567) {
      const TDateTime local = start + ms / MSecsPerDay;
      const TDateTime back = UniversalToLocal(LocalToUniversal(local));
      if (Ms(back) != Ms(local)) {
        // Only a time skipped by the spring change may move: forward, by the change.
        ++moved;
        EXPECT_EQ(Ms(back) - Ms(local), 3600000) << name << " " << Fields(local);
      }
      const TDateTime utc = LocalToUniversal(local);
      EXPECT_EQ(Ms(utc) - Ms(local), TimeZoneBiasMinutes(local) * 60000LL)
          << name << " " << Fields(local);
      EXPECT_EQ(std::llround(DateTimeToUnix(local) * 1000) + 25569LL * 86400000, Ms(utc));
    }
    EXPECT_GE(moved, 1) << name << ": the skipped hour was sampled";
    EXPECT_LE(moved, 3) << name;
  }
}

TEST(Clock, ManualClockMovesOnlyWhenTold) {
  const TDateTime start = EncodeDateTime(2026, 12, 8, 14, 5, 0);
  TManualClock clock(start, 1000);
  const TClock& asClock = clock;
  EXPECT_EQ(asClock.Now(), start);
  EXPECT_EQ(asClock.Milliseconds(), 1000);

  // Many small steps add up exactly: three minutes in 180 one-second steps.
  for (int i = 0; i < 180; ++i) clock.Advance(1000);
  EXPECT_EQ(clock.Milliseconds(), 181000);
  EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", clock.Now()), "14:08:00.000");

  clock.Advance(-5000);
  clock.Advance(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(clock.Milliseconds(), 181000) << "the monotonic count never goes back";

  clock.SetNow(EncodeDateTime(2026, 12, 7, 23, 59, 0));
  EXPECT_EQ(clock.Milliseconds(), 181000);
  clock.Advance(90000);
  EXPECT_EQ(Fields(clock.Now()), "2026-12-08 00:00:30.000");
  EXPECT_EQ(clock.Milliseconds(), 271000);
}

TEST(Clock, SystemClockReadsTheWallClockAndNeverRunsBackwards) {
  TClock clock;
  const TDateTime before = UnixToDateTime(static_cast<double>(std::time(nullptr)));
  const TDateTime now = clock.Now();
  const TDateTime after = UnixToDateTime(static_cast<double>(std::time(nullptr)) + 1);
  EXPECT_GE(now, before);
  EXPECT_LE(now, after);
  double last = clock.Milliseconds();
  for (int i = 0; i < 1000; ++i) {
    const double next = clock.Milliseconds();
    ASSERT_GE(next, last);
    last = next;
  }
}

}  // namespace
