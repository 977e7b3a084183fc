// The system log: one levelled text file for the life of the process, and the
// service's single logging entry, which also feeds the live-log clients.
//
// Lock order: LogClients::mutex_ before any LogQueue::mutex_. TSystemLog's
// own mutex is never held while a client list or queue lock is taken, and
// the log never calls out while holding it, so it may be taken under any
// other lock of the service (for example the settings lock).
#ifndef TARVO_LOG_LOGOPERATIONS_H_
#define TARVO_LOG_LOGOPERATIONS_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace tarvo {

class AppendFile;

// What anything below the service is handed to write log lines. The service
// implements it with its LogWrite.
class LogSink {
 public:
  virtual ~LogSink() = default;
  // Never throws. Level 0 detail, 1 information, 2 to 4 notices, 5 errors.
  virtual void LogWrite(const std::string& text, int level) = 0;
};

enum LogOption : uint8_t {
  slTime,      // each event line carries the time of day
  slDate,      // each event line carries the date
  slNumber,    // each event line starts with its number
  slHeader,    // the header block precedes the first written event
  slRewrite,   // an existing log file is deleted before the first written event
  slDisabled,  // nothing is written at all
};

// A set of LogOption values.
class LogOptions {
 public:
  constexpr LogOptions() = default;
  constexpr LogOptions(std::initializer_list<LogOption> options) {
    for (LogOption o : options)
      bits_ |= Bit(o);
  }

  constexpr bool Contains(LogOption o) const { return (bits_ & Bit(o)) != 0; }
  constexpr LogOptions With(LogOption o) const { return LogOptions(bits_ | Bit(o)); }
  constexpr LogOptions Without(LogOption o) const { return LogOptions(bits_ & ~Bit(o)); }
  constexpr LogOptions Switched(LogOption o, bool on) const { return on ? With(o) : Without(o); }

  friend constexpr bool operator==(LogOptions a, LogOptions b) { return a.bits_ == b.bits_; }

 private:
  constexpr explicit LogOptions(uint32_t bits) : bits_(bits) {}
  static constexpr uint32_t Bit(LogOption o) { return 1u << static_cast<uint32_t>(o); }
  uint32_t bits_ = 0;
};

// Facts about the running program that the log header shows.
struct LogProcessInfo {
  std::string ExePath;       // full path of the running executable (ANSI)
  std::string FileVersion;   // "1.0.0.1"
  std::string ComputerName;  // the computer's name
  std::string UserName;      // the user the process runs as

  // The facts of this process, read from the system.
  static LogProcessInfo Current();
};

// The log object. Formats each event as one line, filters it by level and
// appends it to the log file with one write. The file is opened at the first
// written event and kept open until the name changes, the log is disabled or
// the object is destroyed. A file renamed or deleted from outside (a log
// rotation) is noticed within a second of the clock and created again at its
// name. Until a file name is set, written lines are kept in memory and moved
// into the file when the name is first set.
//
// The file is Windows-1251 text with CR LF line ends; an event line reads
//   [number ": "] "{" level "} " ["[hh:nn:ss.zzz] "] ["[dd.mm.yyyy] "] text CR LF
// (the bracketed parts by slNumber, slTime, slDate). The whole text "#line",
// "#cr" or "#header" (any letter case) writes a row of 100 asterisks, an
// empty line or the header block instead; such lines carry no number.
//
// Thread-safe: WriteEvent and SetFileName are serialised by one mutex, so
// concurrent events are all written, whole and in some order. File problems
// never raise: an event that cannot be written is lost and the next one tries
// again.
class TSystemLog {
 public:
  // `clock` stamps the lines and the header and must outlive the log.
  TSystemLog(LogOptions options, const Clock& clock, LogProcessInfo process);
  // Unless slDisabled: writes "SystemLog: Log object destroed." (3), "#Line"
  // (0) and "#CR" (0), each subject to MinLevel.
  ~TSystemLog();

  TSystemLog(const TSystemLog&) = delete;
  TSystemLog& operator=(const TSystemLog&) = delete;

  // The whole option set; the service switches one option by reading the set,
  // changing it and passing it back. slHeader and slRewrite act only on the
  // first written event of the process.
  void SetOptions(LogOptions options);
  LogOptions Options() const;
  // Adds or removes one option in one step.
  void SetOption(LogOption option, bool on);

  // Events of a lower level are not written (nor counted). 5 at construction.
  void SetMinLevel(int32_t level) { min_level_.store(level); }
  int32_t MinLevel() const { return min_level_.load(); }

