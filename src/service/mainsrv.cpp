#include "service/mainsrv.h"

#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "common/fileswork.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/system_formats.h"
#include "service/import_scan.h"
#include "service/program.h"

namespace tarvo {

namespace {

// The maker's contacts shown in the install and uninstall notices.
constexpr char kSupportPhone[] = "8-800-000-00-00";
constexpr char kSupportSite[] = "www.tarvo.example";

// Interval of the main loop's pass.
constexpr int64_t kLoopSleepMs = 300;

const char kLoopRule[] = "ServiceExecute: *****************************************************";

}  // namespace

TMainTarvoService::TMainTarvoService(const ServiceContext& context)
    : context_(context),
      clock_(context.clock ? *context.clock : *Clock::Real()),
      Timer_ImportInterval(clock_, 1000, false) {
  // With port base 0 every server gets a free port of the system's choice.
  const auto port = [&](int offset) { return context_.PortBase ? context_.PortBase + offset : 0; };
  CmdTCPServer = std::make_unique<CommandServer>(*this, context_.BindAddress, port(0));
  TCPServer_Log = std::make_unique<LogServer>(*this, context_.BindAddress, port(1));
  TCPServer_Stat = std::make_unique<StatServer>(*this, context_.BindAddress, port(2));
  CmdTCPServer_Stat = std::make_unique<StatCommandServer>(*this, context_.BindAddress, port(3));
  // The log exists before anything else can write to it; the settings
  // record holds the construction values (log file on, MinLevel 5, no fresh
  // log, no errors).
  LogProcessInfo process = LogProcessInfo::Current();
  process.ExePath = context_.ExePath;
  log_ =
      std::make_unique<TSystemLog>(LogOptions{slTime, slDate, slNumber, slHeader}, clock_, process);
  settings_ = std::make_unique<MServiceSettings>(context_.ExePath, *log_, clock_);
  log_->SetOption(slDisabled, !settings_->EnableLogFile);
  log_->SetOption(slRewrite, settings_->ReWriteLog);
  LogWrite("ServiceConstructor: Log created.", 2);
  log_clients_ = std::make_unique<LogClients>();
  settings_->IniFileName = ChangeFileExt(context_.ExePath, ".ini");
  log_->SetMinLevel(5);
  LogWrite("ServiceConstructor: Object created.", 2);
}

TMainTarvoService::~TMainTarvoService() {
  ServiceDestroy();
  ScaleDriver.reset();
}

void TMainTarvoService::ServiceDestroy() {
  if (!log_)
    return;
  LogWrite("ServiceDestroy: Start destroing.", 3);
  TCPServer_Log->Deactivate();
  TCPServer_Stat->Deactivate();
  CmdTCPServer->Deactivate();
  CmdTCPServer_Stat->Deactivate();
  LogWrite("ServiceDestroy: Delete internal objects.", 1);
  std::lock_guard<std::mutex> lock(query_threads_mutex_);
  if (!QueryThreads.empty()) {
    // The system is going down and the workers were never stopped: a running
    // thread object is not destroyed. They are told to end and left, with
    // the settings they read, to the end of the process, which follows at
    // once. Their log lines no longer reach the log: the main thread's
    // hand-off is closed by now.
    for (auto& worker : QueryThreads) {
      worker->Terminate();
      worker.release();
    }
    QueryThreads.clear();
    pool_shared_.release();
    settings_.release();
  }
  // The settings record refers to the log, so it goes first; the live-log
  // list goes last, after the log, whose closing lines still reach it.
  settings_.reset();
  log_.reset();
  log_clients_.reset();
}

bool TMainTarvoService::HasSwitch(const std::string& name) const {
  return FindCmdLineSwitch(context_.Args, name);
}

void TMainTarvoService::LogWrite(const std::string& text, int level) {
  if (!log_)
    return;
  tarvo::LogWrite(*log_, log_clients_.get(), clock_, text, level);
  if (context_.echo) {
    try {
      context_.echo(text, level);
    } catch (...) {
      // Showing the event is a courtesy; the log has it already.
    }
  }
}

void TMainTarvoService::SwitchLogFile(bool enabled) {
  log_->SetOption(slDisabled, !enabled);
}

bool TMainTarvoService::ServiceStart() {
  LogWrite("ServiceStart: Service starting.", 1);
  ActivateStatusServers();

  MServiceSettings& settings = *settings_;
  LogWrite("Settings: Load settings.", 0);
  settings.LoadSettings();
  for (const std::string& line : settings.GlobalSettingsCopy())
    LogWrite(line, 0);

  LogWrite("Settings: Load list scales.", 0);
  settings.LoadScaleList();
  const MSettingsValues loaded = settings.Snapshot();
  const std::vector<MScaleState> scales = settings.ScaleListCopy();
  if (loaded.ScaleListError) {
    LogWrite("Settings: Error loading scales.", 5);
  } else {
    LogWrite("Settings: Loaded " + std::to_string(scales.size()) + " scales.", 1);
  }
  for (const MScaleState& scale : scales)
    LogWrite(scale.IP, 0);

  LogWrite("Settings: Load field config.", 0);
  settings.LoadFieldsConfig();
  const MSettingsValues values = settings.Snapshot();
  if (values.FieldConfigError) {
    LogWrite("Settings: Error in field config.", 5);
  } else {
    LogWrite("Settings: Loaded field config.", 1);
  }

  try {
    SwitchLogFile(values.EnableLogFile);
  } catch (const std::exception&) {
    // A failure of the switch leaves the log as it was.
  }

  try {
    ScaleDriver = context_.registry->CreateOleObject(kScaleDriverProgId);
  } catch (const std::exception& e) {
    LogWrite("ServiceStart: Tarvo OLE-driver not found!.", 5);
    LogWrite(std::string("ServiceStart: ") + e.what(), 5);
    return false;
  }
  try {
    ScaleDriver->SetProperty("Driver_EnableShowProgress", Variant(false));
    ScaleDriver->SetProperty("ClearAccountAfterUpload", Variant(true));
  } catch (const std::exception& e) {
    LogWrite(std::string("ServiceStart: ") + e.what(), 5);
    LogWrite("ServiceStart: Error call driver function!", 5);
  }

  DeleteQueryFiles(".lck");
  DeleteOrphanDataFiles();
  DeleteLeftoverTemporaries();
  CreateQueryThreads();
  ActivateCommandServers();

  Timer_ImportInterval.SetInterval(static_cast<int64_t>(values.ImportInterval) * 1000);
  Timer_ImportInterval.SetEnabled(true);
  LogWrite("ServiceStart: Service started.", 2);
  return true;
}

bool TMainTarvoService::ServiceStop() {
  LogWrite("ServiceStop: Service stop.", 3);
  DeleteQueryThreads();
  // A settings file that cannot be written (read-only, say) keeps what it
  // holds; the stop goes on.
  if (!settings_->SaveSettings())
    LogWrite("ServiceStop: Error save settings.", 5);
  if (!settings_->SaveScaleList())
    LogWrite("ServiceStop: Error save scale list.", 5);
  if (!settings_->SaveFieldsConfig())
    LogWrite("ServiceStop: Error save fields config.", 5);
  return true;
}

void TMainTarvoService::ServiceShutdown() {
  LogWrite("ServiceShutdown: Service shutdown.", 0);
  ShutdownRequested = true;
}

void TMainTarvoService::ServiceInstall() {
  LogWrite("Service: Install service.", 1);
  if (HasSwitch("SILENT") || !context_.notify)
    return;
  context_.notify(
      std::string("Установка службы\n\n") +
      "Сервер автоматической загрузки весов Tarvo установлен.\n\n" +
      "В случае возникновения вопросов по использованию ПО для весов Tarvo обращайтесь по "
      "телефону " +
      kSupportPhone + " или заходите на наш сайт " + kSupportSite + "\n");
}

void TMainTarvoService::ServiceUninstall() {
  LogWrite("Service: Delete service.", 1);
  if (HasSwitch("SILENT") || !context_.notify)
    return;
  context_.notify(std::string("Удаление службы\n\n") +
                  "Спасибо за использование комплекса ПО для весов Tarvo.\n\n" +
                  "В случае возникновения вопросов по его использованию звоните по телефону " +
                  kSupportPhone + " или заходите на наш сайт " + kSupportSite + "\n");
}

void TMainTarvoService::ProcessControlRequests() {
  if (!context_.pollControl)
    return;
  for (;;) {
    const ControlRequest request = context_.pollControl();
    if (request == ControlRequest::kNone)
      return;
    if (request == ControlRequest::kShutdown) {
      ServiceShutdown();
    } else if (!terminated_) {
      ServiceStop();
      terminated_ = true;
    }
  }
}

void TMainTarvoService::ServiceExecute() {
  ExecuteStartTime = clock_.LocalNow().Days();
  LogWrite("ServiceExecute: Execute begining.", 2);
  LogWrite(kLoopRule, 1);
  try {
    while (!terminated_ && !TerminateLoop) {
      if (ShutdownRequested) {
        ShutdownRequested = false;
        LogWrite("ServiceExecute: Shutdown command.", 0);
        TerminateLoop = true;
        shutdown_seen_ = true;
      }
      if (RestartTCPServersRequested) {
        RestartTCPServers();
        RestartTCPServersRequested = false;
        LogWrite("ServiceExecute: Restart TCP Servers.", 0);
      }
      RunRequestedStep(ReloadSettingsRequested, "ReloadSettings", [this] {
        LogWrite("ServiceExecute: Reload settings.", 0);
        const MSettingsValues values = settings_->Snapshot();
        if (values.EnableLogFile) {
          SwitchLogFile(true);
        } else {
          LogWrite("#LINE", 0);
          LogWrite("Service: Log-file disabled.", 1);
          LogWrite("#LINE", 0);
          SwitchLogFile(false);
        }
        Timer_ImportInterval.SetInterval(static_cast<int64_t>(values.ImportInterval) * 1000);
        RestartQueryThreadsRequested = true;
      });
      RunRequestedStep(RestartQueryThreadsRequested, "RestartQuery", [this] {
        LogWrite("ServiceExecute: Restart query threads.", 0);
        DeleteQueryThreads();
        DeleteQueryFiles(".lck");
        CreateQueryThreads();
      });
      RunRequestedStep(DeleteSendQueriesRequested, "DeleteSend", [this] {
        LogWrite("ServiceExecute: Delete send queries.", 0);
        DeleteQueryThreads();
        DeleteQueryFiles(".dat");
        DeleteQueryFiles(".cmd");
        DeleteQueryFiles(".lck");
        CreateQueryThreads();
      });
      if (Timer_ImportInterval.Fire())
        Timer_ImportIntervalTimer();
      if (ImportScanRequested) {
        ImportScanRequested = false;
        // An unusable scale list skips the rest of the pass.
        if (!ImportScan(*settings_, *this, clock_, import_memory_, command_sequence_))
          continue;
      }
      ProcessControlRequests();
      if (!terminated_ && !TerminateLoop)
        clock_.SleepMillis(kLoopSleepMs);
    }
  } catch (const std::exception& e) {
    LogWrite(std::string("ServiceExecute: ") + e.what(), 5);
  }
  LogWrite(kLoopRule, 1);
  LogWrite("ServiceExecute: Execute end.", 3);
}

void TMainTarvoService::ActivateServer(bool activated, const std::string& prefix,
                                       const std::string& error) {
  if (!activated)
    LogWrite(prefix + error, 5);
}

void TMainTarvoService::ActivateStatusServers() {
  std::string error;
  ActivateServer(TCPServer_Log->Activate(&error), "LogServerListenException: ", error);
  ActivateServer(TCPServer_Stat->Activate(&error), "StatServerListenException: ", error);
}

void TMainTarvoService::ActivateCommandServers() {
  std::string error;
  ActivateServer(CmdTCPServer->Activate(&error), CmdTCPServer->Names().ListenPrefix, error);
  ActivateServer(CmdTCPServer_Stat->Activate(&error), CmdTCPServer_Stat->Names().ListenPrefix,
                 error);
}

void TMainTarvoService::RestartTCPServers() {
  TCPServer_Log->Deactivate();
  TCPServer_Stat->Deactivate();
  CmdTCPServer->Deactivate();
  CmdTCPServer_Stat->Deactivate();
  std::string error;
  if (!TCPServer_Log->Activate(&error) || !TCPServer_Stat->Activate(&error) ||
      !CmdTCPServer->Activate(&error) || !CmdTCPServer_Stat->Activate(&error)) {
    throw std::runtime_error(error);
  }
}

int32_t TMainTarvoService::RetryQueryCount() const {
  std::lock_guard<std::mutex> lock(query_threads_mutex_);
  int32_t count = 0;
  for (const auto& worker : QueryThreads)
    count += worker->RetryPending ? 1 : 0;
  return count;
}

void TMainTarvoService::WriteLogEvent(const std::string& text, int level) {
  if (log_)
    log_->WriteEvent(CutEventText(text), level);
}

int TMainTarvoService::ServerPort(ServerId id) const {
  switch (id) {
    case ServerId::kLog:
      return TCPServer_Log->Active() ? TCPServer_Log->Port() : 0;
    case ServerId::kStat:
      return TCPServer_Stat->Active() ? TCPServer_Stat->Port() : 0;
    case ServerId::kCmdStat:
      return CmdTCPServer_Stat->Active() ? CmdTCPServer_Stat->Port() : 0;
    case ServerId::kCmd:
      break;
  }
  return CmdTCPServer->Active() ? CmdTCPServer->Port() : 0;
}

void TMainTarvoService::RunRequestedStep(std::atomic<bool>& requested, const char* name,
                                         const std::function<void()>& step) {
  if (!requested)
    return;
  try {
    step();
    requested = false;
  } catch (const std::exception& e) {
    LogWrite(std::string("ServiceExecute~") + name + ": " + e.what(), 5);
  }
}

void TMainTarvoService::CreateQueryThreads() {
  const MSettingsValues values = settings_->Snapshot();
  if (values.FieldConfigError || values.ScaleListError) {
    LogWrite("IntFunction: Errors in config. Threads not created.", 5);
    return;
  }
  pool_shared_ = std::make_unique<WorkerPoolShared>();
  ScaleWorkContext work;
  work.Settings = settings_.get();
  work.Registry = context_.registry;
  work.MainQueue = context_.mainQueue;
  // The same test LogWrite's receivers apply, read where the worker runs:
  // the level is atomic, the client count locked, the console fixed.
  work.LogWanted = [this](int32_t level) {
    return level >= log_->MinLevel() || log_clients_->Count() > 0 || context_.echo != nullptr;
  };
  work.clock = &clock_;
  work.Shared = pool_shared_.get();
  for (int32_t i = 1; i <= values.SendThreadsCount; ++i) {
    auto worker = std::make_unique<TWorkQueryFilesThread>(work);
    worker->OnLog = [this](TScaleWorkThread*, const std::string& text, int level) {
      LogWrite(text, level);
    };
    TWorkQueryFilesThread& started = *worker;
    {
      std::lock_guard<std::mutex> lock(query_threads_mutex_);
      QueryThreads.push_back(std::move(worker));
    }
    started.Start();
    LogWrite("IntFunction: Create thread " + std::to_string(started.Handle()), 0);
  }
}

void TMainTarvoService::DeleteQueryThreads() {
  std::vector<std::unique_ptr<TWorkQueryFilesThread>> workers;
  {
    // Taken out of the list first: the status server reads the list.
    std::lock_guard<std::mutex> lock(query_threads_mutex_);
    workers.swap(QueryThreads);
  }
  if (workers.empty())
    return;
  LogWrite("IntFunction: Deleting threads.", 0);
  // Every worker is told first, so that those waiting for a retry end
  // together; each then finishes the transfer it is in.
  for (auto& worker : workers)
    worker->Terminate();
  for (auto& worker : workers) {
    LogWrite("IntFunction: Delete thread " + std::to_string(worker->Handle()) + ".", 0);
    worker->WaitFor();
    worker.reset();
  }
  pool_shared_.reset();
}

void TMainTarvoService::DeleteOrphanDataFiles() {
  const std::string folder = IncludeTrailingPathDelimiter(settings_->Snapshot().QueryPath);
  if (folder.size() <= 1)
    return;
  for (const FileEntry& entry : ListFolder(folder, "*.dat")) {
    if (entry.Kind != FileKind::kRegular || FileExists(folder + ChangeFileExt(entry.Name, ".cmd")))
      continue;
    if (DeleteFile(folder + entry.Name)) {
      LogWrite("ServiceStart: Delete orphan data file <" + entry.Name + ">.", 1);
    } else {
      LogWrite("ServiceStart: Error delete orphan data file <" + entry.Name + ">.", 5);
    }
  }
}

void TMainTarvoService::DeleteLeftoverTemporaries() {
  const auto remove = [this](const std::string& folder, const FileEntry& entry) {
    if (DeleteFile(folder + entry.Name)) {
      LogWrite("ServiceStart: Delete leftover temporary file <" + entry.Name + ">.", 1);
    } else {
      LogWrite("ServiceStart: Error delete leftover temporary file <" + entry.Name + ">.", 5);
    }
  };
  const std::string query = IncludeTrailingPathDelimiter(settings_->Snapshot().QueryPath);
  if (query.size() > 1) {
    for (const FileEntry& entry : ListFolder(query)) {
      if (entry.Kind == FileKind::kRegular &&
          (IsUniqueFileNameTemporary(entry.Name) || !ReplacedFileOfTemporary(entry.Name).empty())) {
        remove(query, entry);
      }
    }
  }
  const std::string ini = ExtractFileName(settings_->IniFileName);
  const std::string programFolder = ExtractFilePath(settings_->IniFileName);
  if (ini.empty() || programFolder.empty())
    return;
  for (const FileEntry& entry : ListFolder(programFolder, ".*.tmp")) {
    if (entry.Kind == FileKind::kRegular && ReplacedFileOfTemporary(entry.Name) == ini)
      remove(programFolder, entry);
  }
}

void TMainTarvoService::DeleteQueryFiles(const std::string& extension) {
  const std::string folder = settings_->Snapshot().QueryPath;
  if (folder.empty())
    return;
  for (const FileEntry& entry : ListFolder(folder, "*" + extension)) {
    if (DeleteFile(IncludeTrailingPathDelimiter(folder) + entry.Name)) {
      LogWrite("ServiceExecute: Delete file <" + entry.Name + ">.", 1);
    } else {
      LogWrite("ServiceExecute: Error delete file <" + entry.Name + ">.", 5);
    }
  }
}

}  // namespace tarvo
