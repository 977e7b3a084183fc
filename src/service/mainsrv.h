// The service object: its life from construction to destruction and the main
// loop that carries out every housekeeping request.
#ifndef TARVO_SERVICE_MAINSRV_H_
#define TARVO_SERVICE_MAINSRV_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/deadline_timer.h"
#include "log/logoperations.h"
#include "net/command_server.h"
#include "net/log_server.h"
#include "net/service_host.h"
#include "net/stat_server.h"
#include "platform/automation.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/handoff.h"
#include "platform/service_control.h"
#include "query/workqueryfilesthread.h"
#include "service/import_scan.h"
#include "settings/workservicesettings.h"

namespace tarvo {

// Registration data of the service.
inline constexpr char kServiceName[] = "MainTarvoService";
inline constexpr char kServiceDisplayName[] = "Tarvo Scale Server";

// The port of the command server; the live-log and the two status servers
// follow it (base + 1, + 2, + 3).
inline constexpr int kDefaultPortBase = 6524;

// The four TCP servers of the service.
enum class ServerId { kCmd, kLog, kStat, kCmdStat };

// What the service needs from its host. Everything must outlive the service.
struct ServiceContext {
  std::string ExePath;            // the executable: the INI, log and folders lie beside it
  std::vector<std::string> Args;  // the command line, without the program name
  const Clock* clock = nullptr;   // time of the loop, timers and log stamps
  const AutomationRegistry* registry = nullptr;  // creates the scale driver
  MainThreadQueue* mainQueue = nullptr;          // the main thread's hand-off
  // Takes one pending stop or shutdown request without waiting.
  std::function<ControlRequest()> pollControl;
  // Where the install and uninstall notices go (UTF-8 text); null = nowhere.
  std::function<void(const std::string&)> notify;
  // Is shown every log event as it is logged, whatever the log file's
  // level (ANSI text, level); null = nowhere. Called on the thread that logs,
  // possibly under one of its locks: it must only format and write.
  std::function<void(const std::string&, int)> echo;
  // The four TCP ports are PortBase to PortBase + 3; 0 lets the system
  // pick free ports (tests). BindAddress "" listens on every local address.
  int PortBase = kDefaultPortBase;
  std::string BindAddress;
};

class TMainTarvoService : public ServiceHost {
 public:
  // Creates the components, the settings record, the log and the lists, and
  // fixes the INI path. Writes "ServiceConstructor: ..." lines.
  explicit TMainTarvoService(const ServiceContext& context);
  // ServiceDestroy(), then releases the driver.
  ~TMainTarvoService() override;

  TMainTarvoService(const TMainTarvoService&) = delete;
  TMainTarvoService& operator=(const TMainTarvoService&) = delete;

  // Service thread: start request. False when the driver cannot be created;
  // what was started stays until destruction.
  bool ServiceStart();
  // Service thread: the main loop; returns when the service is to end.
  void ServiceExecute();
  // Service thread: stop request (workers ended, settings saved). True once
  // stopped.
  bool ServiceStop();
  // The operating system is shutting down: ends the loop, saves nothing.
  void ServiceShutdown();
  // After the unit was written or removed: log line and notice.
  void ServiceInstall();
  void ServiceUninstall();

  // The single logging entry: the log file and every live-log client.
  void LogWrite(const std::string& text, int level) override;

  // Import timer handler: asks the loop for an import scan.
  void Timer_ImportIntervalTimer() { ImportScanRequested = true; }

  // Worker pool (built by the loop's steps and by start and stop).
  void CreateQueryThreads();
  void DeleteQueryThreads();
  // Deletes every file of the query folder ending in `extension` (".lck").
  void DeleteQueryFiles(const std::string& extension);
  // Deletes the ".dat" files of the query folder that have no ".cmd": a
  // process that ended while it deleted a finished command leaves them. Only
  // while no import scan runs (it writes the ".dat" first).
  void DeleteOrphanDataFiles();
  // Deletes the temporary files that a process ended during a write leaves:
  // those of the query folder's unique names and copies, and those of the
  // settings file. Only while nothing else writes there (at start).
  void DeleteLeftoverTemporaries();

  // True when the service thread has been told to end (a stop was served).
  bool Terminated() const { return terminated_; }
  // True when the loop ended on a shutdown request.
  bool ShutdownSeen() const { return shutdown_seen_; }

  MServiceSettings& ServiceSettings() override { return *settings_; }
  const Clock& ServiceClock() const override { return clock_; }
  std::string ExecutableFile() const override { return context_.ExePath; }
  TSystemLog& SystemLog() { return *log_; }
  LogClients& LogClientList() override { return *log_clients_; }
  void WriteLogEvent(const std::string& text, int level) override;
  int32_t RetryQueryCount() const override;
  const ServiceContext& Context() const { return context_; }
  size_t QueryThreadCount() const {
    std::lock_guard<std::mutex> lock(query_threads_mutex_);
    return QueryThreads.size();
  }

  // The port a server listens on; 0 while it is not active.
  int ServerPort(ServerId id) const;

 private:
  void ServiceDestroy();
  bool HasSwitch(const std::string& name) const;
  // Activate the servers that run from the start of the start request, and
  // those that run once the workers do. A port that cannot be bound is
  // logged and the service goes on without it.
  void ActivateStatusServers();
  void ActivateCommandServers();
  void ActivateServer(bool activated, const std::string& prefix, const std::string& error);
  // Closes and reopens the TCP servers; a port that cannot be reopened
  // raises, which ends the main loop.
  void RestartTCPServers();
  void SwitchLogFile(bool enabled);
  // Serves pending stop and shutdown requests of the operating system.
  void ProcessControlRequests();
  // Runs `step` of the main loop when `requested` is set, and clears the
  // request when the step succeeds. A failed step is logged as
  // "ServiceExecute~<name>: <message>" and stays requested for the next pass.
  void RunRequestedStep(std::atomic<bool>& requested, const char* name,
                        const std::function<void()>& step);

  const ServiceContext context_;
  const Clock& clock_;
  std::unique_ptr<CommandServer> CmdTCPServer;
  std::unique_ptr<LogServer> TCPServer_Log;
  std::unique_ptr<StatServer> TCPServer_Stat;
  std::unique_ptr<StatCommandServer> CmdTCPServer_Stat;
  std::unique_ptr<AutomationObject> ScaleDriver;
  DeadlineTimer Timer_ImportInterval;
  // Orders the commands the import scan queues; used by the service thread.
  CommandSequence command_sequence_;

  std::unique_ptr<TSystemLog> log_;
  std::unique_ptr<LogClients> log_clients_;
  std::unique_ptr<MServiceSettings> settings_;

  // The worker pool, in creation order, and what its workers share. Written
  // by the service thread only; the list is changed and read by others
  // under query_threads_mutex_.
  mutable std::mutex query_threads_mutex_;
  std::vector<std::unique_ptr<TWorkQueryFilesThread>> QueryThreads;
  std::unique_ptr<WorkerPoolShared> pool_shared_;

  // What the import scan leaves alone from one scan to the next. Used by
  // the service thread only.
  ImportScanMemory import_memory_;

  bool terminated_ = false;
  bool shutdown_seen_ = false;
};

}  // namespace tarvo

#endif  // TARVO_SERVICE_MAINSRV_H_
