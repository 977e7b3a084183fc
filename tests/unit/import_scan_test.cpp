#include "service/import_scan.h"

#include <gtest/gtest.h>

namespace tarvo {
namespace {

TEST(ImportKindsTest, ExtensionsMapToCommandNumbers) {
  EXPECT_EQ(ImportCommandNumber("scale.ini"), 0);
  EXPECT_EQ(ImportCommandNumber("STORE.PLU"), 1);
  EXPECT_EQ(ImportCommandNumber("goods.txt"), 1);
  EXPECT_EQ(ImportCommandNumber("goods.TxU"), 2);
  EXPECT_EQ(ImportCommandNumber("l.scr"), 3);
  EXPECT_EQ(ImportCommandNumber("k.key"), 4);
  EXPECT_EQ(ImportCommandNumber("8x16.fnt"), 5);
  EXPECT_EQ(ImportCommandNumber("logo.bmp"), 6);
  EXPECT_EQ(ImportCommandNumber("notes.doc"), -1);
  EXPECT_EQ(ImportCommandNumber("README"), -1);
  EXPECT_EQ(ImportCommandNumber("archive.txt.gz"), -1);
}

TEST(ImportKindsTest, ScaleNumberInTheName) {
  EXPECT_EQ(ImportTargetScale("plu#105.txt", 0, "#"), 105);
  EXPECT_EQ(ImportTargetScale("plu#255.txt", 0, "#"), 0);
  EXPECT_EQ(ImportTargetScale("plu#000.txt", 0, "#"), 0);
  EXPECT_EQ(ImportTargetScale("plu#abc.txt", 0, "#"), 0);
  EXPECT_EQ(ImportTargetScale("a#b#101.txt", 0, "#"), 0) << "the first divider decides";
  EXPECT_EQ(ImportTargetScale("#101.txt", 0, "#"), 101);
  EXPECT_EQ(ImportTargetScale("101.txt", 0, "#"), 0) << "the base must be longer than 3";
  EXPECT_EQ(ImportTargetScale("goods101.txt", 0, "#"), 0);
  EXPECT_EQ(ImportTargetScale("goods101.txt", 1, "#"), 101);
  EXPECT_EQ(ImportTargetScale("goods101.txt", 2, "#"), 101);
  EXPECT_EQ(ImportTargetScale("101.txt", 1, "#"), 101);
  EXPECT_EQ(ImportTargetScale("10.txt", 1, "#"), 0);
  // The divider must start three characters from the end, so a longer one
  // overlaps the number and never names a scale.
  EXPECT_EQ(ImportTargetScale("plu__07.txt", 0, "__"), 0);
  EXPECT_EQ(ImportTargetScale("plu__007.txt", 0, "__"), 0);
}

}  // namespace
}  // namespace tarvo
