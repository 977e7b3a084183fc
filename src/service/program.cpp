#include "service/program.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <thread>

#include "platform/codepage.h"
#include "platform/process.h"
#include "platform/system_formats.h"
#include "service/mainsrv.h"

namespace tarvo {

namespace {

void PrintNotice(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

void PrintError(const std::string& text) {
  std::fputs((text + "\n").c_str(), stderr);
  std::fflush(stderr);
}

// Runs the service until it is stopped. The main thread serves the workers'
// hand-offs meanwhile; the service thread runs start, loop and stop.
int RunService(TMainTarvoService& service, MainThreadQueue& mainQueue) {
  bool started = false;
  std::thread serviceThread([&] {
    try {
      started = service.ServiceStart();
      if (started)
        service.ServiceExecute();
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

bool IsServiceInstalled(const std::vector<std::string>& args) {
  return FindCmdLineSwitch(args, "INSTALL") && FindCmdLineSwitch(args, "SILENT") &&
         ServiceExists(kServiceName);
}

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
  context.notify = [](const std::string& text) { PrintNotice(text); };

  const bool install = FindCmdLineSwitch(args, "INSTALL");
  const bool uninstall = FindCmdLineSwitch(args, "UNINSTALL");
  if (!install && !uninstall)
    InstallControlHandlers();

  auto service = std::make_unique<TMainTarvoService>(context);
  if (IsServiceInstalled(args))
    return 0;

  if (install || uninstall) {
    // INSTALL wins when both are given.
    std::string error;
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

  const int code = RunService(*service, mainQueue);
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
