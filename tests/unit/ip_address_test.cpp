#include "common/ip_address.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tarvo
