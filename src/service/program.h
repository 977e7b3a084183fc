// Program start-up: the command-line switches, and the program that main()
// runs. The service object is created in every run; the command line
// decides whether it is registered, removed or run.
#ifndef TARVO_SERVICE_PROGRAM_H_
#define TARVO_SERVICE_PROGRAM_H_

#include <string>
#include <vector>

#include "platform/automation.h"

namespace tarvo {

// True when `args` holds the switch `name`, written after "-" or "/", in any
// letter case.
bool FindCmdLineSwitch(const std::vector<std::string>& args, const std::string& name);

// What the command line asks before anything is started: "--help" or "-h"
// (kHelp) or "--version" (kVersion), whichever comes first; kRun for every
// other command line, unknown arguments included.
enum class ProgramRequest { kRun, kHelp, kVersion };
ProgramRequest FindProgramRequest(const std::vector<std::string>& args);

// The answers to them, each ending in a line break: the usage with the
// switches, the folders and the environment variables; and the program's
// name with the file version the service reports ("tarvo-scale-server
// 1.0.0.1"). main() prints them before anything else is done.
std::string ServiceHelpText();
std::string ServiceVersionText();

// True only when both "INSTALL" and "SILENT" are given and the service is
// already registered: a silent install of an installed service ends quietly.
bool IsServiceInstalled(const std::vector<std::string>& args);

// The program: builds the service object, then installs, uninstalls or runs
// it as the command line says. Run in the foreground with a terminal on
// standard error and not by systemd, it shows every log event there too.
// Returns the process exit code: 0 after a normal stop, a shutdown or a
// successful install or removal; 1 when the start failed or the
// registration could not be changed.
int RunServiceProgram(const std::vector<std::string>& args, const AutomationRegistry& registry);

}  // namespace tarvo

#endif  // TARVO_SERVICE_PROGRAM_H_
