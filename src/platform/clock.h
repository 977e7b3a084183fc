// Time sources. Every timer of the service is a deadline checked by the loop
// that owns it, read through a Clock so that tests can step time by hand.
#ifndef TARVO_PLATFORM_CLOCK_H_
#define TARVO_PLATFORM_CLOCK_H_

#include <atomic>
#include <cstdint>

#include "platform/datetime.h"

namespace tarvo {

class Clock {
 public:
  virtual ~Clock() = default;

  // Milliseconds on a monotonic scale; only differences are meaningful.
  virtual int64_t NowMillis() const = 0;

  // The local wall-clock date and time.
  virtual DateTime LocalNow() const = 0;

  // Blocks the caller for about `ms` milliseconds of this clock's time.
  // The real clock sleeps; the manual clock returns at once.
  virtual void SleepMillis(int64_t ms) const = 0;

  // The process's real clock. Never null; lives for the whole process.
  static Clock* Real();
};

// A clock that moves only when told to. Thread-safe.
class ManualClock : public Clock {
 public:
  explicit ManualClock(DateTime start = DateTime());

  int64_t NowMillis() const override;
  DateTime LocalNow() const override;
  void SleepMillis(int64_t ms) const override;

  // Moves both the monotonic and the wall-clock reading forward by `ms`.
  void Advance(int64_t ms);

 private:
  std::atomic<int64_t> millis_;
  const DateTime start_;
};

// The multiplier of the worker timers' intervals, read from the environment
// variable TARVO_TIMER_SCALE (a positive decimal; 1 when unset or invalid).
// A test aid: end-to-end tests and demos run the retry path in seconds.
double TimerScale();

}  // namespace tarvo

#endif  // TARVO_PLATFORM_CLOCK_H_
