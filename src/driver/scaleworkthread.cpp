#include "driver/scaleworkthread.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <shared_mutex>
#include <utility>

#include "common/newrxstrutils.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/process.h"

namespace tarvo {

namespace {

// Operation names pad to this width in the dated journal.
constexpr size_t kJournalOperationWidth = 11;

// Stands in for a driver that could not be created: every member raises the
// creation error, so each step that needs the driver fails where it calls it.
class UnusableDriver : public AutomationObject {
 public:
  explicit UnusableDriver(std::string why) : why_(std::move(why)) {}

  Variant GetProperty(const std::string&) override { throw AutomationError(why_); }
  void SetProperty(const std::string&, const Variant&) override { throw AutomationError(why_); }
  Variant Invoke(const std::string&, const std::vector<Variant>&) override {
    throw AutomationError(why_);
  }

 private:
  const std::string why_;
};

}  // namespace

std::string ExceptionText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    // Names what a handler that must survive anything caught.
    return "Unknown exception.";
  }
}

const char* JournalOperationName(int32_t operation) {
  switch (operation) {
    case 0:
      return "SetSettings";
    case 1:
      return "SetPLUs";
    case 2:
      return "UpdatePLUs";
    case 3:
      return "SetLabels";
    case 4:
      return "SetKeys";
    case 5:
      return "SetFonts";
    case 6:
      return "SetLogo";
    default:
      return "Error";
  }
}

std::string JournalLine(int32_t extraFormat, const DateTime& now, const std::string& ip,
                        int32_t operation, int32_t status, const std::string& originalFileName) {
  if (extraFormat == 2) {
    return FormatDateTime("dd.mm.yyyy,hh:nn:ss,", now) + ip + "," + std::to_string(status) + "," +
           SingleLineText(originalFileName);
  }
  std::string name = JournalOperationName(operation);
  if (name.size() < kJournalOperationWidth)
    name.resize(kJournalOperationWidth, ' ');
  return FormatDateTime("dd.mm.yyyy hh:nn:ss", now) + " IP=" + ip + " Operation=" + name +
         " Status=" + std::to_string(status) +
         " File=" + SingleLineText(ExtractFileName(originalFileName));
}

std::string JournalFileName(int32_t extraFormat, const DateTime& now,
                            const std::string& journalsPath) {
  const std::string folder = IncludeTrailingPathDelimiter(journalsPath);
  if (extraFormat == 2)
    return folder + "sclogo.csv";
  return folder + FormatDateTime("dd-mm-yyyy", now) + ".log";
}

TScaleWorkThread::TScaleWorkThread(const ScaleWorkContext& context)
    : Settings(context.Settings), context_(context) {
  if (context_.Registry == nullptr) {
    driver_error_ = "Invalid class string";
  } else {
    try {
      Driver = context_.Registry->CreateOleObject(kScaleDriverProgId);
      Driver->SetProperty("Driver_EnableShowProgress", false);
      Driver->SetProperty("ClearAccountAfterUpload", true);
    } catch (const std::exception& e) {
      driver_error_ = e.what();
    }
  }
  if (Driver == nullptr)
    Driver = std::make_unique<UnusableDriver>(driver_error_);
}

TScaleWorkThread::~TScaleWorkThread() {
  WaitFor();
  if (thread_.joinable())
    thread_.detach();  // destroyed from its own thread: nothing left to wait for
  Driver.reset();
}

void TScaleWorkThread::Start() {
  if (thread_.joinable() || handle_ != 0)
    return;
  std::mutex mu;
  std::condition_variable cv;
  bool known = false;
  thread_ = std::thread([this, &mu, &cv, &known] {
    // The driver is called on this thread.
    const ComThreadScope com;
    {
      // Notified under the lock: Start() cannot return, and free these,
      // before the notification is done.
      std::lock_guard<std::mutex> lock(mu);
      handle_ = CurrentThreadHandle();
      known = true;
      cv.notify_all();
    }
    LogStart();
    try {
      Execute();
    } catch (...) {
      // The thread must survive anything, so that Finished is set.
      AddLog(ExceptionText(std::current_exception()), 5);
    }
    Finished = true;
  });
  std::unique_lock<std::mutex> lock(mu);
  cv.wait(lock, [&known] { return known; });
}

