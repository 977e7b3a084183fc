#include "platform/system_formats.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/locale_formats.h"

namespace tarvo {
namespace {

class SystemFormatsTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }

  static void Reset() {
    ::unsetenv("TARVO_DECIMAL_SEPARATOR");
    ::unsetenv("TARVO_SHORT_DATE_FORMAT");
    ::unsetenv("TARVO_TIME_SEPARATOR");
    SetSystemFormats(SystemFormats());
  }

  static void UseDecimalSeparator(char c) {
    SystemFormats formats;
    formats.DecimalSeparator = c;
    SetSystemFormats(formats);
  }

  static bool Parses(const std::string& text, double expected) {
    double value = -12345.0;
    return TryStrToFloat(text, &value) && value == expected;
  }

  static bool Refuses(const std::string& text) {
    double value = -12345.0;
    return !TryStrToFloat(text, &value) && value == -12345.0;
  }
};

TEST_F(SystemFormatsTest, Defaults) {
  const SystemFormats& f = GetSystemFormats();
  EXPECT_EQ(f.DecimalSeparator, '.');
  EXPECT_EQ(f.ShortDateFormat, "dd.mm.yyyy");
  EXPECT_EQ(f.DateSeparator, '.');
  EXPECT_EQ(f.TimeSeparator, ':');
  EXPECT_EQ(f.LongTimeFormat, "hh:nn:ss");
}

TEST_F(SystemFormatsTest, NumbersWithThePoint) {
  EXPECT_TRUE(Parses("12.5", 12.5));
  EXPECT_TRUE(Parses("-0.25", -0.25));
  EXPECT_TRUE(Parses("+3", 3.0));
  EXPECT_TRUE(Parses("7.", 7.0));
  EXPECT_TRUE(Parses(".5", 0.5));
  EXPECT_TRUE(Parses("1e3", 1000.0));
  EXPECT_TRUE(Parses("2.5E-1", 0.25));
  for (const char* bad :
       {"12,5", "", " 1", "1 ", "abc", "1.2.3", ".", "-", "1e", "inf", "nan", "0x10", "1e999"}) {
    EXPECT_TRUE(Refuses(bad)) << bad;
  }
  EXPECT_EQ(FloatToStr(12.5), "12.5");
  EXPECT_EQ(FloatToStr(100.0), "100");
  EXPECT_EQ(FloatToStr(-0.001), "-0.001");
  EXPECT_EQ(FloatToStr(0.1 + 0.2), "0.3");
  EXPECT_EQ(FloatToStr(123456789012345678.0), "1.23456789012346E17");
}

TEST_F(SystemFormatsTest, NumbersWithTheComma) {
  UseDecimalSeparator(',');
  EXPECT_TRUE(Parses("12,5", 12.5));
  EXPECT_TRUE(Parses("-0,25", -0.25));
  EXPECT_TRUE(Parses("3", 3.0));
  EXPECT_TRUE(Refuses("12.5"));
  EXPECT_TRUE(Refuses("1,2,3"));
  EXPECT_EQ(FloatToStr(12.5), "12,5");
  EXPECT_EQ(FloatToStr(7.0), "7");
  EXPECT_EQ(FloatToStr(1.5e-7), "1,5E-7");
}

TEST_F(SystemFormatsTest, FloatToStrReadsBack) {
  for (char sep : {'.', ','}) {
    UseDecimalSeparator(sep);
    for (double v : {0.0, 1.0, -1.5, 3.14159265358979, 1e-10, 9.99e14, 123.456, 1e300}) {
      double back = 0.0;
      ASSERT_TRUE(TryStrToFloat(FloatToStr(v), &back)) << FloatToStr(v);
      EXPECT_EQ(back, v) << FloatToStr(v);
    }
  }
}

