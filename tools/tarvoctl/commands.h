// The commands of tarvoctl. Each prints its result on standard output and
// returns the process's exit status; a failure is thrown as UsageError,
// UnreachableError or ServiceError (port_client.h).
#ifndef TARVO_TOOLS_TARVOCTL_COMMANDS_H_
#define TARVO_TOOLS_TARVOCTL_COMMANDS_H_

#include <string>
#include <vector>

#include "tools/tarvoctl/port_client.h"

namespace tarvo::ctl {

struct Options {
  Endpoint Where;
  bool Json = false;  // status, scales, settings and fields print JSON
};

int StatusCommand(const Options& options);
int ScalesCommand(const Options& options);
int LastSendCommand(const Options& options, const std::string& ip);
int SettingsCommand(const Options& options);
// `assignment` is NAME=VALUE; an empty VALUE removes the setting.
int SetCommand(const Options& options, const std::string& assignment);
// Every address is checked before anything is sent.
int SetScalesCommand(const Options& options, const std::vector<std::string>& ips);
int FieldsCommand(const Options& options, bool all);
// `file` holds FieldX_Attr=value lines; blank lines, ";" or "#" comments and
// "[section]" lines are skipped. Every line is checked before sending.
int SetFieldsCommand(const Options& options, const std::string& file);
// Sends `file` into the import folder as `name` ("": the file's own name).
int UploadCommand(const Options& options, const std::string& file, const std::string& name);

enum class Control { kReload, kRestartWorkers, kRestartServers, kClearQueue, kShutdown, kVersion };
// `confirmed`: no question asked even on a terminal.
int ControlCommand(const Options& options, Control control, bool confirmed);

// Prints what the service logs during `intervalMs`; with `follow`, polls
// every `intervalMs` until the process is interrupted or the service goes.
int LogCommand(const Options& options, bool follow, int intervalMs);

// A monitoring plug-in's verdict in one line: 0 OK, 1 WARNING (more than
// `maxRetry` sends wait for their retry), 2 CRITICAL (the service cannot be
// reached, or a scale's last state is a driver error older than the retry
// interval), 3 UNKNOWN. Never throws.
int CheckCommand(const Options& options, int maxRetry);

// A dotted IPv4 address as the scale list takes it: four decimal parts, no
// blanks or other text.
bool IsScaleAddress(const std::string& text);

}  // namespace tarvo::ctl

#endif  // TARVO_TOOLS_TARVOCTL_COMMANDS_H_
