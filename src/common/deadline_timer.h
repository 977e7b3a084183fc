// A repeating timer checked by the loop that owns it. It never calls back:
// the owner asks Fire() on each pass and acts when it returns true. Setting
// the interval restarts the count; an interval of 0 never fires. Not
// thread-safe: one owner thread.
#ifndef TARVO_COMMON_DEADLINE_TIMER_H_
#define TARVO_COMMON_DEADLINE_TIMER_H_

#include <cstdint>

#include "platform/clock.h"

namespace tarvo {

class DeadlineTimer {
 public:
  explicit DeadlineTimer(const Clock& clock, int64_t intervalMs = 1000, bool enabled = false);

  bool Enabled() const { return enabled_; }
  int64_t Interval() const { return interval_; }

  // Enabling restarts the count from now; disabling stops it.
  void SetEnabled(bool enabled);
  // Sets the interval in milliseconds and restarts the count.
  void SetInterval(int64_t ms);

  // True when enabled and a whole interval has passed since the count
  // (re)started; the count then starts again from now.
  bool Fire();

  // Milliseconds until the timer is due; -1 when it never fires.
  int64_t MillisUntilDue() const;

 private:
  const Clock& clock_;
  int64_t interval_;
  bool enabled_;
  int64_t start_ = 0;
};

}  // namespace tarvo

#endif  // TARVO_COMMON_DEADLINE_TIMER_H_
