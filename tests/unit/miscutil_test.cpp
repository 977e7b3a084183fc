#include "common/miscutil.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/system_formats.h"

namespace tarvo {
namespace {

TEST(ParseIPAddressTest, ValidAddresses) {
  EXPECT_EQ(0x0A000005u, ParseIPAddress("10.0.0.5"));
  EXPECT_EQ(0x0A000005u, ParseIPAddress(" 10.0.0.5 "));
  EXPECT_EQ(0x0A000005u, ParseIPAddress("\t10.0.0.5\r\n"));
  EXPECT_EQ(0xC0A8014Du, ParseIPAddress("192.168.1.77"));
  EXPECT_EQ(0xFFFFFFFFu, ParseIPAddress("255.255.255.255"));
  EXPECT_EQ(0x0A000005u, ParseIPAddress("010.000.0.05"));  // decimal, not octal
  EXPECT_EQ(0x01000001u, ParseIPAddress("1.0.0.1"));
}

TEST(ParseIPAddressTest, TextAfterTheFourthPartIsIgnored) {
  EXPECT_EQ(ParseIPAddress("10.1.1.5"), ParseIPAddress("10.1.1.5.7"));
  EXPECT_EQ(ParseIPAddress("10.1.1.5"), ParseIPAddress("10.1.1.5.x"));
  EXPECT_EQ(ParseIPAddress("10.1.1.5"), ParseIPAddress("10.1.1.5."));
}

TEST(ParseIPAddressTest, InvalidAddressesGiveZero) {
  const char* const invalid[] = {
      "0.1.2.3",
      "10.0.0.0",
      "10..0.1",
      "256.1.1.1",
      "",
      "   ",
      "10.1.1",
      "10.1.1.",
      ".10.1.1.5",
      "10.1.256.5",
      "a.b.c.d",
      "10.1.1.5x",
      "-1.2.3.4",
      "+1.2.3.4",
      "10.-1.1.5",
      "1 0.1.1.5",
      "10. 1.1.5",
      "0x0A.1.1.5",
      "99999999999999999999.1.1.1",
      "10.1.1.0.5",
  };
  for (const char* text : invalid) {
    EXPECT_EQ(0u, ParseIPAddress(text)) << "\"" << text << "\"";
  }
}

TEST(GetIPOctetTest, PartsByIndex) {
  EXPECT_EQ(192, GetIPOctet("192.168.1.77", 0));
  EXPECT_EQ(168, GetIPOctet("192.168.1.77", 1));
  EXPECT_EQ(1, GetIPOctet("192.168.1.77", 2));
  EXPECT_EQ(77, GetIPOctet("192.168.1.77", 3));
  EXPECT_EQ(0, GetIPOctet("192.168.1.77", 4));
  EXPECT_EQ(0, GetIPOctet("192.168.1.77", -1));
  EXPECT_EQ(0, GetIPOctet("192.168.1.0", 0));
  EXPECT_EQ(0, GetIPOctet("garbage", 3));
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

TEST(BytesToHexTest, UpperCaseTwoDigitsEach) {
  EXPECT_EQ("000000000000", BytesToHex({0, 0, 0, 0, 0, 0}));
  EXPECT_EQ("001AFF8009C3", BytesToHex({0x00, 0x1A, 0xFF, 0x80, 0x09, 0xC3}));
}

TEST(MapBarCodeFieldTypeTest, WholeTable) {
  const int32_t expected[] = {0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0};
  for (int32_t n = 0; n <= 11; ++n) {
    EXPECT_EQ(expected[n], MapBarCodeFieldType(n)) << n;
  }
  EXPECT_EQ(0, MapBarCodeFieldType(-1));
  EXPECT_EQ(0, MapBarCodeFieldType(INT32_MAX));
}

TEST(LocalNamesTest, WithinTheirLimits) {
  const std::string user = GetLocalUserName();
  EXPECT_FALSE(user.empty());
  EXPECT_LE(user.size(), 159u);
  const std::string computer = GetLocalComputerName();
  EXPECT_FALSE(computer.empty());
  EXPECT_LE(computer.size(), 15u);
}

}  // namespace
}  // namespace tarvo
