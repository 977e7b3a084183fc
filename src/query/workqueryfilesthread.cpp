#include "query/workqueryfilesthread.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <mutex>
#include <shared_mutex>
#include <system_error>
#include <utility>

#include "common/fileswork.h"
#include "common/structdefines.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "query/file_transfers.h"
#include "query/plu_parser.h"
#include "query/plu_transfer.h"
#include "query/settings_transfer.h"
#include "query/step_context.h"
#include "settings/inifile.h"

namespace tarvo {

namespace {

constexpr char kCommandSection[] = "ServiceCommand";

constexpr int64_t kScanBaseMs = 20000;
constexpr int64_t kRetryBaseMs = 600000;

using LogLines = std::vector<std::pair<std::string, int>>;

// A command file key as an integer; -1 when missing or not an integer.
int32_t CommandInt(const IniFile& ini, const std::string& key) {
  int32_t value = -1;
  if (!TryParseSettingInt(ini.ReadString(kCommandSection, key, ""), &value))
    return -1;
  return value;
}

// Starts a stopped timer; a running one keeps its count.
void Arm(DeadlineTimer& timer) {
  if (!timer.Enabled())
    timer.SetEnabled(true);
}

// A queued command as the claim sees it.
struct QueuedCommand {
  std::string Name;       // the .cmd file's name
  bool HasScale = false;  // false when unreadable or without a "Scale" key
  std::string Scale;
  int64_t Sequence = 0;
};

// The command's "Sequence"; 0, the oldest, when missing or not an integer.
int64_t SequenceOf(const IniFile& ini) {
  const std::string text = ini.ReadString(kCommandSection, "Sequence", "");
  int64_t value = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, code] = std::from_chars(text.data(), end, value);
  return code == std::errc() && stop == end ? value : 0;
}

// The command files of `folder` in the order they are to be claimed: by
// Sequence, then in listing order.
std::vector<QueuedCommand> QueuedCommands(const std::string& folder) {
  std::vector<QueuedCommand> commands;
  for (const FileEntry& entry : ListFolder(folder, "*.cmd")) {
    if (entry.Kind != FileKind::kRegular)  // a folder or a link is never a command
      continue;
    QueuedCommand command;
    command.Name = entry.Name;
    IniFile ini;
    if (ini.LoadFromFile(IncludeTrailingPathDelimiter(folder) + entry.Name) &&
        ini.KeyExists(kCommandSection, "Scale")) {
      command.HasScale = true;
      command.Scale = ini.ReadString(kCommandSection, "Scale", "");
      command.Sequence = SequenceOf(ini);
    }
    commands.push_back(std::move(command));
  }
  std::stable_sort(
      commands.begin(), commands.end(),
      [](const QueuedCommand& a, const QueuedCommand& b) { return a.Sequence < b.Sequence; });
  return commands;
}

bool Contains(const std::vector<std::string>& ips, const std::string& ip) {
  return std::any_of(ips.begin(), ips.end(),
                     [&ip](const std::string& other) { return SameTextAnsi(other, ip); });
}

void AppendItems(const std::vector<std::string>& ips, LogLines* lines) {
  for (size_t i = 0; i < ips.size(); ++i)
    lines->emplace_back("Item " + std::to_string(i) + " = " + ips[i], 0);
}

}  // namespace

TWorkQueryFilesThread::TWorkQueryFilesThread(const ScaleWorkContext& context)
    : TScaleWorkThread(context),
      ScanTimer(std::make_unique<DeadlineTimer>(clock(), kScanBaseMs, false)),
      RetryTimer(std::make_unique<DeadlineTimer>(clock(), kRetryBaseMs, false)),
      RetryWorkTimer(std::make_unique<DeadlineTimer>(clock(), kRetryBaseMs, false)) {}

TWorkQueryFilesThread::~TWorkQueryFilesThread() {
  WaitFor();
}

int64_t TWorkQueryFilesThread::Scaled(int64_t ms) const {
  return std::max<int64_t>(1, std::llround(static_cast<double>(ms) * timer_scale_));
}

