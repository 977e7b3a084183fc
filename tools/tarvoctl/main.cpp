// tarvoctl: the operator's client for the service's four TCP ports.
#include <CLI/CLI.hpp>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/system_formats.h"
#include "tools/tarvoctl/commands.h"

namespace {

using tarvo::ctl::Control;
using tarvo::ctl::Options;

// Exit statuses of every command but check.
constexpr int kExitServiceError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnreachable = 3;

// The port base of the environment, as the service reads it; 0 when the
// variable holds no valid port base.
int PortBaseFromEnvironment(int fallback) {
  const std::string text = tarvo::GetEnv("TARVO_PORT_BASE");
  if (text.empty())
    return fallback;
  try {
    size_t used = 0;
    const int base = std::stoi(text, &used);
    return used == text.size() && base >= 1 && base <= 65532 ? base : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace

int main(int argc, char** argv) {
  tarvo::LoadSystemFormatsFromEnvironment();
  Options options;
  options.Where.PortBase = PortBaseFromEnvironment(6524);

  CLI::App app{"tarvoctl: steer and watch a running Tarvo Scale Server over its TCP ports.",
               "tarvoctl"};
  app.set_version_flag("--version", std::string("tarvoctl ") + tarvo::ProgramVersion());
  app.require_subcommand(1);
  app.fallthrough();
  app.add_option("--host", options.Where.Host, "the service's IPv4 address")->capture_default_str();
  app.add_option("--port-base", options.Where.PortBase,
                 "the command port; the live log, status and scale status ports follow it "
                 "(default: TARVO_PORT_BASE or 6524)")
      ->check(CLI::Range(1, 65532));
  app.add_flag("--json", options.Json, "print status, scales, settings and fields as JSON");

  // The action of the command that was given.
  std::function<int()> run;
  auto command = [&](const char* name, const char* help, std::function<int()> action) {
    CLI::App* sub = app.add_subcommand(name, help);
    sub->callback([&run, action] { run = action; });
    return sub;
  };

  command("status", "every status keyword: uptime, clients per port, scales, pending retries",
          [&] { return StatusCommand(options); });
  command("scales", "one row per scale: its last state, operation and time",
          [&] { return ScalesCommand(options); });

  std::string ip;
  command("last-send", "the raw last result of one scale",
          [&] { return LastSendCommand(options, ip); })
      ->add_option("IP", ip, "the scale's address as listed")
      ->required();

  command("settings", "the settings as name = value", [&] { return SettingsCommand(options); });

  std::string assignment;
  command("set", "change one setting (applied by 'reload'); an empty VALUE removes it",
          [&] { return SetCommand(options, assignment); })
      ->add_option("NAME=VALUE", assignment)
      ->required();

  std::vector<std::string> ips;
  command("set-scales", "replace the scale list", [&] { return SetScalesCommand(options, ips); })
      ->add_option("IP", ips, "the scales' addresses, in order")
      ->required();

  bool all = false;
  command("fields", "the placed PLU fields of the import layout", [&] {
    return FieldsCommand(options, all);
  })->add_flag("--all", all, "all 32 fields");

  std::string file, as;
  command("set-fields", "replace the import field layout by a file of FieldX_Attr=value lines",
          [&] { return SetFieldsCommand(options, file); })
      ->add_option("FILE", file)
      ->required();

  CLI::App* upload = command("upload", "send a file into the import folder",
                             [&] { return UploadCommand(options, file, as); });
  upload->add_option("FILE", file)->required();
  upload->add_option("--as", as, "the name in the import folder (default: the file's name)");

  bool yes = false;
  const struct {
    const char* name;
    const char* help;
    Control control;
    bool asks;
  } kControls[] = {
      {"reload", "reload the settings, scale list and field layout; restart the workers",
       Control::kReload, false},
      {"restart-workers", "stop and start the workers", Control::kRestartWorkers, false},
      {"restart-servers", "close every connection and open the ports again",
       Control::kRestartServers, false},
      {"clear-queue", "delete every queued command", Control::kClearQueue, true},
      {"shutdown", "end the service", Control::kShutdown, true},
      {"version", "the service's version", Control::kVersion, false},
  };
  for (const auto& c : kControls) {
    const Control control = c.control;
    CLI::App* sub =
        command(c.name, c.help, [&, control] { return ControlCommand(options, control, yes); });
    if (c.asks)
      sub->add_flag("--yes,-y", yes, "do not ask for confirmation on a terminal");
  }

  bool follow = false;
  int interval = 1000;
  CLI::App* log = command("log", "print the live log, levels in colour on a terminal",
                          [&] { return LogCommand(options, follow, interval); });
  log->add_flag("-f,--follow", follow, "keep following it until interrupted");
  log->add_option("--interval", interval, "milliseconds between polls")
      ->check(CLI::Range(10, 3600000))
      ->capture_default_str();

  int maxRetry = 0;
  CLI::App* check = command("check", "one line and a monitoring-plugin status (0 OK .. 3 UNKNOWN)",
                            [&] { return CheckCommand(options, maxRetry); });
  check->add_option("--max-retry", maxRetry, "pending retries allowed before WARNING")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    // A monitoring plug-in that cannot run reports UNKNOWN.
    return status == 0 ? 0 : check->parsed() ? 3 : kExitUsage;
  }
  if (options.Where.PortBase == 0) {
    std::cerr << "tarvoctl: TARVO_PORT_BASE is not a port base (1 to 65532)\n";
    return check->parsed() ? 3 : kExitUsage;
  }
  if (options.Where.Host == "localhost")
    options.Where.Host = "127.0.0.1";

  try {
    return run();
  } catch (const tarvo::ctl::UsageError& e) {
    std::cerr << "tarvoctl: " << e.what() << '\n';
    return kExitUsage;
  } catch (const tarvo::ctl::UnreachableError& e) {
    std::cerr << "tarvoctl: " << e.what() << '\n';
    return kExitUnreachable;
  } catch (const tarvo::ctl::ServiceError& e) {
    std::cerr << "tarvoctl: " << e.what() << '\n';
    return kExitServiceError;
  }
}
