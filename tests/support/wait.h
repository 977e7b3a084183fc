// Waiting in tests for another thread or process to get somewhere.
#ifndef TARVO_TESTS_SUPPORT_WAIT_H_
#define TARVO_TESTS_SUPPORT_WAIT_H_

#include <chrono>
#include <thread>

namespace tarvo::testing {

// Sleeps `ms` milliseconds (for polling loops in tests only).
inline void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Polls `condition` every 20 ms until it holds or `timeoutMs` passed.
template <typename Fn>
bool WaitUntil(Fn condition, int timeoutMs) {
  for (int waited = 0;; waited += 20) {
    if (condition())
      return true;
    if (waited >= timeoutMs)
      return false;
    SleepMs(20);
  }
}

// Polls `condition` without sleeping until it holds or a generous deadline
// passes; for threads of this process, which may run on a manual clock.
template <typename Fn>
bool WaitUntil(Fn condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace tarvo::testing

#endif  // TARVO_TESTS_SUPPORT_WAIT_H_