int64_t TWorkQueryFilesThread::LongRetryInterval() const {
  return Scaled(static_cast<int64_t>(Handle() % 1000) * 10 + kRetryBaseMs);
}

int64_t TWorkQueryFilesThread::ScanInterval() const {
  return Scaled(static_cast<int64_t>(Handle() % 1000) * 10 + kScanBaseMs);
}

TWorkQueryFilesThread::Folders TWorkQueryFilesThread::ReadFolders() const {
  Folders folders;
  {
    std::shared_lock<std::shared_mutex> lock(Settings->Lock);
    folders.QueryPath = Settings->QueryPath;
    folders.EnableQueryArchive = Settings->EnableQueryArchive;
  }
  // An empty setting never makes the working directory the query folder.
  if (folders.QueryPath.empty())
    folders.QueryPath = IncludeTrailingPathDelimiter(Settings->ProgramFolder()) + "Query";
  return folders;
}

void TWorkQueryFilesThread::Execute() {
  BeginExecute();
  for (;;) {
    const PassEnd end = RunPass();
    if (end == PassEnd::kLeave)
      break;
    int64_t sleep = kPassSleepMs;
    if (end == PassEnd::kNoSleep) {
      // Nothing can happen before the next timer is due.
      for (const DeadlineTimer* timer : {ScanTimer.get(), RetryTimer.get(), RetryWorkTimer.get()}) {
        const int64_t due = timer->MillisUntilDue();
        if (due >= 0)
          sleep = std::min(sleep, due);
      }
    }
    clock().SleepMillis(sleep);
    if (Terminated())
      break;
  }
  EndExecute();
}

void TWorkQueryFilesThread::BeginExecute() {
  timer_scale_ = TimerScale();
  ScanTimer->SetInterval(ScanInterval());
  RetryTimer->SetInterval(LongRetryInterval());
  RetryWorkTimer->SetInterval(LongRetryInterval());
  ScanTimer->SetEnabled(true);
  RetryTimer->SetEnabled(false);
  RetryWorkTimer->SetEnabled(false);

  Busy = false;
  WorkDone = false;
  RetryDue = false;
  ScanDue = false;
  RetryPending = false;
  WorkAllowed = true;
  PLUList.clear();
  MessageList.clear();
  Operation = -1;

  AddLog("Scan interval = " + std::to_string(ScanTimer->Interval()), 0);
  AddLog("Retry interval = " + std::to_string(RetryTimer->Interval()), 0);
  AddLog("Execute start.", 1);
}

void TWorkQueryFilesThread::EndExecute() {
  AddLog("Execute end.", 1);
}

TWorkQueryFilesThread::PassEnd TWorkQueryFilesThread::RunPass() {
  ServeTimers();
  if (!Busy && ScanDue)
    ClaimCommand();
  if (Busy && WorkAllowed) {
    const PassEnd end = CarryOut();
    if (end != PassEnd::kSleep)
      return end;
  }
  if (RetryDue) {
    const PassEnd end = RetrySend();
    if (end != PassEnd::kSleep)
      return end;
  }
  if (!RetryTimer->Enabled() && WorkDone)
    FinishCommand();
  return PassEnd::kSleep;
}

void TWorkQueryFilesThread::ServeTimers() {
  if (ScanTimer->Fire())
    OnTimerScan();
  if (RetryTimer->Fire())
    OnTimerRetry();
  if (RetryWorkTimer->Fire())
    OnTimerRetryWork();
}

void TWorkQueryFilesThread::OnTimerScan() {
  ScanDue = true;
  ScanTimer->SetEnabled(false);
  AddLog("OnTimerScan file scan fired.", 0);
}

void TWorkQueryFilesThread::OnTimerRetry() {
  RetryDue = true;
  RetryTimer->SetEnabled(false);
  RetryTimer->SetInterval(LongRetryInterval());
  AddLog("OnTimerRetry file scan fired.", 0);
}

void TWorkQueryFilesThread::OnTimerRetryWork() {
  WorkAllowed = true;
  RetryWorkTimer->SetEnabled(false);
  RetryWorkTimer->SetInterval(LongRetryInterval());
  AddLog("OnTimerRetryWork fired.", 0);
}

