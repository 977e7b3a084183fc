// tarvo-scale-server: the service. Without a switch it runs in the
// foreground; INSTALL, UNINSTALL and SILENT manage its systemd unit;
// --help and --version answer and end before anything else is done.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "scaledriver/scale_driver.h"
#include "service/program.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  switch (tarvo::FindProgramRequest(args)) {
    case tarvo::ProgramRequest::kHelp:
      std::fputs(tarvo::ServiceHelpText().c_str(), stdout);
      return 0;
    case tarvo::ProgramRequest::kVersion:
      std::fputs(tarvo::ServiceVersionText().c_str(), stdout);
      return 0;
    case tarvo::ProgramRequest::kRun:
      break;
  }
  tarvo::AutomationRegistry registry;
  tarvo::RegisterScaleDriver(registry);
  if (!registry.LoadTableFromEnvironment()) {
    std::fprintf(stderr, "Cannot read the ProgID table named by TARVO_AUTOMATION_REGISTRY.\n");
    return 1;
  }
  return tarvo::RunServiceProgram(args, registry);
}
