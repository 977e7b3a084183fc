#include "service/import_scan.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "common/fileswork.h"
#include "common/ip_address.h"
#include "common/newrxstrutils.h"
#include "common/number_text.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "service/command_files.h"

namespace tarvo {

namespace {

// How long a file in the import folder must stay unchanged before it is
// queued.
constexpr int64_t kImportSettleMs = 2000;

// An import file whose commands are all written, waiting to be deleted.
struct QueuedImport {
  FileEntry entry;
  std::string path;
};

// Queues the import files among `entries`, in order, appending each one
// whose commands are all written to *queued. Stops at the first file that
// cannot be queued; an exception passes through.
void QueueImportFiles(const MSettingsValues& values, const std::vector<MScaleState>& scales,
                      const std::vector<FileEntry>& entries, LogSink& log, const Clock& clock,
                      ImportScanMemory& memory, CommandSequence& sequence,
                      std::vector<QueuedImport>* queued) {
  // The query folder is listed once, before the first name is taken: only
  // this scan adds commands to it meanwhile.
  std::optional<FolderBaseNames> taken;
  const int64_t now = FileTimeNowMillis();
  for (const FileEntry& entry : entries) {
    const int command = ImportCommandNumber(entry.Name);
    if (command < 0 || memory.Contains(entry))
      continue;
    const std::string shownName = SingleLineText(entry.Name);
    // Only regular files are read: a link may lead anywhere, and a FIFO or
    // a device may block the scan for ever or differ at every read.
    if (entry.Kind != FileKind::kRegular) {
      log.LogWrite("ServiceExecute: Import file <" + shownName + "> is " +
                       (entry.Kind == FileKind::kFolder ? "a folder" : "not a regular file") +
                       ", left in place.",
                   5);
      memory.Remember(entry);
      continue;
    }
    // A file written within the settle time may still be growing: it waits
    // for the next scan rather than being queued half-written and deleted.
    if (now - entry.ModifiedMillis < kImportSettleMs)
      continue;
    // A file the service may not read stays where it is, with an error at
    // every scan until it can be read; queuing it would queue nothing.
    const std::string path = IncludeTrailingPathDelimiter(values.ImportPath) + entry.Name;
    std::string readError;
    if (!ReadFileChunks(
            path, 1, [](std::string_view) { return false; }, &readError)) {
      log.LogWrite("ServiceExecute: Import file <" + shownName + "> cannot be read (" + readError +
                       "), left in place.",
                   5);
      continue;
    }
    // A command that cannot be queued (a full disk, a read-only query
    // folder) ends the queuing with the file still in place. Its commands
    // queued for earlier scales stay, so those scales get it twice once
    // the next scan queues it again.
    const int target =
        ImportTargetScale(entry.Name, values.ImportExtraFormat, values.FileMask_DividerIP);
    for (const MScaleState& scale : scales) {
      ForceDirectories(values.QueryPath);
      if (!taken)
        taken.emplace(values.QueryPath);
      std::string error;
      const std::string base = GetUniqueFileName(values.QueryPath, *taken, &error);
      if (base.empty()) {
        log.LogWrite(
            "ServiceExecuteImport: No unique file name in " + values.QueryPath + ": " + error, 5);
        return;
      }
      if (target > 0 && target != GetIPOctet(scale.IP, 3))
        continue;
      CreateCommandFile(base, values.ImportPath, entry.Name, command, scale.IP, clock.LocalNow(),
                        sequence.Next(FileTimeNowMillis()));
      log.LogWrite(std::string(target > 0 ? "ServiceExecute: Command file for one scale <"
                                          : "ServiceExecute: Command file <") +
                       base + "> created.",
                   1);
    }
    queued->push_back({entry, path});
  }
}

// Deletes the queued import files, in order, once their commands are on
// disk.
void DeleteQueuedImports(const std::string& queryPath, const std::vector<QueuedImport>& queued,
                         LogSink& log, ImportScanMemory& memory, const QueueFlush& flush) {
  if (queued.empty())
    return;
  std::string error;
  if (!flush(queryPath, &error)) {
    log.LogWrite("ServiceExecuteImport: Command files in " + queryPath + " may not be on disk (" +
                     error + "), the import files stay.",
                 5);
    return;
  }
  for (const QueuedImport& file : queued) {
    const std::string shownName = SingleLineText(file.entry.Name);
    error.clear();
    if (DeleteFile(file.path, &error)) {
      log.LogWrite("ServiceExecute: Import file <" + shownName + "> deleted.", 1);
    } else {
      // Queued once is enough: the file waits until it changes or is gone.
      log.LogWrite("ServiceExecute: Error delete import file <" + shownName + "> (" + error + ").",
                   5);
      memory.Remember(file.entry);
    }
  }
}

}  // namespace

bool ImportScanMemory::Contains(const FileEntry& entry) const {
  return entries_.count(KeyOf(entry)) != 0;
}

void ImportScanMemory::Remember(const FileEntry& entry) {
  entries_.insert(KeyOf(entry));
}

void ImportScanMemory::ForgetAllBut(const std::vector<FileEntry>& listing) {
  std::set<Key> kept;
  for (const FileEntry& entry : listing) {
    if (Contains(entry))
      kept.insert(KeyOf(entry));
  }
  entries_ = std::move(kept);
}

ImportScanMemory::Key ImportScanMemory::KeyOf(const FileEntry& entry) {
  return {entry.Name, entry.ModifiedMillis, entry.Size};
}

int64_t CommandSequence::Next(int64_t nowMillis) {
  last_ = std::max(last_ + 1, nowMillis * 1000);
  return last_;
}

bool ImportScan(const MServiceSettings& settings, LogSink& log, const Clock& clock,
                ImportScanMemory& memory, CommandSequence& sequence, const QueueFlush& flush) {
  std::string queryPath;
  std::vector<QueuedImport> queued;
  try {
    const MSettingsValues values = settings.Snapshot();
    const std::vector<MScaleState> scales = settings.ScaleListCopy();
    if (scales.empty() || values.ScaleListError) {
      log.LogWrite("ServiceExecute: Error in list scale.", 5);
      return false;
    }
    log.LogWrite("ServiceExecute: Start find import files.", 0);
    log.LogWrite("Find path: " + values.ImportPath, 0);

    // The listing is taken whole before any file is handled.
    const bool found = DirectoryExists(values.ImportPath);
    std::vector<FileEntry> entries;
    if (found) {
      log.LogWrite("ServiceExecute: Find import file <.>.", 0);
      log.LogWrite("ServiceExecute: Find import file <..>.", 0);
      entries = ListFolder(values.ImportPath, "*.*");
      for (const FileEntry& entry : entries) {
        log.LogWrite("ServiceExecute: Find import file <" + SingleLineText(entry.Name) + ">.", 0);
      }
    }
    const int code = found ? kSearchNoMoreFiles : kSearchPathNotFound;
    log.LogWrite("Search end. Return code: " + std::to_string(code), 0);
    log.LogWrite(code == kSearchNoMoreFiles ? "No more files." : "Unknown find error.", 0);

    memory.ForgetAllBut(entries);
    queryPath = values.QueryPath;
    QueueImportFiles(values, scales, entries, log, clock, memory, sequence, &queued);
  } catch (const std::exception& e) {
    log.LogWrite(std::string("ServiceExecuteImport: ") + e.what(), 5);
  }
  try {
    DeleteQueuedImports(queryPath, queued, log, memory, flush);
  } catch (const std::exception& e) {
    log.LogWrite(std::string("ServiceExecuteImport: ") + e.what(), 5);
  }
  return true;
}

int ImportCommandNumber(const std::string& fileName) {
  const std::string ext = AsciiLower(ExtractFileExt(fileName));
  if (ext.empty())
    return -1;
  for (int i = 0; i < kImportFileKindCount; ++i) {
    if (ImportFileKind(i) == ext)
      return i < 2 ? i : i - 1;
  }
  return -1;
}

int ImportTargetScale(const std::string& fileName, int32_t importExtraFormat,
                      const std::string& divider) {
  const std::string ext = ExtractFileExt(fileName);
  const std::string base = fileName.substr(0, fileName.size() - ext.size());
  const int length = static_cast<int>(base.size());
  bool named = false;
  if ((importExtraFormat == 1 || importExtraFormat == 2) && length >= 3) {
    named = true;
  } else if (length > 3 && !divider.empty()) {
    const size_t at = base.find(divider);
    named = at != std::string::npos && static_cast<int>(at) + 1 == length - 3;
  }
  if (!named)
    return 0;
  int32_t number = 0;
  if (!TryStrToInt(base.substr(length - 3), &number))
    number = 0;
  return number >= 1 && number <= 254 ? number : 0;
}

}  // namespace tarvo
