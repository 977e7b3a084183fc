// The query worker: claims queued commands by lock file, each scale's oldest
// first and one scale per worker at a time, runs each command's load and
// send steps, retries a failed send every ten minutes until it succeeds, and
// archives, sets aside or deletes the command's files.
//
// A pass of the worker's loop first serves its due timers (their handlers
// only set flags, re-arm and log), then runs section A (claim a command),
// B (carry it out), C (retry a failed send) and D (finish the command), and
// sleeps 500 ms of the context's clock. The loop ends at the end of a pass
// once Terminated(), or at once after a failed send seen while terminated.
#ifndef TARVO_QUERY_WORKQUERYFILESTHREAD_H_
#define TARVO_QUERY_WORKQUERYFILESTHREAD_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/deadline_timer.h"
#include "driver/scaleworkthread.h"
#include "query/plu_data.h"

namespace tarvo {

class TWorkQueryFilesThread : public TScaleWorkThread {
 public:
  // The first line of a lock file: this class name, a blank and the handle.
  static constexpr char kClassName[] = "TWorkQueryFilesThread";
  // The pause at the end of an ordinary pass.
  static constexpr int64_t kPassSleepMs = 500;

  explicit TWorkQueryFilesThread(const ScaleWorkContext& context);
  // Waits for the thread (see TScaleWorkThread::WaitFor) before freeing the
  // timers and buffers it uses.
  ~TWorkQueryFilesThread() override;

  // Timers; their intervals are set when the thread starts running, from
  // its handle h, and multiplied by TimerScale() (at least 1 ms):
  //   ScanTimer       (h mod 1000) * 10 + 20000
  //   RetryTimer      (h mod 1000) * 10 + 600000
  //   RetryWorkTimer  (h mod 1000) * 10 + 600000
  // A worker that finds its scale busy with another worker re-arms
  // RetryWorkTimer (carrying out) or RetryTimer (retrying) with the
  // ScanTimer's interval: it waits for the scale as an idle worker waits for
  // its next search, instead of polling the other worker's scale.
  std::unique_ptr<DeadlineTimer> ScanTimer;
  std::unique_ptr<DeadlineTimer> RetryTimer;
  std::unique_ptr<DeadlineTimer> RetryWorkTimer;

  bool ScanDue = false;
  bool WorkDone = false;
  int32_t FontNumber = -1;
  std::string CommandFileName;
  std::atomic<bool> Busy{false};

  // Data of the PLU commands.
  std::vector<MPLUData> PLUList;
  MMessages MessageList;
  char FieldSeparator = ',';

  // name=value lines of the settings and hot-key commands.
  std::vector<std::string> ValueList;
  // File contents of the label, font and logo commands.
  std::string FileData;

  // Timer handlers: set their flag, stop their timer (the retry timers also
  // get their long interval back) and log "OnTimerScan file scan fired.",
  // "OnTimerRetry file scan fired." or "OnTimerRetryWork fired." (level 0).
  void OnTimerScan();
  void OnTimerRetry();
  void OnTimerRetryWork();

  // The load or send step of the current Operation; false for an unknown
  // Operation. The steps' own exceptions pass through.
  bool LoadCommandData();
  bool SendCommandData();

 protected:
  // How a pass ended.
  enum class PassEnd {
    kSleep,    // ordinary end: sleep kPassSleepMs
    kNoSleep,  // the scale was busy: sleep only until the next timer is due
    kLeave,    // a send failed while terminated: leave the loop now
  };

  void Execute() override;

  // The start of Execute(): timer intervals from Handle(), flags reset, the
  // "Scan interval", "Retry interval" and "Execute start." lines.
  void BeginExecute();
  // One pass: due timers, then sections A to D. Does not sleep.
  PassEnd RunPass();
  // The end of Execute(): "Execute end.".
  void EndExecute();

 private:
  // Settings read once per use, under the settings lock.
  struct Folders {
    std::string QueryPath;
    bool EnableQueryArchive = false;
  };
  Folders ReadFolders() const;

  void ServeTimers();
  // Section A: claims a command. Commands are taken in ascending "Sequence"
  // (0 when the key is missing), then in listing order, and only a scale's
  // oldest queued command may be claimed: while it is claimed (carried out
  // or waiting for its retry) the scale's newer commands wait, so a scale
  // receives its commands in the order they were queued. A command file
  // that cannot be read, or names no scale, holds back nothing.
  void ClaimCommand();
  PassEnd CarryOut();    // section B
  PassEnd RetrySend();   // section C
  void FinishCommand();  // section D

  // Adds ip_ to WorkIPs unless another worker has it; logs as it goes.
  bool BlockScale();
  void UnblockScale();
  // Copies the command and data files into QueryPath's sub-folder `name`.
  void CopyCommandTo(const std::string& name);

  int64_t Scaled(int64_t ms) const;
  int64_t LongRetryInterval() const;
  int64_t ScanInterval() const;

  std::string ip_;          // the claimed command's scale, kept for the retry
  std::string query_path_;  // the folder the command was claimed in
  double timer_scale_ = 1.0;
};

}  // namespace tarvo

#endif  // TARVO_QUERY_WORKQUERYFILESTHREAD_H_