bool TWorkQueryFilesThread::LoadCommandData() {
  const StepContext step = MakeStepContext(*this);
  switch (Operation) {
    case kCmdSetSettings:
      return LoadScaleSettingsFile(step);
    case kCmdSetPLU:
    case kCmdUpdatePLU: {
      // "Loaded" is recorded only for data that loaded: a file without a
      // valid PLU keeps the state the load step gave it (4), so the journal
      // and the status show why the command was set aside. So does a file
      // with a record too large for the scale: it is refused here, before
      // the send clears anything, since no retry could deliver it.
      const bool loaded = LoadPLUFile(step, Settings->Snapshot()) && CheckPLUData(step);
      if (loaded)
        SetScaleState(kStatePLULoaded);
      return loaded;
    }
    case kCmdSetLabel:
      return LoadLabelFile(step);
    case kCmdSetKeys:
      return LoadHotKeysFile(step);
    case kCmdSetFont:
      return LoadFontFile(step);
    case kCmdSetLogo:
      return LoadLogoFile(step);
    default:
      return false;
  }
}

bool TWorkQueryFilesThread::SendCommandData() {
  const StepContext step = MakeStepContext(*this);
  switch (Operation) {
    case kCmdSetSettings:
      return SendScaleSettings(step);
    case kCmdSetPLU:
    case kCmdUpdatePLU:
      return SendPLUData(step);
    case kCmdSetLabel:
      return SendLabelFile(step);
    case kCmdSetKeys:
      return SendHotKeys(step);
    case kCmdSetFont:
      return SendFontFile(step);
    case kCmdSetLogo:
      return SendLogoFile(step);
    default:
      return false;
  }
}

// Section A. The log lines of the search are written after CriticalFind is
// released, so that no worker waits for the main thread while holding it.
void TWorkQueryFilesThread::ClaimCommand() {
  ScanDue = false;
  CommandFileName.clear();
  const Folders folders = ReadFolders();
  AddLog("Enter critical section <CriticalFind>.", 0);
  AddLog("Find path: " + folders.QueryPath, 0);
  LogLines lines;
  std::string error;
  try {
    std::lock_guard<std::mutex> lock(Context().Shared->CriticalFind);
    lines.emplace_back("Search command files.", 0);
    const std::string folder = IncludeTrailingPathDelimiter(folders.QueryPath);
    int code = DirectoryExists(folders.QueryPath) ? kSearchNoMoreFiles : kSearchPathNotFound;
    // The scales whose oldest command was met: it decides for the scale.
    std::vector<std::string> decided;
    for (const QueuedCommand& command : QueuedCommands(folders.QueryPath)) {
      if (command.HasScale && Contains(decided, command.Scale))
        continue;  // an older command of the scale is claimed or taken now
      const std::string lockFile = folder + ChangeFileExt(command.Name, ".lck");
      if (FileExists(lockFile)) {
        if (command.HasScale)
          decided.push_back(command.Scale);
        continue;
      }
      lines.emplace_back("Lock command file " + command.Name + ".", 1);
      // The exclusive creation is the claim, also against workers of
      // another process; a lock file that appeared meanwhile means taken.
      if (!CreateFileExclusive(lockFile)) {
        if (command.HasScale)
          decided.push_back(command.Scale);
        continue;
      }
      // The listing may be stale: a worker that finished this command
      // deletes its .cmd before its .lck, so a command gone by now is not
      // claimed (it would be set aside as bad after it was delivered). Its
      // scale's next command is free to go.
      if (!FileExists(folder + command.Name)) {
        DeleteFile(lockFile);
        continue;
      }
      AppendToFile(lockFile, std::string(kClassName) + " " + std::to_string(Handle()) + "\n");
      CommandFileName = folder + command.Name;
      query_path_ = folders.QueryPath;
      Busy = true;
      code = 0;
      break;
    }
    ScanTimer->SetEnabled(!Busy);
    lines.emplace_back("Search end. Return code: " + std::to_string(code), 0);
  } catch (...) {
    // The worker must survive anything and search again.
    error = ExceptionText(std::current_exception());
    if (!Busy)
      Arm(*ScanTimer);  // keep searching
  }
  for (const auto& [text, level] : lines)
    AddLog(text, level);
  AddLog("Leave critical section <CriticalFind>.", 0);
  if (!error.empty())
    AddLog(error, 5);
}

