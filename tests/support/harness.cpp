#include "support/harness.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include <unistd.h>

#include "platform/codepage.h"
#include "platform/socket.h"

namespace tarvo::testing {

EmulatorProcess::EmulatorProcess(const std::vector<std::string>& addresses,
                                 const std::vector<std::string>& extra, int port) {
  std::vector<std::string> args = {"--state", dir_.File("state"), "--port", std::to_string(port)};
  args.insert(args.end(), extra.begin(), extra.end());
  args.insert(args.end(), addresses.begin(), addresses.end());
  process_ = std::make_unique<ChildProcess>(BinDir() + "/tarvo-scale-emu", args, dir_.path());
  const std::string last = "listening on " + addresses.back() + ":";
  if (!process_->WaitForStdout(last, 10000))
    return;
  // "listening on IP:PORT"
  const std::string out = process_->Stdout();
  const size_t colon = out.find(':', out.find("listening on "));
  if (colon != std::string::npos)
    port_ = std::atoi(out.c_str() + colon + 1);
}

EmulatorProcess::~EmulatorProcess() {
  Stop();
}

void EmulatorProcess::Stop() {
  if (process_ && process_->running()) {
    process_->Signal(SIGTERM);
    process_->Wait(10000);
  }
}

std::string EmulatorProcess::ScaleFile(const std::string& address, const std::string& name) const {
  return dir_.Read("state/" + address + "/" + name);
}

ServiceProcess::ServiceProcess() {
  std::filesystem::copy_file(BinDir() + "/tarvo-scale-server", Exe());
}

ServiceProcess::~ServiceProcess() {
  if (process_ && process_->running()) {
    process_->Signal(SIGKILL);
    process_->Wait(5000);
  }
}

void ServiceProcess::Start(const std::map<std::string, std::string>& env, int uid) {
  std::map<std::string, std::string> all = {{"TARVO_PORT_BASE", std::to_string(PrivatePortBase())}};
  for (const auto& [k, v] : env)
    all[k] = v;
  port_base_ = std::atoi(all["TARVO_PORT_BASE"].c_str());
  process_ =
      std::make_unique<ChildProcess>(Exe(), std::vector<std::string>{}, dir_.path(), all, uid);
}

bool ServiceProcess::StartAgainst(const EmulatorProcess& emulator) {
  Start({{"TARVO_SCALE_PORT", std::to_string(emulator.port())}, {"TARVO_TIMER_SCALE", "0.01"}});
  return WaitForLog("ServiceExecute: Execute begining.", 10000);
}

bool ServiceProcess::Stop(int timeoutMs) {
  if (!process_)
    return true;
  process_->Signal(SIGTERM);
  return process_->Wait(timeoutMs);
}

std::string ServiceProcess::Log() const {
  return AnsiToUtf8(dir_.Read("Log/tarvo-scale-server.log"));
}

bool ServiceProcess::WaitForLog(const std::string& text, int timeoutMs) const {
  return WaitUntil([&] { return Log().find(text) != std::string::npos; }, timeoutMs);
}

bool ServiceProcess::WaitQueueEmpty(int timeoutMs) const {
  return WaitUntil(
      [&] {
        for (const char* folder : {"Import", "Query"}) {
          std::error_code ec;
          for (const auto& e : std::filesystem::directory_iterator(dir_.File(folder), ec)) {
            if (!e.is_directory())
              return false;
          }
        }
        return true;
      },
      timeoutMs);
}

std::string ServiceProcess::Journal() const {
  std::string all;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir_.File("Log"), ec)) {
    const std::string name = e.path().filename().string();
    if (name != "tarvo-scale-server.log")
      all += dir_.Read("Log/" + name);
  }
  return all;
}

size_t ServiceProcess::BadDataFiles() const {
  size_t n = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir_.File("Query/Bad"), ec)) {
    n += e.path().extension() == ".dat";
  }
  return n;
}

void ServiceProcess::DropImportFile(const std::string& name, const std::string& data) const {
  // Written beside the folder and moved in whole, as a careful writer does.
  const std::string temp = dir_.File(".incoming-" + name);
  dir_.Write(".incoming-" + name, data);
  dir_.Age(".incoming-" + name, 10);
  std::filesystem::create_directories(dir_.File("Import"));
  std::filesystem::rename(temp, dir_.File("Import/" + name));
}

std::string ServiceIni(const std::vector<std::string>& scales,
                       const std::vector<std::string>& global,
                       const std::vector<std::string>& fields) {
  std::string text = "[GlobalSettings]\r\nMaxLogLevelEvent=0\r\nImportInterval=1\r\n";
  for (const std::string& line : global)
    text += line + "\r\n";
  text += "[ListScales]\r\n";
  for (size_t i = 0; i < scales.size(); ++i)
    text += "Scale" + std::to_string(i + 1) + "=" + scales[i] + "\r\n";
  if (!fields.empty())
    text += "[FieldsConfig]\r\n";
  for (const std::string& line : fields)
    text += line + "\r\n";
  return text;
}

int PrivatePortBase() {
  // Below the system's range of ports for outgoing connections (32768 and
  // up), where a client socket of another test could hold one of the four;
  // a base whose ports are taken now is skipped.
  static int next = 0;
  int base = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    base = 10000 + static_cast<int>((getpid() * 64L + 4L * next++) % 22000);
    std::vector<std::unique_ptr<TcpListener>> probes;
    for (int i = 0; i < 4; ++i) {
      probes.push_back(TcpListen("", base + i));
      if (probes.back() == nullptr)
        break;
    }
    if (probes.size() == 4 && probes.back() != nullptr)
      return base;
  }
  return base;
}

}  // namespace tarvo::testing
