// libFuzzer target for the service's four TCP ports: the command server
// with its three uploads, the status command server, the live-log server and
// the status keyword server, each fed the input as everything one client
// sends, through an in-memory connection.
//
// Input: the first byte chooses the port, the rest is the client's byte
// stream. Besides crashes and sanitizer reports the target checks what the
// ports promise: every connect is matched by a disconnect (the counters are
// back at 0), every line sent is 7-bit text ending in CR LF with no line
// break inside (the live log's UTF-8 greeting aside), and the command ports
// greet first.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "fuzz_support.h"
#include "log/logoperations.h"
#include "net/command_server.h"
#include "net/log_server.h"
#include "net/service_host.h"
#include "net/stat_server.h"
#include "platform/clock.h"
#include "support/memory_connection.h"

namespace {

using namespace tarvo;
using fuzz::Check;

// The service as the ports see it: settings over an INI file in a folder of
// its own, a log that writes no file, and the live-log queues.
class FuzzHost : public ServiceHost {
 public:
  explicit FuzzHost(const std::string& folder)
      : log_(LogOptions{slDisabled}, clock_, LogProcessInfo()),
        settings_(folder + "/tarvo-scale-server", log_, clock_) {
    settings_.IniFileName = folder + "/tarvo-scale-server.ini";
    settings_.LoadSettings();
    settings_.LoadScaleList();
    settings_.LoadFieldsConfig();
  }
  MServiceSettings& ServiceSettings() override { return settings_; }
  const Clock& ServiceClock() const override { return clock_; }
  std::string ExecutableFile() const override { return ""; }
  LogClients& LogClientList() override { return clients_; }
  void LogWrite(const std::string& text, int level) override {
    tarvo::LogWrite(log_, &clients_, clock_, text, level);
  }
  void WriteLogEvent(const std::string& text, int level) override { log_.WriteEvent(text, level); }
  int32_t RetryQueryCount() const override { return 1; }

 private:
  ManualClock clock_;
  TSystemLog log_;
  MServiceSettings settings_;
  LogClients clients_;
};

struct Ports {
  explicit Ports(const std::string& folder)
      : host(folder),
        command(host, "127.0.0.1", 0, CommandLimits{4096, 64 * 1024}),
        stat_command(host, "127.0.0.1", 0),
        log(host, "127.0.0.1", 0, 100),
        stat(host, "127.0.0.1", 0) {
    // One live-log client that never polls, so every event is also queued.
    host.LogClientList().Add(std::make_shared<LogQueue>(100));
  }
  FuzzHost host;
  CommandServer command;
  StatCommandServer stat_command;
  LogServer log;
  StatServer stat;
};

Ports& Shared() {
  static const std::string folder = [] {
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("ports_fuzz_" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(path);
    return path.string();
  }();
  static Ports* ports = new Ports(folder);
  return *ports;
}

void CheckOutput(const std::string& out, bool commandPort) {
  size_t start = 0;
  while (start < out.size()) {
    const size_t end = out.find("\r\n", start);
    Check(end != std::string::npos, "every line sent ends in CR LF");
    const std::string line = out.substr(start, end - start);
    for (char c : line) {
      Check(static_cast<unsigned char>(c) < 128 || start == 0, "only 7-bit text is sent");
      Check(c != '\n' && c != '\r', "a line sent holds no line break");
    }
    if (commandPort && start == 0)
      Check(line == "200 Hi, this Tarvo service!", "the command ports greet first");
    start = end + 2;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  Ports& ports = Shared();
  const std::string stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  testing::MemoryConnection connection(stream);
  const int port = data[0] % 4;
  switch (port) {
    case 0:
      ports.command.ServeConnection(connection);
      break;
    case 1:
      ports.log.ServeConnection(connection);
      break;
    case 2:
      ports.stat.ServeConnection(connection);
      break;
    default:
      ports.stat_command.ServeConnection(connection);
      break;
  }
  CheckOutput(connection.Output(), port == 0 || port == 3);
  ServiceHost& host = ports.host;
  Check(host.CmdClientCount == 0 && host.LogClientCount == 0 && host.StatClientCount == 0 &&
            host.CmdStatClientCount == 0,
        "every connect is matched by a disconnect");
  return 0;
}
