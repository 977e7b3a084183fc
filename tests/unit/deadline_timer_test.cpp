#include "common/deadline_timer.h"

#include <gtest/gtest.h>

namespace tarvo {
namespace {

TEST(DeadlineTimerTest, FiresOncePerIntervalOnlyWhenEnabled) {
  ManualClock clock;
  DeadlineTimer timer(clock, 100);
  clock.Advance(500);
  EXPECT_FALSE(timer.Fire()) << "a disabled timer never fires";

  timer.SetEnabled(true);
  clock.Advance(99);
  EXPECT_FALSE(timer.Fire());
  clock.Advance(1);
  EXPECT_TRUE(timer.Fire());
  EXPECT_FALSE(timer.Fire()) << "the count restarts when it fires";
  clock.Advance(100);
  EXPECT_TRUE(timer.Fire());
}

TEST(DeadlineTimerTest, SettingTheIntervalRestartsTheCount) {
  ManualClock clock;
  DeadlineTimer timer(clock, 100, true);
  clock.Advance(90);
  timer.SetInterval(100);
  clock.Advance(90);
  EXPECT_FALSE(timer.Fire());
  EXPECT_EQ(timer.MillisUntilDue(), 10);
  clock.Advance(10);
  EXPECT_TRUE(timer.Fire());
}

TEST(DeadlineTimerTest, ZeroIntervalNeverFires) {
  ManualClock clock;
  DeadlineTimer timer(clock, 0, true);
  clock.Advance(1000000);
  EXPECT_FALSE(timer.Fire());
  EXPECT_EQ(timer.MillisUntilDue(), -1);
}

}  // namespace
}  // namespace tarvo
