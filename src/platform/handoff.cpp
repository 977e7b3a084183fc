#include "platform/handoff.h"

#include <chrono>
#include <exception>

namespace tarvo {

namespace {

// How long a caller polls for its call to finish, and the server for the
// next call, before they sleep. A worker logging line after line hands
// over its next call within microseconds, and a call (a log line) runs in
// a few; polling briefly spares both sides the sleep and wake-up, which
// cost far more than the call. Between polls the processor is given away.
constexpr std::chrono::microseconds kCallerPoll(50);
constexpr std::chrono::microseconds kServerPoll(50);

// Polls `ready` for up to `limit`; true once it holds.
template <typename Ready>
bool PollFor(std::chrono::microseconds limit, Ready ready) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= end)
      return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace

// One handed-over call; lives on its caller's stack until the caller has
// seen `done`. The server (or Close) touches it last when it sets `done`.
struct MainThreadQueue::Call {
  const std::function<void()>* fn;
  std::condition_variable cv;     // `done` was set
  std::atomic<bool> done{false};  // finished, or refused unrun
  bool ran = false;
  std::exception_ptr error;
};

MainThreadQueue::MainThreadQueue() = default;

MainThreadQueue::~MainThreadQueue() {
  Close();
}

bool MainThreadQueue::Synchronize(const std::function<void()>& fn) {
  std::unique_lock<std::mutex> lock(mu_);
  if (closed_)
    return false;
  if (server_ == std::this_thread::get_id()) {
    lock.unlock();
    fn();
    return true;
  }
  Call call;
  call.fn = &fn;
  calls_.push_back(&call);
  has_calls_.store(true, std::memory_order_release);
  // Only the first call of a batch may find the server asleep; the others
  // are taken with it.
  if (server_asleep_) {
    server_asleep_ = false;
    server_cv_.notify_one();
  }
  lock.unlock();
  if (!PollFor(kCallerPoll, [&call] { return call.done.load(std::memory_order_acquire); })) {
    lock.lock();
    call.cv.wait(lock, [&call] { return call.done.load(std::memory_order_acquire); });
  }
  if (!call.ran)
    return false;
  if (call.error)
    std::rethrow_exception(call.error);
  return true;
}

void MainThreadQueue::Serve() {
  std::vector<Call*> batch;
  std::unique_lock<std::mutex> lock(mu_);
  server_ = std::this_thread::get_id();
  for (;;) {
    if (!closed_ && calls_.empty()) {
      lock.unlock();
      PollFor(kServerPoll, [this] { return has_calls_.load(std::memory_order_acquire); });
      lock.lock();
    }
    while (!closed_ && calls_.empty()) {
      server_asleep_ = true;
      server_cv_.wait(lock);
    }
    server_asleep_ = false;
    if (calls_.empty())
      break;  // closed, and every queued call has run
    batch.swap(calls_);
    has_calls_.store(false, std::memory_order_relaxed);
    lock.unlock();
    RunBatch(batch);
    lock.lock();
    for (Call* call : batch) {
      call->ran = true;
      call->cv.notify_one();
      call->done.store(true, std::memory_order_release);  // the caller may return now
    }
    batch.clear();
  }
  server_ = std::thread::id();
}

void MainThreadQueue::RunBatch(const std::vector<Call*>& batch) {
  for (Call* call : batch) {
    try {
      (*call->fn)();
    } catch (...) {
      // The main thread must survive anything: the caller gets the exception.
      call->error = std::current_exception();
    }
  }
}

void MainThreadQueue::Close() {
  std::lock_guard<std::mutex> lock(mu_);
  closed_ = true;
  if (server_ == std::thread::id()) {
    // Nobody serves: the waiting callers are released with their calls unrun.
    for (Call* call : calls_) {
      call->cv.notify_one();
      call->done.store(true, std::memory_order_release);
    }
    calls_.clear();
    has_calls_.store(false, std::memory_order_relaxed);
  }
  server_cv_.notify_all();
}

size_t MainThreadQueue::Pending() const {
  std::lock_guard<std::mutex> lock(mu_);
  return calls_.size();
}

}  // namespace tarvo
