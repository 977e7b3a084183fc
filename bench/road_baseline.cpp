// The baseline of the end-to-end benchmark: what carrying a PLU file to a
// scale cannot do without. Loads the file with LoadPLUFile and sends it with
// SendPLUData through the scale driver to one scale, on one thread, with no
// import scan, queue file, worker pool or log in between, and prints both
// times as one JSON object. Run by bench/run:
//   road_baseline --folder DIR --file PLUFILE --scale IP
// DIR holds the service's tarvo-scale-server.ini (its field configuration
// and separator are used); TARVO_SCALE_PORT names the scale's port.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/structdefines.h"
#include "common/textnames.h"
#include "log/logoperations.h"
#include "platform/automation.h"
#include "platform/clock.h"
#include "query/plu_parser.h"
#include "query/plu_transfer.h"
#include "query/step_context.h"
#include "scaledriver/scale_driver.h"
#include "settings/workservicesettings.h"

namespace {

using namespace tarvo;
using BenchClock = std::chrono::steady_clock;

double SecondsSince(BenchClock::time_point since) {
  return std::chrono::duration<double>(BenchClock::now() - since).count();
}

int Usage() {
  std::fprintf(stderr, "usage: road_baseline --folder DIR --file PLUFILE --scale IP\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder, file, scale;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--folder") == 0)
      folder = argv[i + 1];
    else if (std::strcmp(argv[i], "--file") == 0)
      file = argv[i + 1];
    else if (std::strcmp(argv[i], "--scale") == 0)
      scale = argv[i + 1];
    else
      return Usage();
  }
  if (argc % 2 == 0 || folder.empty() || file.empty() || scale.empty())
    return Usage();

  LogProcessInfo process;
  process.ExePath = folder + "/tarvo-scale-server";
  TSystemLog log(LogOptions{slDisabled}, *Clock::Real(), process);
  MServiceSettings settings(process.ExePath, log, *Clock::Real());
  settings.IniFileName = folder + "/tarvo-scale-server.ini";
  settings.LoadSettings();
  settings.LoadFieldsConfig();

  AutomationRegistry registry;
  RegisterScaleDriver(registry);
  std::unique_ptr<AutomationObject> driver;
  try {
    driver = registry.CreateOleObject("TarvoDriver.TarvoOLEDriver");
    driver->SetProperty("IPAddress", Variant(scale));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "road_baseline: %s\n", e.what());
    return 1;
  }

  std::vector<MPLUData> plus;
  MMessages messages;
  char separator = ',';
  StepContext step;
  step.Driver = driver.get();
  step.DataFileName = file;
  step.Operation = kCmdSetPLU;
  step.PLUList = &plus;
  step.MessageList = &messages;
  step.FieldSeparator = &separator;
  int errors = 0;
  step.AddLog = [&errors](const std::string& text, int level) {
    if (level >= 4 && ++errors <= 5)
      std::fprintf(stderr, "road_baseline: %s\n", text.c_str());
  };
  step.SetScaleState = [](int32_t) {};
  step.Terminated = [] { return false; };

  const auto load_start = BenchClock::now();
  const bool loaded = LoadPLUFile(step, settings.Snapshot());
  const double load_seconds = SecondsSince(load_start);
  const auto send_start = BenchClock::now();
  const bool sent = loaded && SendPLUData(step);
  const double send_seconds = SecondsSince(send_start);
  std::printf("{\"plus\": %zu, \"load_seconds\": %.3f, \"send_seconds\": %.3f, \"ok\": %s}\n",
              plus.size(), load_seconds, send_seconds, sent ? "true" : "false");
  return sent ? 0 : 1;
}