bool TWorkQueryFilesThread::BlockScale() {
  AddLog("Enter critical section <WorkIPList>.", 0);
  LogLines lines;
  bool blocked = false;
  {
    WorkerPoolShared& shared = *Context().Shared;
    std::lock_guard<std::mutex> lock(shared.WorkIPList);
    if (Contains(shared.WorkIPs, ip_)) {
      lines.emplace_back("No set block <" + ip_ + ">.", 0);
    } else {
      shared.WorkIPs.push_back(ip_);
      blocked = true;
      lines.emplace_back("<" + ip_ + "> blocked.", 0);
      AppendItems(shared.WorkIPs, &lines);
    }
  }
  for (const auto& [text, level] : lines)
    AddLog(text, level);
  AddLog("Leave critical section <WorkIPList>.", 0);
  return blocked;
}

void TWorkQueryFilesThread::UnblockScale() {
  AddLog("Enter critical section <WorkIPList>.", 0);
  LogLines lines;
  {
    WorkerPoolShared& shared = *Context().Shared;
    std::lock_guard<std::mutex> lock(shared.WorkIPList);
    const auto it = std::find_if(shared.WorkIPs.begin(), shared.WorkIPs.end(),
                                 [this](const std::string& ip) { return SameTextAnsi(ip, ip_); });
    if (it != shared.WorkIPs.end())
      shared.WorkIPs.erase(it);
    lines.emplace_back("<" + ip_ + "> unblocked.", 0);
    AppendItems(shared.WorkIPs, &lines);
  }
  for (const auto& [text, level] : lines)
    AddLog(text, level);
  AddLog("Leave critical section <WorkIPList>.", 0);
}

void TWorkQueryFilesThread::CopyCommandTo(const std::string& name) {
  const std::string folder = IncludeTrailingPathDelimiter(query_path_) + name;
  ForceDirectories(folder);
  CopyFileToFolder(CommandFileName, folder);
  CopyFileToFolder(ChangeFileExt(CommandFileName, ".dat"), folder);
}

// Section B.
TWorkQueryFilesThread::PassEnd TWorkQueryFilesThread::CarryOut() {
  bool blocked = false;
  try {
    IniFile command;
    std::string error;
    if (!command.LoadFromFile(CommandFileName, &error)) {
      // Busy stays set: the next pass carries the command out again.
      AddLog("Cannot open file \"" + CommandFileName + "\". " + error, 5);
      return PassEnd::kSleep;
    }
    ip_ = command.ReadString(kCommandSection, "Scale", "");
    if (!BlockScale()) {
      WorkAllowed = false;
      RetryWorkTimer->SetInterval(ScanInterval());
      Arm(*RetryWorkTimer);
      return PassEnd::kNoSleep;
    }
    blocked = true;

    // The command's fields are in place before the first state record, so
    // that the record names the command being started.
    Operation = CommandInt(command, "CommandNo");
    FontNumber = CommandInt(command, "FontNumber");
    DataFileName = ChangeFileExt(CommandFileName, ".dat");
    OriginalFileName = command.ReadString(kCommandSection, "OriginalFileName", "");

    Driver->SetProperty("IPAddress", AnsiToUtf8(ip_));
    SetScaleState(kStateNone);
    AddLog("Work with scale " + ip_ + ".", 1);

    Driver->Invoke("GetScaleSerialNumber", {});
    AddLog("<" + ip_ +
               "> Serial number: " + Utf8ToAnsi(Driver->GetProperty("SerialNumber").AsText()) +
               ". Version: " + Utf8ToAnsi(Driver->GetProperty("ScaleVersion").AsText()),
           1);
    AddLog("<" + ip_ + "> Error state: <" + Driver->GetProperty("LastError").AsText() +
               ">. Text: " + Utf8ToAnsi(Driver->GetProperty("LastErrorMessage").AsText()) + ".",
           1);

    bool loaded = false;
    if (Operation == -1) {
      loaded = false;
    } else if (!FileExists(DataFileName)) {
      SetScaleState(kStateUnreadable);  // no data: a bad command for every kind
    } else {
      loaded = LoadCommandData();
    }

    if (!loaded) {
      CopyCommandTo("Bad");
      WriteJournal();
      AddLog("<" + ip_ + "> Error load file. No or bad data in input file.", 5);
      WorkDone = true;
    } else if (SendCommandData()) {
      RetryPending = false;
      AddLog("<" + ip_ + "> Transfer success.", 1);
      WriteJournal();
      WorkDone = true;
    } else if (Terminated()) {
      blocked = false;
      UnblockScale();
      return PassEnd::kLeave;
    } else {
      WriteJournal();
      AddLog("<" + ip_ + "> Error transfer.", 5);
      Arm(*RetryTimer);
      RetryPending = true;
      AddLog("<" + ip_ + "> Retry timer started.", 4);
    }
    blocked = false;
    UnblockScale();
    Busy = false;
  } catch (...) {
    // The worker must survive anything and release the scale it claimed.
    const std::string error = ExceptionText(std::current_exception());
    if (blocked)
      UnblockScale();
    // Busy stays set: the next pass carries the command out again.
    AddLog(error, 5);
  }
  return PassEnd::kSleep;
}

