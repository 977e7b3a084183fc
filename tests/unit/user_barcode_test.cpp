#include "query/user_barcode.h"

#include <gtest/gtest.h>

namespace tarvo {
namespace {

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

}  // namespace
}  // namespace tarvo
