// Service control on this system: stop and shutdown requests from the
// operating system, and registration as a systemd unit.
//
// A stop request is SIGTERM or SIGINT. A system shutdown is recognised as a
// SIGTERM that arrives while systemd reports the system as stopping
// ("systemctl is-system-running" prints "stopping"), or a SIGPWR.
#ifndef TARVO_PLATFORM_SERVICE_CONTROL_H_
#define TARVO_PLATFORM_SERVICE_CONTROL_H_

#include <string>

namespace tarvo {

enum class ControlRequest { kNone, kStop, kShutdown };

// Installs the signal handlers. Call once on the main thread before other
// threads start.
void InstallControlHandlers();

// Waits up to `timeoutMs` for a request; returns the first one not yet
// taken, kNone on timeout. Each request is returned once.
ControlRequest WaitControlRequest(int timeoutMs);

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

// Writes the unit (automatic start for multi-user.target, restart on
// failure) and, where systemd runs, reloads and enables it. Fails when the
// unit exists already. On failure returns false and sets `error`.
bool InstallService(const ServiceRegistration& reg, std::string* error);

// Disables the unit where systemd runs and removes its file.
bool UninstallService(const std::string& name, std::string* error);

}  // namespace tarvo

#endif  // TARVO_PLATFORM_SERVICE_CONTROL_H_
