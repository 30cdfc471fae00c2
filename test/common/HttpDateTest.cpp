#include "common/HttpDate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <memory>

#include "support/TestSupport.h"

using testsupport::TScopedZone;

namespace {

long long Ms(TDateTime value) { return std::llround(value * MSecsPerDay); }

// The header text of a local time, converted to GMT.
std::string Gmt(int year, int month, int day, int hour, int min, int sec) {
  return HttpDateText(EncodeDateTime(year, month, day, hour, min, sec), true);
}

TEST(HttpDate, WritesTheDayWithoutLeadingZeroAndConvertsWithTheBiasOfTheDate) {
  const TDateTime december = EncodeDateTime(2026, 12, 8, 14, 3, 43, 999);
  const TDateTime july = EncodeDateTime(2026, 7, 1, 12, 0, 0);
  EXPECT_EQ(HttpDateText(december, false), "Tue, 8 Dec 2026 14:03:43 GMT");
  EXPECT_EQ(HttpDateText(EncodeDateTime(2026, 11, 29, 9, 5, 1), false),
            "Sun, 29 Nov 2026 09:05:01 GMT");
  {
    TScopedZone zone("Europe/Berlin");
    EXPECT_EQ(HttpDateText(december, true), "Tue, 8 Dec 2026 13:03:43 GMT");
    EXPECT_EQ(HttpDateText(july, true), "Wed, 1 Jul 2026 10:00:00 GMT");
    EXPECT_EQ(Gmt(2027, 1, 1, 0, 30, 0), "Thu, 31 Dec 2026 23:30:00 GMT");
    // Both sides of each change.
    EXPECT_EQ(Gmt(2026, 3, 29, 1, 59, 59), "Sun, 29 Mar 2026 00:59:59 GMT");
    EXPECT_EQ(Gmt(2026, 3, 29, 3, 0, 0), "Sun, 29 Mar 2026 01:00:00 GMT");
    EXPECT_EQ(Gmt(2026, 10, 25, 1, 59, 59), "Sat, 24 Oct 2026 23:59:59 GMT");
    EXPECT_EQ(Gmt(2026, 10, 25, 3, 0, 0), "Sun, 25 Oct 2026 02:00:00 GMT");
  }
  {
    TScopedZone zone("America/New_York");
    EXPECT_EQ(HttpDateText(december, true), "Tue, 8 Dec 2026 19:03:43 GMT");
    EXPECT_EQ(HttpDateText(july, true), "Wed, 1 Jul 2026 16:00:00 GMT");
    EXPECT_EQ(Gmt(2026, 3, 8, 1, 59, 59), "Sun, 8 Mar 2026 06:59:59 GMT");
    EXPECT_EQ(Gmt(2026, 3, 8, 3, 0, 0), "Sun, 8 Mar 2026 07:00:00 GMT");
    EXPECT_EQ(Gmt(2026, 11, 1, 0, 59, 59), "Sun, 1 Nov 2026 04:59:59 GMT");
    EXPECT_EQ(Gmt(2026, 11, 1, 2, 0, 0), "Sun, 1 Nov 2026 07:00:00 GMT");
  }
  TScopedZone zone("UTC");
  EXPECT_EQ(Gmt(2024, 2, 29, 23, 59, 59), "Thu, 29 Feb 2024 23:59:59 GMT");
}

TEST(HttpDate, ReadsGmtIntoLocalTimeWithTheOffsetOfTheDate) {
  {
    TScopedZone zone("Europe/Berlin");
    EXPECT_EQ(ParseHttpDate("Tue, 8 Dec 2026 13:03:43 GMT"),
              EncodeDateTime(2026, 12, 8, 14, 3, 43));
    EXPECT_EQ(ParseHttpDate("Wed, 1 Jul 2026 10:00:00 GMT"), EncodeDateTime(2026, 7, 1, 12, 0, 0));
    EXPECT_EQ(ParseHttpDate("Sun, 29 Mar 2026 00:59:59 GMT"),
              EncodeDateTime(2026, 3, 29, 1, 59, 59));
    EXPECT_EQ(ParseHttpDate("Sun, 29 Mar 2026 01:00:00 GMT"), EncodeDateTime(2026, 3, 29, 3, 0, 0));
    // The hour that shows twice in autumn: once in summer time, once in winter time.
    EXPECT_EQ(ParseHttpDate("Sun, 25 Oct 2026 00:30:00 GMT"),
              EncodeDateTime(2026, 10, 25, 2, 30, 0));
    EXPECT_EQ(ParseHttpDate("Sun, 25 Oct 2026 01:30:00 GMT"),
              EncodeDateTime(2026, 10, 25, 2, 30, 0));
    EXPECT_EQ(ParseHttpDate("Thu, 31 Dec 2026 23:30:00 GMT"), EncodeDateTime(2027, 1, 1, 0, 30, 0));
  }
  {
    TScopedZone zone("America/New_York");
    EXPECT_EQ(ParseHttpDate("Tue, 8 Dec 2026 19:03:43 GMT"),
              EncodeDateTime(2026, 12, 8, 14, 3, 43));
    EXPECT_EQ(ParseHttpDate("Wed, 1 Jul 2026 16:00:00 GMT"), EncodeDateTime(2026, 7, 1, 12, 0, 0));
    EXPECT_EQ(ParseHttpDate("Sun, 1 Nov 2026 05:30:00 GMT"), EncodeDateTime(2026, 11, 1, 1, 30, 0));
    EXPECT_EQ(ParseHttpDate("Sun, 1 Nov 2026 06:30:00 GMT"), EncodeDateTime(2026, 11, 1, 1, 30, 0));
    // Any other zone, or none, is already local time.
    EXPECT_EQ(ParseHttpDate("Tue, 8 Dec 2026 14:03:43 EST"),
              EncodeDateTime(2026, 12, 8, 14, 3, 43));
    EXPECT_EQ(ParseHttpDate("Tue, 8 Dec 2026 14:03:43 +0100"),
              EncodeDateTime(2026, 12, 8, 14, 3, 43));
    EXPECT_EQ(ParseHttpDate("Tue, 8 Dec 2026 14:03:43"), EncodeDateTime(2026, 12, 8, 14, 3, 43));
  }
  TScopedZone zone("UTC");
  // Letter case, padding, blank runs and a leading zero on the day do not matter; the
  // day name need not match the date.
  const TDateTime expected = EncodeDateTime(2026, 12, 8, 14, 3, 43);
  EXPECT_EQ(ParseHttpDate("  TUE, 08 DEC 2026 14:03:43 gmt\r\n"), expected);
  EXPECT_EQ(ParseHttpDate("tue, 8  dec   2026 14:3:43 Gmt"), expected);
  EXPECT_EQ(ParseHttpDate("Sun, 8 Dec 2026 14:03:43 GMT"), expected);
  EXPECT_EQ(ParseHttpDate("Mon, 1 Jan 1900 00:00:00 GMT"), EncodeDate(1900, 1, 1));
  EXPECT_EQ(ParseHttpDate("Thu, 29 Feb 2024 12:00:00 GMT"), EncodeDateTime(2024, 2, 29, 12, 0, 0));
  EXPECT_EQ(ParseHttpDate("Tue, 29 Feb 2000 12:00:00 GMT"), EncodeDateTime(2000, 2, 29, 12, 0, 0));
  EXPECT_EQ(ParseHttpDate("Fri, 31 Dec 9999 23:59:59 GMT"),
            EncodeDateTime(9999, 12, 31, 23, 59, 59));
}

TEST(HttpDate, RejectsWhatItCannotRead) {
  TScopedZone zone("Europe/Berlin");
  const char* const bad[] = {
      "",
      "   ",
      "Tue,",
      "Tue, ",
      "8 Dec 2026 14:03:43 GMT",  // no day name
      "Tuesday, 8 Dec 2026 14:03:43 GMT",
      "Tue,8 Dec 2026 14:03:43 GMT",  // no blank after the comma
      "Xyz, 8 Dec 2026 14:03:43 GMT",
      "Tue, 8 Dec 2026",
      "Tue, 8 Dec 2026 GMT",
      "Tue, 31 Feb 2026 14:03:43 GMT",
      "Sun, 29 Feb 2026 14:03:43 GMT",
      "Thu, 29 Feb 1900 14:03:43 GMT",
      "Sun, 31 Dec 1899 23:59:59 GMT",
      "Tue, 8 Dec 26 14:03:43 GMT",
      "Tue, 8 Dec 10000 14:03:43 GMT",
      "Tue, 0 Dec 2026 14:03:43 GMT",
      "Tue, 32 Dec 2026 14:03:43 GMT",
      "Tue, 8 Foo 2026 14:03:43 GMT",
      "Tue, 8 December 2026 14:03:43 GMT",
      "Tue, 8 12 2026 14:03:43 GMT",
      "Tue, 8 Dec 2026 24:00:00 GMT",
      "Tue, 8 Dec 2026 14:60:00 GMT",
      "Tue, 8 Dec 2026 14:03:60 GMT",
      "Tue, 8 Dec 2026 14:03:61 GMT",
      "Tue, 8 Dec 2026 14:03 GMT",
      "Tue, 8 Dec 2026 14:03:43:00 GMT",
      "Tue, 8 Dec 2026 14::43 GMT",
      "Tue, 8 Dec 2026 14:03:4x GMT",
      "Tue, 8 Dec 2026 -1:03:43 GMT",
      "Tue, +8 Dec 2026 14:03:43 GMT",
      "Tue, 99999999999999999999 Dec 2026 14:03:43 GMT",
      "Tue, 8 Dec 4294969322 14:03:43 GMT",  // a year that wraps to 2026 in 32 bits
      "Tue, 8 Dec 2026 4294967310:03:43 GMT",
  };
  for (const char* text : bad) EXPECT_EQ(ParseHttpDate(text), -1) << '"' << text << '"';
  EXPECT_EQ(ParseHttpDate(std::string_view("Tue, 8 Dec 2026 14:03:43 GMT\0", 30)),
            EncodeDateTime(2026, 12, 8, 15, 3, 43))
      << "trailing control characters are trimmed";
}

TEST(HttpDate, ReadsBackWhatItWroteInEverySeasonAndZone) {
  for (const char* name :
       {"Europe/Berlin", "America/New_York", "Australia/Sydney", "Asia/Kolkata", "UTC"}) {
    TScopedZone zone(name);
    int checked = 0;
    for (int year : {2024, 2026}) {
      for (TDateTime day = EncodeDate(year, 1, 1); day <= EncodeDate(year, 12, 31); day += 1) {
        for (int second : {0, 3599, 5400, 9000, 10799, 43200, 86399}) {
          const TDateTime local = day + second / SecsPerDay;
          const TDateTime back = ParseHttpDate(HttpDateText(local, true));
          // A time the spring change skips comes back as the time the clocks show.
          if (Ms(back) == Ms(local) + 3600000 &&
              Ms(UniversalToLocal(LocalToUniversal(local))) == Ms(back))
            continue;
          ASSERT_EQ(Ms(back), Ms(local)) << name << " " << HttpDateText(local, false);
          ++checked;
        }
      }
    }
    EXPECT_GT(checked, 5000);
  }
}

}  // namespace
