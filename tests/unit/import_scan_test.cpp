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

// The numbers start from the wall clock (ms * 1000) and always grow: within a
// millisecond, when the clock is set back, and in a new run started later.
TEST(CommandSequenceTest, GrowsWithTheClockAndPastIt) {
  CommandSequence sequence;
  const struct {
    int64_t nowMillis;
    int64_t next;
  } steps[] = {
      {1796630462000, 1796630462000000},  // the first number: the clock
      {1796630462000, 1796630462000001},  // the same millisecond
      {1796630462000, 1796630462000002},
      {1796630461000, 1796630462000003},  // the clock set back a second
      {1796630462005, 1796630462005000},  // the clock ahead again
  };
  for (const auto& step : steps)
    EXPECT_EQ(sequence.Next(step.nowMillis), step.next) << step.nowMillis;
  // A restart a millisecond later starts above every number of the last run.
  EXPECT_GT(CommandSequence().Next(1796630462006), 1796630462005000);
}

}  // namespace
}  // namespace tarvo
