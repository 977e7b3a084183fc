// The base of every thread that talks to scales: it owns one scale driver
// instance and the state of the command being carried out, and gives its
// subclasses the log hand-off (AddLog), the per-scale state record
// (SetScaleState) and the send journal (WriteJournal).
#ifndef TARVO_DRIVER_SCALEWORKTHREAD_H_
#define TARVO_DRIVER_SCALEWORKTHREAD_H_

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/automation.h"
#include "platform/clock.h"
#include "platform/handoff.h"
#include "scaledriver/driver_interface.h"
#include "settings/workservicesettings.h"

namespace tarvo {

// Objects shared by all workers of one pool, created before the first worker
// and freed after the last. No two of the locks are ever held together, and
// none is held across a driver call or a hand-off to the main thread.
struct WorkerPoolShared {
  std::mutex CriticalFind;  // the search for a free command and its lock file: one worker at a time
  std::mutex WorkIPList;    // guards WorkIPs
  std::vector<std::string> WorkIPs;  // scales in work (matched without case)
  // Guards State/Operation/StateTime of ScaleList entries; taken after the
  // settings Lock (see workservicesettings.h).
  std::mutex ScaleStateLock;
};

// What a worker is given by the pool that creates it. Everything referred to
// must outlive the worker. Settings, clock and Shared are required.
struct ScaleWorkContext {
  MServiceSettings* Settings = nullptr;          // not owned
  const AutomationRegistry* Registry = nullptr;  // creates the driver; null: no driver
  // Log lines and journal writes run there. Null: they run on the worker's
  // own thread.
  MainThreadQueue* MainQueue = nullptr;
  // Whether a log line of this level would reach anybody (the log file, a
  // live-log client, the console); a line nobody takes is not handed over
  // at all, which spares the worker a wait on the main thread. Called on
  // the worker's thread, so it must be safe there. Null: every line is
  // handed over.
  std::function<bool(int32_t level)> LogWanted;
  const Clock* clock = nullptr;
  WorkerPoolShared* Shared = nullptr;
};

// Operation names of the journal: 0 "SetSettings", 1 "SetPLUs", 2
// "UpdatePLUs", 3 "SetLabels", 4 "SetKeys", 5 "SetFonts", 6 "SetLogo",
// any other value "Error".
const char* JournalOperationName(int32_t operation);

// The journal line of one operation, without line end. `now` is the local
// time; `ip` and `originalFileName` are ANSI text.
//   extraFormat 2: "dd.mm.yyyy,hh:nn:ss,<ip>,<status>,<originalFileName>"
//   otherwise:     "dd.mm.yyyy hh:nn:ss IP=<ip> Operation=<name padded to 11>
//                   Status=<status> File=<file name part of originalFileName>"
// (one line; ":" is the system time separator; a control character of the
// file name is written as "?").
std::string JournalLine(int32_t extraFormat, const DateTime& now, const std::string& ip,
                        int32_t operation, int32_t status, const std::string& originalFileName);

// The journal file in `journalsPath` for `now`: "sclogo.csv" when
// extraFormat is 2, else "dd-mm-yyyy.log".
std::string JournalFileName(int32_t extraFormat, const DateTime& now,
                            const std::string& journalsPath);

// The message of a caught exception: what() of a std::exception, else
// "Unknown exception.".
std::string ExceptionText(std::exception_ptr error);

class TScaleWorkThread {
 public:
  using LogHandler =
      std::function<void(TScaleWorkThread* sender, const std::string& text, int level)>;

  // Creates the driver (writing Driver_EnableShowProgress false and
  // ClearAccountAfterUpload true). When that fails, the error is logged at
  // level 5 once the thread runs and the thread goes on without a usable
  // driver. The thread itself starts with Start().
  explicit TScaleWorkThread(const ScaleWorkContext& context);
  // WaitFor(), then releases the driver. Safe for a thread that never
  // started or has already ended. A subclass whose Execute() uses its own
  // members calls WaitFor() first in its own destructor.
  virtual ~TScaleWorkThread();

  TScaleWorkThread(const TScaleWorkThread&) = delete;
  TScaleWorkThread& operator=(const TScaleWorkThread&) = delete;

  // Runs the thread on a new std::thread; returns once Handle() is known.
  // The thread logs the driver creation error (if any) and "Started."
  // (level 2), runs Execute() and then sets Finished. Called at most once.
  void Start();
  // Asks Execute() to end (it polls Terminated()).
  void Terminate() { terminated_ = true; }
  // Terminate(), then waits for the thread to end. Without a thread (never
  // started, already joined, or called from the thread itself) it returns at once.
  void WaitFor();
  bool Terminated() const { return terminated_; }
  // The running thread's handle; 0 before Start().
  uint32_t Handle() const { return handle_; }

  // Hands "ThreadWork (" + handle + "): " + text to OnLog on the main thread
  // and waits for it. Once the main thread's queue is closed (the process
  // is ending) the line is dropped. Never throws.
  void AddLog(const std::string& text, int level);
  // Status := state; records state, Operation and now for the first
  // ScaleList entry whose IP equals the driver's IPAddress, under
  // ScaleStateLock, and logs "Set scale state: ip=... state=..." (level 1).
  // No entry: nothing is recorded or logged. Raises what the driver raises.
  void SetScaleState(int32_t state);
  // Appends the journal line of the last operation (JournalLine) to its
  // file (JournalFileName) when EnableJournals is on; the file is written on
  // the main thread (directly once its queue is closed). A failure is logged
  // at level 5 and not retried. Never throws.
  void WriteJournal();

  // The driver's IPAddress as ANSI text. Raises what the driver raises.
  std::string DriverIP();

  LogHandler OnLog;  // set by the owner before Start(); may be empty

  // The command state (driven by the worker subclass).
  std::string LogText;
  int32_t LogLevel = 0;
  // The scale driver. Never null: when creation failed, an object whose
  // every member raises the creation error.
  std::unique_ptr<AutomationObject> Driver;
  MServiceSettings* Settings;
  std::atomic<bool> RetryDue{false};
  std::atomic<bool> WorkAllowed{false};
  std::atomic<bool> RetryPending{false};  // counted by the status server
  int32_t Status = -1;
  std::string DataFileName;
  std::string OriginalFileName;
  int32_t Operation = -1;
  std::atomic<bool> Finished{false};

 protected:
  virtual void Execute() = 0;

  // Makes the calling thread this worker's thread without starting one:
  // Handle() becomes its handle and the start lines are logged as Start()'s
  // thread logs them. For callers that drive the steps of Execute() on a
  // thread of their own; never together with Start().
  void BindToCallingThread();

  const ScaleWorkContext& Context() const { return context_; }
  const Clock& clock() const { return *context_.clock; }

 private:
  void DoLog();
  void LogStart();

  const ScaleWorkContext context_;
  std::string driver_error_;  // why the driver could not be created; "" when it was
  std::thread thread_;
  std::atomic<uint32_t> handle_{0};
  std::atomic<bool> terminated_{false};
};

}  // namespace tarvo

#endif  // TARVO_DRIVER_SCALEWORKTHREAD_H_