TEST_F(SystemFormatsTest, DatesByTheShortDateFormat) {
  DateTime dt;
  ASSERT_TRUE(TryStrToDate("07.12.2026", &dt));
  EXPECT_EQ(dt, DateTime::FromParts({2026, 12, 7}));
  ASSERT_TRUE(TryStrToDate("7.1.2026", &dt));
  EXPECT_EQ(dt, DateTime::FromParts({2026, 1, 7}));
  ASSERT_TRUE(TryStrToDate("01.02.26", &dt));
  EXPECT_EQ(dt, DateTime::FromParts({2026, 2, 1}));
  ASSERT_TRUE(TryStrToDate("01.02.75", &dt));
  EXPECT_EQ(dt, DateTime::FromParts({1975, 2, 1}));
  ASSERT_TRUE(TryStrToDate(" 29.02.2024 ", &dt));
  EXPECT_EQ(dt, DateTime::FromParts({2024, 2, 29}));
  const DateTime before = dt;
  for (const char* bad :
       {"29.02.2023", "32.01.2026", "01.13.2026", "2026-12-07", "07.12", "07.12.2026.1",
        "07.12.2026 10:00", "aa.bb.cccc", "", "07..2026", "07.12.20266"}) {
    EXPECT_FALSE(TryStrToDate(bad, &dt)) << bad;
    EXPECT_EQ(dt, before);
  }
  EXPECT_EQ(DateToStr(DateTime::FromParts({2026, 3, 4, 5, 6, 7})), "04.03.2026");
  EXPECT_EQ(TimeToStr(DateTime::FromParts({2026, 3, 4, 5, 6, 7})), "05:06:07");
}

TEST_F(SystemFormatsTest, DatesInAnotherOrder) {
  SystemFormats formats;
  formats.ShortDateFormat = "yyyy-mm-dd";
  formats.DateSeparator = '-';
  SetSystemFormats(formats);
  DateTime dt;
  ASSERT_TRUE(TryStrToDate("2026-12-07", &dt));
  EXPECT_EQ(dt, DateTime::FromParts({2026, 12, 7}));
  EXPECT_FALSE(TryStrToDate("07.12.2026", &dt));
  EXPECT_EQ(DateToStr(dt), "2026-12-07");
}

TEST_F(SystemFormatsTest, LoadsTheShopConventionsFromTheEnvironment) {
  ::setenv("TARVO_DECIMAL_SEPARATOR", ",", 1);
  ::setenv("TARVO_SHORT_DATE_FORMAT", "mm/dd/yyyy", 1);
  ::setenv("TARVO_TIME_SEPARATOR", ".", 1);
  LoadSystemFormatsFromEnvironment();
  const SystemFormats& f = GetSystemFormats();
  EXPECT_EQ(f.DecimalSeparator, ',');
  EXPECT_EQ(f.ShortDateFormat, "mm/dd/yyyy");
  EXPECT_EQ(f.DateSeparator, '/');
  EXPECT_EQ(f.TimeSeparator, '.');
  const DateTime dt = DateTime::FromParts({2026, 12, 7, 14, 5, 9});
  EXPECT_EQ(DateToStr(dt), "12/07/2026");
  EXPECT_EQ(TimeToStr(dt), "14.05.09");
  DateTime parsed;
  ASSERT_TRUE(TryStrToDate("12/07/2026", &parsed));
  EXPECT_EQ(parsed, DateTime::FromParts({2026, 12, 7}));
  EXPECT_TRUE(Parses("0,5", 0.5));
}

// The defaults here are the system's own conventions: the program's
// defaults, or on Windows the user's regional settings.
TEST_F(SystemFormatsTest, UnusableEnvironmentValuesKeepTheDefaults) {
  const SystemFormats system = internal::SystemLocaleFormats();
  ::setenv("TARVO_DECIMAL_SEPARATOR", ",,", 1);
  ::setenv("TARVO_SHORT_DATE_FORMAT", "dd.mm", 1);
  ::setenv("TARVO_TIME_SEPARATOR", "5", 1);
  LoadSystemFormatsFromEnvironment();
  EXPECT_EQ(GetSystemFormats().DecimalSeparator, system.DecimalSeparator);
  EXPECT_EQ(GetSystemFormats().ShortDateFormat, system.ShortDateFormat);
  EXPECT_EQ(GetSystemFormats().TimeSeparator, system.TimeSeparator);
  for (const char* bad : {"dd.mm.yyyy.dd", "dd.mm-yyyy", "ddmmyyyy", "", "dd mm yyyy", "x"}) {
    ::setenv("TARVO_SHORT_DATE_FORMAT", bad, 1);
    ::setenv("TARVO_DECIMAL_SEPARATOR", "-", 1);
    LoadSystemFormatsFromEnvironment();
    EXPECT_EQ(GetSystemFormats().ShortDateFormat, system.ShortDateFormat) << bad;
    EXPECT_EQ(GetSystemFormats().DecimalSeparator, system.DecimalSeparator);
  }
}

}  // namespace
}  // namespace tarvo
