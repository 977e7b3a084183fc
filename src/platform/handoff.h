// The main-thread hand-off. The process's main thread serves a queue of calls
// handed to it by other threads; each caller blocks until its call has run.
// Calls run one at a time, in the order they were handed over.
//
// The serving thread takes every call waiting at once and runs them in a
// row, so that callers handing over many small calls (log lines) cost one
// wake-up of the serving thread per batch rather than one per call; both
// sides poll briefly before they sleep, so a caller that hands over call
// after call mostly costs neither a sleep nor a wake-up.
#ifndef TARVO_PLATFORM_HANDOFF_H_
#define TARVO_PLATFORM_HANDOFF_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tarvo {

class MainThreadQueue {
 public:
  MainThreadQueue();
  MainThreadQueue(const MainThreadQueue&) = delete;
  MainThreadQueue& operator=(const MainThreadQueue&) = delete;
  ~MainThreadQueue();  // Close(); no caller may still be waiting

  // Runs `fn` on the serving thread and waits for it. Called on the serving
  // thread itself, runs `fn` at once. Returns false, without running `fn`,
  // once the queue is closed. An exception thrown by `fn` is rethrown here.
  bool Synchronize(const std::function<void()>& fn);

  // Serves calls on the calling thread (which becomes the serving thread)
  // until Close() is called; calls already queued are still run.
  void Serve();

  // Ends Serve() and refuses later calls. Calls already handed over still
  // run when a Serve() is under way; when none is, their callers are
  // released at once and their Synchronize() returns false.
  void Close();

  // The number of calls handed over and not yet started.
  size_t Pending() const;

 private:
  struct Call;
  void RunBatch(const std::vector<Call*>& batch);

  mutable std::mutex mu_;
  std::condition_variable server_cv_;   // calls arrived, or Close()
  std::vector<Call*> calls_;            // handed over, not yet taken by the server
  std::atomic<bool> has_calls_{false};  // !calls_.empty(), readable without mu_
  bool server_asleep_ = false;          // the server waits on server_cv_
  bool closed_ = false;
  std::thread::id server_;
};

}  // namespace tarvo

#endif  // TARVO_PLATFORM_HANDOFF_H_
