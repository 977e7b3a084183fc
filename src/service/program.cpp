#include "service/program.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <thread>

#include "common/ip_address.h"
#include "common/number_text.h"
#include "common/verutil.h"
#include "log/console_log.h"
#include "platform/codepage.h"
#include "platform/process.h"
#include "platform/service_control.h"
#include "platform/system_formats.h"
#include "platform/terminal.h"
#include "service/mainsrv.h"
#include "settings/inifile.h"

namespace tarvo {

namespace {

void PrintError(const std::string& text) {
  std::fputs((text + "\n").c_str(), stderr);
  std::fflush(stderr);
}

// Runs the service until it is stopped. The main thread serves the workers'
// hand-offs meanwhile; the service thread runs start, loop and stop.
int RunService(TMainTarvoService& service, MainThreadQueue& mainQueue) {
  bool started = false;
  std::thread serviceThread([&] {
    const ComThreadScope com;
    try {
      started = service.ServiceStart();
      if (started) {
        ReportServiceRunning();
        service.ServiceExecute();
      }
    } catch (const std::exception& e) {
      service.LogWrite(std::string("ServiceExecute: ") + e.what(), 5);
    }
    mainQueue.Close();
  });
  mainQueue.Serve();
  serviceThread.join();
  return started ? 0 : 1;
}

}  // namespace

bool FindCmdLineSwitch(const std::vector<std::string>& args, const std::string& name) {
  const std::string wanted = AnsiUpperCase(name);
  for (const std::string& arg : args) {
    if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '/'))
      continue;
    if (AnsiUpperCase(arg.substr(1)) == wanted)
      return true;
  }
  return false;
}

ProgramRequest FindProgramRequest(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h")
      return ProgramRequest::kHelp;
    if (arg == "--version")
      return ProgramRequest::kVersion;
  }
  return ProgramRequest::kRun;
}

std::string ServiceHelpText() {
  return "usage: tarvo-scale-server [/INSTALL | /UNINSTALL] [/SILENT]\n"
         "       tarvo-scale-server --help | --version\n"
         "\n"
         "Keeps a shop's networked scales loaded from the files dropped into its import\n"
         "folder. Without a switch it runs in the foreground until SIGTERM or SIGINT; on a\n"
         "terminal it also shows every log event on standard error.\n"
         "\n"
         "Switches (after \"/\" or \"-\", in any letter case):\n"
         "  INSTALL    write and enable the systemd unit MainTarvoService.service\n"
         "  UNINSTALL  disable and remove the unit\n"
         "  SILENT     print no notice after INSTALL or UNINSTALL; with INSTALL, an\n"
         "             installed unit is not an error\n"
         "  --help     this text\n"
         "  --version  the program's version\n"
         "\n"
         "Beside the executable: tarvo-scale-server.ini (the settings), Import/ (the\n"
         "watched folder), Query/ (the command queue) and Log/ (the log and journals).\n"
         "\n"
         "Environment:\n"
         "  TARVO_PORT_BASE            first of the four TCP ports (6524)\n"
         "  TARVO_BIND_ADDRESS         the one local IPv4 address to listen on (all)\n"
         "  TARVO_SCALE_PORT           the scales' TCP port (5001)\n"
         "  TARVO_TIMER_SCALE          test aid: multiplies the workers' timers (1)\n"
         "  TARVO_AUTOMATION_REGISTRY  INI file replacing the table of driver ProgIDs\n"
         "  TARVO_SYSTEMD_UNIT_DIR     folder of the unit file (/etc/systemd/system)\n"
         "  TARVO_DECIMAL_SEPARATOR, TARVO_SHORT_DATE_FORMAT, TARVO_TIME_SEPARATOR\n"
         "                             the shop's number and date conventions\n"
         "  NO_COLOR                   set: the log on the terminal is not coloured\n";
}

std::string ServiceVersionText() {
  return "tarvo-scale-server " + GetFileVersion("") + "\n";
}

