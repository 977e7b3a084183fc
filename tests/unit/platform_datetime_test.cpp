#include "platform/datetime.h"

#include <gtest/gtest.h>

#include "platform/system_formats.h"

namespace tarvo {
namespace {

DateTime Make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return DateTime::FromParts({y, mo, d, h, mi, s, ms});
}

void ExpectParts(const DateTime& dt, int y, int mo, int d, int h, int mi, int s, int ms) {
  const DateTimeParts p = dt.Parts();
  EXPECT_EQ(p.year, y);
  EXPECT_EQ(p.month, mo);
  EXPECT_EQ(p.day, d);
  EXPECT_EQ(p.hour, h);
  EXPECT_EQ(p.minute, mi);
  EXPECT_EQ(p.second, s);
  EXPECT_EQ(p.millisecond, ms);
}

class DateTimeTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSystemFormats(SystemFormats()); }
  void TearDown() override { SetSystemFormats(SystemFormats()); }
};

TEST_F(DateTimeTest, DaysFollowTheAutomationEpoch) {
  EXPECT_EQ(Make(1899, 12, 30).Days(), 0.0);
  EXPECT_EQ(Make(1899, 12, 31).Days(), 1.0);
  EXPECT_EQ(Make(1900, 1, 1).Days(), 2.0);
  EXPECT_EQ(Make(2000, 1, 1).Days(), 36526.0);
  EXPECT_EQ(Make(2026, 12, 7, 12).Days(), 46363.5);
  EXPECT_TRUE(DateTime().IsZero());
  ExpectParts(DateTime(), 1899, 12, 30, 0, 0, 0, 0);
}

TEST_F(DateTimeTest, BeforeTheEpochTheFractionIsStillTheTimeOfDay) {
  // -1.25 is 29.12.1899 06:00, not 28.12.1899 18:00.
  EXPECT_EQ(Make(1899, 12, 29, 6).Days(), -1.25);
  ExpectParts(DateTime(-1.25), 1899, 12, 29, 6, 0, 0, 0);
  ExpectParts(Make(1800, 3, 1, 23, 59, 59, 999), 1800, 3, 1, 23, 59, 59, 999);
}

TEST_F(DateTimeTest, PartsRoundTripToTheMillisecond) {
  const DateTimeParts samples[] = {
      {2026, 12, 7, 14, 5, 9, 1},      {2024, 2, 29, 23, 59, 59, 999}, {1, 1, 1, 0, 0, 0, 0},
      {9999, 12, 31, 23, 59, 59, 999}, {1999, 12, 31, 0, 0, 0, 1},     {2000, 2, 29, 12, 0, 0, 500},
  };
  for (const DateTimeParts& in : samples) {
    const DateTime dt = DateTime::FromParts(in);
    ExpectParts(dt, in.year, in.month, in.day, in.hour, in.minute, in.second, in.millisecond);
  }
  // Every millisecond of a second near a large day count decodes exactly.
  for (int ms = 0; ms < 1000; ++ms) {
    const DateTime dt = Make(2038, 1, 19, 3, 14, 7, ms);
    ASSERT_EQ(dt.Parts().millisecond, ms);
    ASSERT_EQ(dt.Parts().second, 7);
  }
}

TEST_F(DateTimeTest, DecodingRoundsToTheNearestMillisecond) {
  const double oneMs = 1.0 / 86400000.0;
  const double base = Make(2026, 5, 1, 10, 0, 0, 0).Days();
  ExpectParts(DateTime(base + 4.6 * oneMs), 2026, 5, 1, 10, 0, 0, 5);
  ExpectParts(DateTime(base + 4.4 * oneMs), 2026, 5, 1, 10, 0, 0, 4);
  // Just short of midnight rounds up into the next day.
  const double midnight = Make(2026, 5, 2).Days();
  ExpectParts(DateTime(midnight - 0.2 * oneMs), 2026, 5, 2, 0, 0, 0, 0);
}

