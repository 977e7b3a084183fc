#include "platform/handoff.h"

#include <exception>

namespace tarvo {

// One handed-over call; lives on its caller's stack until the caller wakes.
struct MainThreadQueue::Call {
  const std::function<void()>* fn;
  bool done = false;  // finished, or refused unrun
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
  cv_.notify_all();
  cv_.wait(lock, [&call] { return call.done; });
  if (!call.ran)
    return false;
  if (call.error)
    std::rethrow_exception(call.error);
  return true;
}

void MainThreadQueue::Serve() {
  std::unique_lock<std::mutex> lock(mu_);
  server_ = std::this_thread::get_id();
  for (;;) {
    cv_.wait(lock, [this] { return closed_ || !calls_.empty(); });
    if (calls_.empty())
      break;  // closed, and every queued call has run
    Call* call = calls_.front();
    calls_.pop_front();
    lock.unlock();
    try {
      (*call->fn)();
    } catch (...) {
      // The main thread must survive anything: the caller gets the exception.
      call->error = std::current_exception();
    }
    lock.lock();
    call->ran = true;
    call->done = true;
    cv_.notify_all();
  }
  server_ = std::thread::id();
}

void MainThreadQueue::Close() {
  std::lock_guard<std::mutex> lock(mu_);
  closed_ = true;
  if (server_ == std::thread::id()) {
    // Nobody serves: the waiting callers are released with their calls unrun.
    for (Call* call : calls_)
      call->done = true;
    calls_.clear();
  }
  cv_.notify_all();
}

size_t MainThreadQueue::Pending() const {
  std::lock_guard<std::mutex> lock(mu_);
  return calls_.size();
}

}  // namespace tarvo
