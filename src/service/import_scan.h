// The import scan: every regular file that has settled in the import folder
// becomes one queued command per target scale (see command_files.h) and is
// then deleted. Files of kinds that are not imported stay; so do folders,
// symbolic links, FIFOs and devices, which are never opened.
#ifndef TARVO_SERVICE_IMPORT_SCAN_H_
#define TARVO_SERVICE_IMPORT_SCAN_H_

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "log/logoperations.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "settings/workservicesettings.h"

namespace tarvo {

// The entries of the import folder that the scan leaves alone on purpose
// from one run to the next: those it reported as not to be read and those it
// queued but could not delete. An entry is known by its name, modification
// time and size, so one that changes is looked at afresh.
class ImportScanMemory {
 public:
  bool Contains(const FileEntry& entry) const;
  void Remember(const FileEntry& entry);
  // Forgets every entry that is not in `listing` as it is there.
  void ForgetAllBut(const std::vector<FileEntry>& listing);

 private:
  using Key = std::tuple<std::string, int64_t, uint64_t>;
  static Key KeyOf(const FileEntry& entry);

  std::set<Key> entries_;
};

// The numbers that order queued commands (the "Sequence" of command_files.h).
// Each number is the larger of the last one plus 1 and the wall clock's
// milliseconds since the epoch times 1000, so the numbers grow within a run
// and also across restarts: a new run starts above the numbers of an earlier
// one unless that run took more than a thousand numbers per millisecond on
// average or the wall clock has been set back since. Not thread-safe; the
// import scan runs on the service thread only.
class CommandSequence {
 public:
  // The next number for a wall-clock reading of `nowMillis` ms since the epoch.
  int64_t Next(int64_t nowMillis);

 private:
  int64_t last_ = 0;
};

// Forces the command files written in the query folder `queryPath` to
// disk. False, with the reason in `error`, when they may not be there.
using QueueFlush = std::function<bool(const std::string& queryPath, std::string* error)>;

// Queues every import file of the settings' ImportPath for its scales in
// QueryPath, writing "ServiceExecute: ..." lines to `log` and stamping the
// commands with `clock`'s local time. Commands are numbered from `sequence`
// in the order they are written.
//
// An import file is deleted only once every command queued from it is on
// disk, so a power loss never leaves a file gone and its commands missing or
// empty: the scan first queues every file it takes, then calls `flush` once,
// then deletes those files in listing order. When `flush` fails, every file
// stays (with one level-5 line) and the next scan queues it again.
//
// An import file that is not a regular file, or that cannot be deleted
// after it was queued, gets one level-5 line and is then left alone while
// it stays as it is (kept in `memory`, which the caller holds from one scan
// to the next). False when the scale list is empty or unusable: nothing is
// listed or queued then. Any other failure stops the queuing with a
// "ServiceExecuteImport: " line at level 5; the files queued before it are
// still flushed and deleted, the failed one and those after it stay, and
// the scan returns true.
bool ImportScan(const MServiceSettings& settings, LogSink& log, const Clock& clock,
                ImportScanMemory& memory, CommandSequence& sequence,
                const QueueFlush& flush = FlushFileSystem);

// The command number of an import file by its extension (ASCII letters
// compared in lower case); -1 when the kind is not imported.
int ImportCommandNumber(const std::string& fileName);

// The last part (1 to 254) of the address of the one scale an import file
// names, or 0 when it goes to every scale.
int ImportTargetScale(const std::string& fileName, int32_t importExtraFormat,
                      const std::string& divider);

}  // namespace tarvo

#endif  // TARVO_SERVICE_IMPORT_SCAN_H_