// Section C.
TWorkQueryFilesThread::PassEnd TWorkQueryFilesThread::RetrySend() {
  RetryDue = false;
  bool blocked = false;
  try {
    AddLog("<" + DriverIP() + "> Retry send PLU data.", 4);
    if (!BlockScale()) {
      RetryTimer->SetInterval(ScanInterval());
      Arm(*RetryTimer);
      return PassEnd::kNoSleep;
    }
    blocked = true;
    if (SendCommandData()) {
      AddLog("<" + DriverIP() + "> Transfer success.", 1);
      WriteJournal();
      WorkDone = true;
      RetryPending = false;
    } else if (Terminated()) {
      blocked = false;
      UnblockScale();
      return PassEnd::kLeave;
    } else {
      AddLog("<" + DriverIP() + "> Error transfer.", 5);
      WriteJournal();
      Arm(*RetryTimer);
      RetryPending = true;
    }
    blocked = false;
    UnblockScale();
  } catch (...) {
    // The worker must survive anything and release the scale it claimed.
    const std::string error = ExceptionText(std::current_exception());
    if (blocked)
      UnblockScale();
    AddLog(error, 5);
    // The command stays claimed by this worker: without a new retry it would
    // wait for a worker restart.
    if (!WorkDone) {
      Arm(*RetryTimer);
      RetryPending = true;
      AddLog("<" + ip_ + "> Retry timer started.", 4);
    }
  }
  return PassEnd::kSleep;
}

// Section D.
void TWorkQueryFilesThread::FinishCommand() {
  bool deleted = false;
  try {
    if (ReadFolders().EnableQueryArchive)
      CopyCommandTo("Archive");
    WorkDone = false;
    AddLog("<" + DriverIP() + "> Delete work files.", 1);
    DeleteFile(CommandFileName);
    DeleteFile(ChangeFileExt(CommandFileName, ".dat"));
    DeleteFile(ChangeFileExt(CommandFileName, ".lck"));
    deleted = true;
    // The memory goes too: an idle worker must not keep the buffers of the
    // largest file it ever carried for the life of the service.
    std::vector<MPLUData>().swap(PLUList);
    MMessages().swap(MessageList);
    std::vector<std::string>().swap(ValueList);
    std::string().swap(FileData);
    Arm(*ScanTimer);
  } catch (...) {
    // The worker must survive anything and finish the command later.
    AddLog(ExceptionText(std::current_exception()), 5);
    if (deleted) {
      Arm(*ScanTimer);
    } else {
      WorkDone = true;  // the files are still there: finish on the next pass
    }
  }
}

}  // namespace tarvo
