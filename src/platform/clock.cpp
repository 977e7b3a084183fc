#include "platform/clock.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/local_time.h"

namespace tarvo {

namespace {

class RealClock : public Clock {
 public:
  int64_t NowMillis() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  DateTime LocalNow() const override { return internal::SystemLocalNow(); }

  void SleepMillis(int64_t ms) const override {
    if (ms > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

}  // namespace

Clock* Clock::Real() {
  static RealClock clock;
  return &clock;
}

ManualClock::ManualClock(DateTime start) : millis_(0), start_(start) {}

int64_t ManualClock::NowMillis() const {
  return millis_.load();
}

DateTime ManualClock::LocalNow() const {
  return start_.AddMillis(millis_.load());
}

void ManualClock::SleepMillis(int64_t) const {}

void ManualClock::Advance(int64_t ms) {
  millis_.fetch_add(ms);
}

double TimerScale() {
  const char* text = std::getenv("TARVO_TIMER_SCALE");
  if (text == nullptr)
    return 1.0;
  const char* end = text + std::strlen(text);
  double scale = 0.0;
  const auto result = std::from_chars(text, end, scale);
  if (result.ec != std::errc() || result.ptr != end || !std::isfinite(scale) || scale <= 0.0) {
    return 1.0;
  }
  return scale;
}

}  // namespace tarvo
