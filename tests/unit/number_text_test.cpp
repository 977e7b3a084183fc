#include "common/number_text.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "platform/system_formats.h"

namespace tarvo {
namespace {

TEST(TryStrToIntTest, LeadingBlanksAreAcceptedTrailingBlanksFail) {
  int32_t v = 7;
  EXPECT_TRUE(TryStrToInt("  42", &v));
  EXPECT_EQ(v, 42);
  EXPECT_FALSE(TryStrToInt("42 ", &v));
  EXPECT_EQ(v, 42);
  EXPECT_TRUE(TryStrToInt("-17", &v));
  EXPECT_EQ(v, -17);
  EXPECT_TRUE(TryStrToInt("+5", &v));
  EXPECT_EQ(v, 5);
}

TEST(TryStrToIntTest, RejectsNonNumbersAndValuesOutsideInt32) {
  int32_t v = 9;
  for (const char* text : {"", " ", "-", "+", "1.5", "12a", "0x10", "2147483648", "-2147483649",
                           "99999999999999999999"}) {
    EXPECT_FALSE(TryStrToInt(text, &v)) << text;
  }
  EXPECT_EQ(v, 9);
  EXPECT_TRUE(TryStrToInt("2147483647", &v));
  EXPECT_EQ(v, 2147483647);
  EXPECT_TRUE(TryStrToInt("-2147483648", &v));
  EXPECT_EQ(v, INT32_MIN);
}

class StrToFloatDef2Test : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = GetSystemFormats(); }
  void TearDown() override { SetSystemFormats(saved_); }

  void UseDecimalSeparator(char separator) {
    SystemFormats formats = saved_;
    formats.DecimalSeparator = separator;
    SetSystemFormats(formats);
  }

 private:
  SystemFormats saved_;
};

TEST_F(StrToFloatDef2Test, CommaSystemReadsBothForms) {
  UseDecimalSeparator(',');
  EXPECT_DOUBLE_EQ(12.5, StrToFloatDef2("12.5", -1));
  EXPECT_DOUBLE_EQ(12.5, StrToFloatDef2("12,5", -1));
  EXPECT_DOUBLE_EQ(-0.25, StrToFloatDef2("-0.25", -1));
  EXPECT_DOUBLE_EQ(7, StrToFloatDef2("7", -1));
  EXPECT_DOUBLE_EQ(-1, StrToFloatDef2("abc", -1));
  EXPECT_DOUBLE_EQ(-1, StrToFloatDef2("", -1));
  EXPECT_DOUBLE_EQ(-1, StrToFloatDef2("1.2.3", -1));
  EXPECT_DOUBLE_EQ(-1, StrToFloatDef2("1.2,3", -1));
}

TEST_F(StrToFloatDef2Test, DotSystemReadsOnlyTheDot) {
  UseDecimalSeparator('.');
  EXPECT_DOUBLE_EQ(12.5, StrToFloatDef2("12.5", -1));
  EXPECT_DOUBLE_EQ(3, StrToFloatDef2("3", -1));
  // The retry turns dots into commas, which a dot system does not read.
  EXPECT_DOUBLE_EQ(-1, StrToFloatDef2("12,5", -1));
  EXPECT_DOUBLE_EQ(4.5, StrToFloatDef2("abc", 4.5));
  EXPECT_DOUBLE_EQ(4.5, StrToFloatDef2(" 12.5", 4.5));
}

TEST(VariantEqualsIntTest, ComparesAfterConversion) {
  EXPECT_TRUE(VariantEqualsInt(Variant(int32_t{0}), 0));
  EXPECT_TRUE(VariantEqualsInt(Variant(int32_t{-7}), -7));
  EXPECT_FALSE(VariantEqualsInt(Variant(int32_t{1}), 0));
  EXPECT_TRUE(VariantEqualsInt(Variant(3.0), 3));
  EXPECT_FALSE(VariantEqualsInt(Variant(3.5), 3));
  EXPECT_FALSE(VariantEqualsInt(Variant(3.5), 4));
  EXPECT_TRUE(VariantEqualsInt(Variant("12"), 12));
  EXPECT_FALSE(VariantEqualsInt(Variant("12"), 13));
  EXPECT_FALSE(VariantEqualsInt(Variant("twelve"), 12));
  EXPECT_FALSE(VariantEqualsInt(Variant("twelve"), 0));
  // Automation reads an empty value as 0 and true as -1.
  EXPECT_TRUE(VariantEqualsInt(Variant(), 0));
  EXPECT_FALSE(VariantEqualsInt(Variant(), 1));
  EXPECT_TRUE(VariantEqualsInt(Variant(true), -1));
  EXPECT_TRUE(VariantEqualsInt(Variant(false), 0));
}

}  // namespace
}  // namespace tarvo
