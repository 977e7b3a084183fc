#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

namespace tarvo {
namespace {

TEST(ManualClockTest, MovesOnlyWhenAdvanced) {
  const DateTime start = DateTime::FromParts({2026, 12, 7, 23, 59, 0, 0});
  ManualClock clock(start);
  EXPECT_EQ(clock.NowMillis(), 0);
  EXPECT_EQ(clock.LocalNow(), start);
  clock.SleepMillis(600000);  // returns at once and moves nothing
  EXPECT_EQ(clock.NowMillis(), 0);
  clock.Advance(600000);
  EXPECT_EQ(clock.NowMillis(), 600000);
  const DateTimeParts p = clock.LocalNow().Parts();
  EXPECT_EQ(p.day, 8);
  EXPECT_EQ(p.hour, 0);
  EXPECT_EQ(p.minute, 9);
}

TEST(ManualClockTest, AdvancesFromManyThreadsAddUp) {
  ManualClock clock;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i)
        clock.Advance(3);
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(clock.NowMillis(), 12000);
}

TEST(RealClockTest, IsMonotonicAndKnowsTheDate) {
  Clock* clock = Clock::Real();
  ASSERT_EQ(clock, Clock::Real());
  const int64_t a = clock->NowMillis();
  clock->SleepMillis(2);
  EXPECT_GE(clock->NowMillis(), a);
  EXPECT_GT(clock->LocalNow().Parts().year, 2020);
}

TEST(TimerScaleTest, ReadsAPositiveDecimalElseOne) {
  ::unsetenv("TARVO_TIMER_SCALE");
  EXPECT_EQ(TimerScale(), 1.0);
  ::setenv("TARVO_TIMER_SCALE", "0.01", 1);
  EXPECT_EQ(TimerScale(), 0.01);
  ::setenv("TARVO_TIMER_SCALE", "3", 1);
  EXPECT_EQ(TimerScale(), 3.0);
  for (const char* bad : {"", "0", "-2", "abc", "1.5x", "inf", "nan", " 2", "0,5"}) {
    ::setenv("TARVO_TIMER_SCALE", bad, 1);
    EXPECT_EQ(TimerScale(), 1.0) << bad;
  }
  ::unsetenv("TARVO_TIMER_SCALE");
}

}  // namespace
}  // namespace tarvo
