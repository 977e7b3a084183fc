#include "common/textnames.h"

#include <set>
#include <string>

#include <gtest/gtest.h>

namespace tarvo {
namespace {

TEST(PLUFieldNameTest, TableOrderAndBounds) {
  EXPECT_EQ("Number", PLUFieldName(kFieldNumber));
  EXPECT_EQ("BarCodeType", PLUFieldName(kFieldBarCodeType));
  EXPECT_EQ("ShlefTime", PLUFieldName(kFieldShelfTime));
  EXPECT_EQ("Tolerance", PLUFieldName(kFieldTolerance));
  EXPECT_EQ("MessageString1", PLUFieldName(kFieldMessageString1));
  EXPECT_EQ("MessageString16", PLUFieldName(kFieldMessageString1 + 15));
  EXPECT_EQ(31, kFieldMessageString1 + 15);
  EXPECT_EQ("", PLUFieldName(-1));
  EXPECT_EQ("", PLUFieldName(kPLUFieldCount));
}

TEST(PLUFieldNameTest, NamesAreDistinctAndRoundTrip) {
  std::set<std::string> seen;
  for (int i = 0; i < kPLUFieldCount; ++i) {
    const std::string& name = PLUFieldName(i);
    ASSERT_FALSE(name.empty()) << i;
    EXPECT_TRUE(seen.insert(name).second) << name;
    EXPECT_EQ(i, PLUFieldIndex(name)) << name;
  }
}

TEST(PLUFieldIndexTest, ExactCaseSensitiveMatch) {
  EXPECT_EQ(0, PLUFieldIndex("Number"));
  EXPECT_EQ(-1, PLUFieldIndex("number"));
  EXPECT_EQ(-1, PLUFieldIndex("NUMBER"));
  EXPECT_EQ(-1, PLUFieldIndex("ShelfTime"));
  EXPECT_EQ(-1, PLUFieldIndex("MessageString"));
  EXPECT_EQ(-1, PLUFieldIndex("MessageString17"));
  EXPECT_EQ(-1, PLUFieldIndex("Number "));
  EXPECT_EQ(-1, PLUFieldIndex(""));
}

TEST(WeightUnitLabelTest, CodesAndBounds) {
  EXPECT_EQ("50 g", WeightUnitLabel(0));
  EXPECT_EQ("Pb", WeightUnitLabel(6));
  EXPECT_EQ("pcs g", WeightUnitLabel(9));
  EXPECT_EQ("pcs lb", WeightUnitLabel(kWeightUnitCount - 1));
  EXPECT_EQ("", WeightUnitLabel(-1));
  EXPECT_EQ("", WeightUnitLabel(kWeightUnitCount));
}

}  // namespace
}  // namespace tarvo
