#include "common/deadline_timer.h"

#include <algorithm>

namespace tarvo {

DeadlineTimer::DeadlineTimer(const Clock& clock, int64_t intervalMs, bool enabled)
    : clock_(clock), interval_(intervalMs), enabled_(enabled), start_(clock.NowMillis()) {}

void DeadlineTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  start_ = clock_.NowMillis();
}

void DeadlineTimer::SetInterval(int64_t ms) {
  interval_ = ms;
  start_ = clock_.NowMillis();
}

bool DeadlineTimer::Fire() {
  if (!enabled_ || interval_ <= 0)
    return false;
  const int64_t now = clock_.NowMillis();
  if (now - start_ < interval_)
    return false;
  start_ = now;
  return true;
}

int64_t DeadlineTimer::MillisUntilDue() const {
  if (!enabled_ || interval_ <= 0)
    return -1;
  return std::max<int64_t>(0, interval_ - (clock_.NowMillis() - start_));
}

}  // namespace tarvo
