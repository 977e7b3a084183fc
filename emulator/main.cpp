// tarvo-scale-emu: networked scales for tests, demos and benchmarks.
//
//   tarvo-scale-emu --state DIR [--port N] [--serial TEXT] [--scale-version TEXT]
//                   [--error-after N --error-code C] [--delay-ms N] IP [IP ...]
//
// Prints "listening on IP:PORT" for each address once it serves, and ends
// cleanly on SIGTERM or SIGINT. --help and --version answer and end. Exit codes: 0 after a stop
// request, 1 when the scales cannot start, 2 on bad usage.

#include <cstdio>
#include <string>
#include <vector>

#include "emulator/scale_emulator.h"
#include "platform/codepage.h"
#include "platform/process.h"
#include "platform/service_control.h"

namespace {

constexpr int kDefaultPort = 5001;

constexpr char kUsage[] =
    "usage: tarvo-scale-emu --state DIR [--port N] [--serial TEXT] [--scale-version TEXT]\n"
    "                       [--error-after N --error-code C] [--delay-ms N] IP [IP ...]\n";

constexpr char kHelp[] =
    "       tarvo-scale-emu --help | --version\n"
    "\n"
    "Serves one emulated label-printing scale on each address IP (any of 127.0.0.0/8\n"
    "gives as many as wanted) and keeps each scale's memory in DIR/<IP>/.\n"
    "\n"
    "  --state DIR          the folder of the scales' memory (required)\n"
    "  --port N             the TCP port (TARVO_SCALE_PORT or 5001; 0: a free one)\n"
    "  --serial TEXT        the serial number the scales report (EMU-<IP>)\n"
    "  --scale-version TEXT the version the scales report (TarvoEmu 1.0)\n"
    "  --error-after N      answer the first N requests normally, every later one\n"
    "  --error-code C       with the result code C (1 to 999), changing nothing\n"
    "  --delay-ms N         send each answer N milliseconds after the request\n"
    "\n"
    "Prints \"listening on IP:PORT\" for each address once it serves; ends on SIGTERM or\n"
    "SIGINT. Exit status: 0 after a stop request, 1 when the scales cannot start, 2 on\n"
    "bad usage.\n";

int DefaultPort() {
  std::string text = tarvo::GetEnv("TARVO_SCALE_PORT");
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return kDefaultPort;
  }
  int port = std::stoi(text);
  return port >= 1 && port <= 65535 ? port : kDefaultPort;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::printf("%s%s", kUsage, kHelp);
      return 0;
    }
    if (arg == "--version") {
      std::printf("tarvo-scale-emu %s\n", tarvo::ProgramVersion().c_str());
      return 0;
    }
  }
  tarvo::InstallControlHandlers();

  tarvo::emu::EmulatorOptions options;
  std::string error;
  if (!tarvo::emu::ParseEmulatorArgs(args, DefaultPort(), &options, &error)) {
    std::fprintf(stderr, "tarvo-scale-emu: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  // File names cross the platform layer as ANSI text.
  options.StateDir = tarvo::Utf8ToAnsi(options.StateDir);

  tarvo::emu::ScaleEmulator emulator(options);
  if (!emulator.Start(&error)) {
    std::fprintf(stderr, "tarvo-scale-emu: %s\n", error.c_str());
    return 1;
  }
  for (const std::string& address : options.Addresses) {
    std::printf("listening on %s:%d\n", address.c_str(), emulator.Port());
  }
  std::fflush(stdout);

  for (;;) {
    tarvo::ControlRequest request = tarvo::WaitControlRequest(1000);
    if (request == tarvo::ControlRequest::kStop || request == tarvo::ControlRequest::kShutdown) {
      break;
    }
  }
  emulator.Stop();
  return 0;
}