TEST_F(DateTimeTest, ImpossibleDatesAndTimesAreRefused) {
  const DateTimeParts bad[] = {
      {2023, 2, 29},
      {2100, 2, 29},
      {2026, 4, 31},
      {2026, 13, 1},
      {2026, 0, 1},
      {0, 1, 1},
      {10000, 1, 1},
      {2026, 1, 0},
      {2026, 1, 1, 24, 0, 0, 0},
      {2026, 1, 1, 0, 60, 0, 0},
      {2026, 1, 1, 0, 0, 60, 0},
      {2026, 1, 1, 0, 0, 0, 1000},
      {2026, 1, 1, -1, 0, 0, 0},
  };
  const DateTime unchanged = Make(2026, 1, 1);
  for (const DateTimeParts& p : bad) {
    DateTime dt = unchanged;
    EXPECT_FALSE(DateTime::TryFromParts(p, &dt))
        << p.year << "-" << p.month << "-" << p.day << " " << p.hour << ":" << p.minute << ":"
        << p.second << "." << p.millisecond;
    EXPECT_EQ(dt, unchanged);
    EXPECT_TRUE(DateTime::FromParts(p).IsZero());
  }
  DateTime dt;
  EXPECT_TRUE(DateTime::TryFromParts({2000, 2, 29}, &dt));
  ExpectParts(dt, 2000, 2, 29, 0, 0, 0, 0);
  EXPECT_TRUE(DateTime::TryFromParts({2024, 2, 29, 23, 59, 59, 999}, &dt));
  ExpectParts(dt, 2024, 2, 29, 23, 59, 59, 999);
}

TEST_F(DateTimeTest, AddMillisCrossesDaysMonthsAndTheEpoch) {
  ExpectParts(Make(2026, 12, 31, 23, 59, 59, 999).AddMillis(1), 2027, 1, 1, 0, 0, 0, 0);
  ExpectParts(Make(2024, 3, 1).AddMillis(-1), 2024, 2, 29, 23, 59, 59, 999);
  ExpectParts(Make(2026, 1, 1).AddMillis(600000), 2026, 1, 1, 0, 10, 0, 0);
  ExpectParts(DateTime().AddMillis(-1), 1899, 12, 29, 23, 59, 59, 999);
  ExpectParts(DateTime(-0.75).AddMillis(86400000LL * 2), 1900, 1, 1, 18, 0, 0, 0);
  EXPECT_EQ(Make(2026, 6, 1).AddMillis(5 * 86400000LL), Make(2026, 6, 6));
}

TEST_F(DateTimeTest, FormatsThePatternsTheSystemUses) {
  const DateTime dt = Make(2026, 12, 7, 14, 5, 9, 42);
  EXPECT_EQ(FormatDateTime("dd.mm.yyyy hh:nn:ss", dt), "07.12.2026 14:05:09");
  EXPECT_EQ(FormatDateTime("dd-mm-yyyy", dt), "07-12-2026");
  EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", dt), "14:05:09.042");
  EXPECT_EQ(FormatDateTime("[hh:nn:ss.zzz]", dt), "[14:05:09.042]");
  EXPECT_EQ(FormatDateTime("dd.mm.yyyy,hh:nn:ss,", dt), "07.12.2026,14:05:09,");
  EXPECT_EQ(FormatDateTime("yy", dt), "26");
  EXPECT_EQ(FormatDateTime("YYYY-MM-DD HH:NN", dt), "2026-12-07 14:05");
  // "mm" is the month wherever it stands; minutes are "nn".
  EXPECT_EQ(FormatDateTime("hh:mm", dt), "14:12");
  EXPECT_EQ(FormatDateTime("", dt), "");
  EXPECT_EQ(FormatDateTime("IP=x", dt), "IP=x");
}

TEST_F(DateTimeTest, FormatUsesTheSystemSeparators) {
  SystemFormats formats;
  formats.TimeSeparator = '-';
  formats.DateSeparator = '/';
  SetSystemFormats(formats);
  const DateTime dt = Make(2026, 1, 2, 3, 4, 5, 6);
  EXPECT_EQ(FormatDateTime("hh:nn:ss", dt), "03-04-05");
  // "." is a literal; "/" is the date separator.
  EXPECT_EQ(FormatDateTime("dd.mm.yyyy", dt), "02.01.2026");
  formats.DateSeparator = '.';
  SetSystemFormats(formats);
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy", dt), "02.01.2026");
}

}  // namespace
}  // namespace tarvo