void TScaleWorkThread::WaitFor() {
  Terminate();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
    thread_.join();
}

void TScaleWorkThread::BindToCallingThread() {
  handle_ = CurrentThreadHandle();
  LogStart();
}

void TScaleWorkThread::LogStart() {
  if (!driver_error_.empty())
    AddLog(driver_error_, 5);
  AddLog("Started.", 2);
}

void TScaleWorkThread::AddLog(const std::string& text, int level) {
  LogText = text;
  LogLevel = level;
  try {
    if (context_.LogWanted && !context_.LogWanted(level))
      return;
    if (context_.MainQueue != nullptr) {
      context_.MainQueue->Synchronize([this] { DoLog(); });
    } else {
      DoLog();
    }
  } catch (...) {
    // The worker must survive anything, its log handler's failures included;
    // the line is lost.
  }
}

void TScaleWorkThread::DoLog() {
  if (OnLog)
    OnLog(this, "ThreadWork (" + std::to_string(Handle()) + "): " + LogText, LogLevel);
}

std::string TScaleWorkThread::DriverIP() {
  return Utf8ToAnsi(Driver->GetProperty("IPAddress").AsText());
}

void TScaleWorkThread::SetScaleState(int32_t state) {
  Status = state;
  const std::string ip = DriverIP();
  bool recorded = false;
  {
    // The record is written under the settings lock held exclusively, so a
    // reader copying the scale list under the shared lock sees whole records.
    std::unique_lock<std::shared_mutex> settings(Settings->Lock);
    for (MScaleState& entry : Settings->ScaleList) {
      if (entry.IP != ip)
        continue;
      std::lock_guard<std::mutex> lock(context_.Shared->ScaleStateLock);
      entry.State = state;
      entry.Operation = Operation;
      entry.StateTime = clock().LocalNow();
      recorded = true;
      break;
    }
  }
  if (recorded)
    AddLog("Set scale state: ip=" + ip + " state=" + std::to_string(state), 1);
}

void TScaleWorkThread::WriteJournal() {
  bool enabled;
  int32_t extraFormat;
  std::string journalsPath;
  {
    std::shared_lock<std::shared_mutex> lock(Settings->Lock);
    enabled = Settings->EnableJournals;
    extraFormat = Settings->ImportExtraFormat;
    journalsPath = Settings->JournalsPath;
  }
  if (!enabled)
    return;
  // An empty setting never makes the working directory the journal folder.
  if (journalsPath.empty())
    journalsPath = IncludeTrailingPathDelimiter(Settings->ProgramFolder()) + "Log";
  try {
    const std::string ip = DriverIP();
    const DateTime now = clock().LocalNow();
    const std::string line =
        JournalLine(extraFormat, now, ip, Operation, Status, OriginalFileName) + "\r\n";
    const std::string file = JournalFileName(extraFormat, now, journalsPath);
    std::string error;
    // Appending keeps the earlier entries as they are, whatever happens to
    // this one.
    auto append = [&] {
      ForceDirectories(ExtractFileDir(file));
      std::string reason;
      if (!AppendToFile(file, line, &reason))
        error = "Cannot write file \"" + file + "\". " + reason;
    };
    bool written = false;
    if (context_.MainQueue != nullptr)
      written = context_.MainQueue->Synchronize(append);
    if (!written)
      append();  // no main thread to hand it to (any more)
    if (!error.empty())
      AddLog(error, 5);
  } catch (const std::exception& e) {
    AddLog(e.what(), 5);
  }
}

}  // namespace tarvo