  // Sets or changes the log file. A name without extension gets ".log"; a
  // name without folder is placed in the executable's folder. Lines kept in
  // memory are appended to the file when the name is first set (if that
  // file cannot be opened they stay in memory and the name stays unset). A
  // later change moves the current file to the new name, replacing a file
  // there; numbering continues. An empty name is ignored.
  void SetFileName(const std::string& name);
  // The full path of the log file; "" until set.
  std::string FileName() const;

  // Writes one event (see the class comment).
  void WriteEvent(const std::string& text, int32_t level);

  // The header block: an empty line, 100 asterisks, start time, program
  // name, version, path, computer, user, 100 asterisks, an empty line and
  // "События:", each line ending in CR LF; Windows-1251.
  std::string HeaderText() const;

  // Ordinary event lines formatted so far; never reset.
  int32_t LineCount() const;
  // The lines written while no file name was set, not yet moved to a file.
  std::vector<std::string> PendingLines() const;

 private:
  void WriteEventLocked(const std::string& text, int32_t level);
  void EmitLocked(const std::string& text, std::string* out);
  bool OpenFileLocked();
  std::string HeaderTextNow() const;

  const Clock& clock_;
  const LogProcessInfo process_;
  std::atomic<int32_t> min_level_{5};

  mutable std::mutex mutex_;  // guards everything below
  bool has_written_ = false;
  int32_t line_count_ = 0;
  std::string file_name_;
  LogOptions options_;
  std::vector<std::string> pending_;
  std::unique_ptr<AppendFile> file_;  // open at file_name_, or null
  int64_t next_check_millis_ = 0;     // when to compare file_ with file_name_ again
};

// The most lines a live-log queue holds for a client that does not poll.
inline constexpr size_t kLogQueueCapacity = 10000;

// The queue of lines waiting to be sent to one live-log connection. It holds
// at most `capacity` lines: a line pushed into a full queue drops the oldest,
// and the queue counts what it dropped.
class LogQueue {
 public:
  explicit LogQueue(size_t capacity = kLogQueueCapacity) : capacity_(capacity) {}

  void Push(const std::string& line);
  // Removes and returns every queued line, oldest first, and stores in
  // `dropped` (when given) how many were dropped since the last call.
  std::vector<std::string> TakeAll(size_t* dropped = nullptr);
  size_t Count() const;

 private:
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::deque<std::string> lines_;
  size_t dropped_ = 0;
};

// The queues of all connected live-log clients. A connection adds its queue
// when it starts and removes it when it ends; LogWrite appends each client
// line to every queue, taking this list's lock, then each queue's lock.
class LogClients {
 public:
  void Add(std::shared_ptr<LogQueue> queue);
  // Removes the queue (compared by identity) and drops its pending lines.
  void Remove(const LogQueue* queue);
  size_t Count() const;
  // Appends a copy of `line` to every queue.
  void Broadcast(const std::string& line);

 private:
  mutable std::mutex mutex_;  // taken before any queue's mutex
  std::vector<std::shared_ptr<LogQueue>> queues_;
};

// The line a live-log client receives for an event:
// "{" level "} [hh:nn:ss.zzz] " text, no line end.
std::string LogClientLine(const std::string& text, int32_t level, const DateTime& now);

// The most bytes of an event's text that the log keeps. A longer text is
// cut to its first kMaxEventTextBytes bytes followed by a marker that says
// how much was cut: " ... [49995904 bytes cut]".
inline constexpr size_t kMaxEventTextBytes = 4096;

// `text` as the log keeps it: unchanged up to kMaxEventTextBytes, otherwise
// cut with the marker.
std::string CutEventText(const std::string& text);

// The service's logging entry: writes the event to `log`, then queues the
// client line for every queue of `clients` (when not null) whatever the
// level and options. The text is cut by CutEventText first, so the file and
// the clients get the same text. Never throws: a failure is written to
// `log` as "LogWrite: " + message at level 5.
void LogWrite(TSystemLog& log, LogClients* clients, const Clock& clock, const std::string& text,
              int32_t level) noexcept;

// A LogSink bound to the service's log and client list.
class TServiceLog : public LogSink {
 public:
  TServiceLog(TSystemLog& log, LogClients* clients, const Clock& clock)
      : log_(log), clients_(clients), clock_(clock) {}
  void LogWrite(const std::string& text, int level) override {
    tarvo::LogWrite(log_, clients_, clock_, text, level);
  }

 private:
  TSystemLog& log_;
  LogClients* const clients_;
  const Clock& clock_;
};

}  // namespace tarvo

#endif  // TARVO_LOG_LOGOPERATIONS_H_
