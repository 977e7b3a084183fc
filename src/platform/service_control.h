// Service control on this system: stop and shutdown requests from the
// operating system, and registration as a systemd unit.
//
// A stop request is SIGTERM or SIGINT. A system shutdown is recognised as a
// SIGTERM that arrives while systemd reports the system as stopping
// ("systemctl is-system-running" prints "stopping"), or a SIGPWR.
#ifndef TARVO_PLATFORM_SERVICE_CONTROL_H_
#define TARVO_PLATFORM_SERVICE_CONTROL_H_

#include <functional>
#include <string>

namespace tarvo {

enum class ControlRequest { kNone, kStop, kShutdown };

// Installs the signal handlers. Call once on the main thread before other
// threads start (later calls do nothing). SIGPIPE is ignored from then on,
// so a write to a connection that the peer closed fails instead of ending
// the process.
void InstallControlHandlers();

// Waits up to `timeoutMs` for a request; returns the first one not yet
// taken, kNone on timeout. Each request is returned once. Safe against
// signals arriving at any moment; without the handlers it only waits.
ControlRequest WaitControlRequest(int timeoutMs);

// True when systemd started this process: it sets INVOCATION_ID for every
// service it runs, and JOURNAL_STREAM when standard error goes to the
// journal.
bool StartedBySystemd();

// Runs `body` as the service `name` when the system's service manager
// started this process, and on the calling thread otherwise; returns what
// `body` returned. (systemd runs a service as a plain process, so here it
// is always the latter.) Where the manager waits for reports, the service
// is reported starting until ReportServiceRunning(), stopping once a stop
// request arrives, and stopped when `body` returns, with a failure when it
// returns non-zero.
int RunAsService(const std::string& name, const std::function<int()>& body);

// Tells the service manager that the service has started (nothing here).
void ReportServiceRunning();

// Shows a notice of the install or uninstall: its first line is the
// caption, the rest after an empty line its text. Here it goes to standard
// output as it is (UTF-8).
void ShowServiceNotice(const std::string& text);

// Registration data of the unit.
struct ServiceRegistration {
  std::string Name;         // MainTarvoService
  std::string DisplayName;  // Tarvo Scale Server
  std::string ExecPath;     // the executable to start
};

// Folder of the unit files: TARVO_SYSTEMD_UNIT_DIR or /etc/systemd/system.
std::string ServiceUnitFolder();

// True when the unit file of `name` exists.
bool ServiceExists(const std::string& name);

// Writes the unit <Name>.service (automatic start for multi-user.target,
// started once the network is up, restarted on failure), creating the
// folder when missing, and, where systemd runs and the folder is its own,
// reloads and enables it (systemctl). Fails when the unit exists already
// ("The specified service already exists."). On failure returns false, sets
// `error` (when given) and leaves no unit behind.
bool InstallService(const ServiceRegistration& reg, std::string* error = nullptr);

// Disables the unit where systemd runs and removes its file; a running
// service is not stopped. Fails when the unit file is missing ("The
// specified service does not exist as an installed service."). On failure
// returns false and sets `error` (when given).
bool UninstallService(const std::string& name, std::string* error = nullptr);

}  // namespace tarvo

#endif  // TARVO_PLATFORM_SERVICE_CONTROL_H_