bool IsServiceInstalled(const std::vector<std::string>& args) {
  return FindCmdLineSwitch(args, "INSTALL") && FindCmdLineSwitch(args, "SILENT") &&
         ServiceExists(kServiceName);
}

namespace {

// The TCP settings of the environment: TARVO_PORT_BASE (the first of four
// ports) and TARVO_BIND_ADDRESS (one local IPv4 address). False with `error`
// set when one is not usable.
bool ReadNetworkEnvironment(ServiceContext* context, std::string* error) {
  const std::string base = GetEnv("TARVO_PORT_BASE");
  if (!base.empty()) {
    int32_t port = 0;
    if (!TryStrToInt(base, &port) || port < 1 || port > 65535 - 3) {
      *error = "TARVO_PORT_BASE is not a port number from 1 to 65532: \"" + base + "\"";
      return false;
    }
    context->PortBase = port;
  }
  const std::string address = GetEnv("TARVO_BIND_ADDRESS");
  if (!address.empty()) {
    if (ParseIPAddress(address) == 0 && TrimBlanks(address) != "0.0.0.0") {
      *error = "TARVO_BIND_ADDRESS is not an IPv4 address: \"" + address + "\"";
      return false;
    }
    context->BindAddress = TrimBlanks(address);
  }
  return true;
}

}  // namespace

int RunServiceProgram(const std::vector<std::string>& args, const AutomationRegistry& registry) {
  LoadSystemFormatsFromEnvironment();

  MainThreadQueue mainQueue;
  ServiceContext context;
  context.ExePath = ExecutablePath();
  context.Args = args;
  context.clock = Clock::Real();
  context.registry = &registry;
  context.mainQueue = &mainQueue;
  context.pollControl = [] { return WaitControlRequest(0); };
  context.notify = [](const std::string& text) { ShowServiceNotice(text); };
  std::string error;
  if (!ReadNetworkEnvironment(&context, &error)) {
    PrintError(error);
    return 2;
  }

  const bool install = FindCmdLineSwitch(args, "INSTALL");
  const bool uninstall = FindCmdLineSwitch(args, "UNINSTALL");
  if (!install && !uninstall) {
    InstallControlHandlers();
    if (ShouldShowConsoleLog(IsTerminal(StandardStream::kError), StartedBySystemd())) {
      const bool colour = GetEnv("NO_COLOR").empty() && GetEnv("TERM") != "dumb";
      const Clock* clock = context.clock;
      context.echo = [clock, colour](const std::string& text, int level) {
        WriteStream(StandardStream::kError,
                    ConsoleLogLine(CutEventText(text), level, clock->LocalNow(), colour));
      };
    }
  }

  // The service object, and with it the driver it creates, is freed on
  // this thread.
  const ComThreadScope com;
  auto service = std::make_unique<TMainTarvoService>(context);
  if (IsServiceInstalled(args))
    return 0;

  if (install || uninstall) {
    // INSTALL wins when both are given.
    const ServiceRegistration reg{kServiceName, kServiceDisplayName, context.ExePath};
    if (install ? !InstallService(reg, &error) : !UninstallService(kServiceName, &error)) {
      PrintError(std::string("Service \"") + kServiceDisplayName + "\" failed to " +
                 (install ? "install" : "uninstall") + " with error: \"" + error + "\"");
      return 1;
    }
    if (install) {
      service->ServiceInstall();
    } else {
      service->ServiceUninstall();
    }
    return 0;
  }

  const int code = RunAsService(kServiceName,
                                [&service, &mainQueue] { return RunService(*service, mainQueue); });
  if (service->ShutdownSeen()) {
    // The system is going down: the workers were not stopped, so their
    // objects must not be destroyed. Destroy the service and end at once.
    service.reset();
    std::fflush(nullptr);
    std::_Exit(0);
  }
  return code;
}

}  // namespace tarvo
