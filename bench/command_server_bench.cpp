// Command server throughput and latency. Run by hand, never by ctest:
//   cmake --build build --target command_server_bench &&
//   build/bin/command_server_bench [--clients N] [--requests N]
//
// Starts a command server on 127.0.0.1 (a free port) over real settings read
// from an INI file in a fresh temporary folder. N clients (50 unless told, at
// most the server's connection cap) each connect on a thread of their own,
// read the greeting and then ask "GetAllSettings" (1,000 times unless told),
// one request after another, reading every listing up to its final reply line
// and checking it against the settings. A request's latency runs from sending
// the command to reading the final reply line.
//
// Prints throughput and the p50, p99 and max latency. Exits 1 (saying why) on
// a failed connect, a lost connection, an error reply or a wrong listing, and
// 2 on a command line it does not understand.

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "log/logoperations.h"
#include "net/command_server.h"
#include "net/service_host.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "settings/workservicesettings.h"

namespace {

using namespace tarvo;
using BenchClock = std::chrono::steady_clock;

constexpr int kConnectTimeoutMs = 5000;
// A reply slower than this counts as a lost connection.
constexpr int kReadTimeoutMs = 30000;
constexpr size_t kSettingLines = 18;

const std::string kRule(69, '*');
const std::string kTitle = std::string(21, ' ') + "Tarvo Service Configuration";
const char kGreeting[] = "200 Hi, this Tarvo service!";

const char kUsage[] = "usage: command_server_bench [--clients N] [--requests N]";

// The service object as the command server sees it: real settings (their
// folders and log file in `folder`) and the real clock. Its log only counts
// lines: written to the log file, every event would open, append to and
// close that file under one mutex, and the run would measure the log rather
// than the server. The count is checked against the lines the run must log.
class BenchHost : public ServiceHost {
 public:
  explicit BenchHost(const std::string& folder)
      : exe_(folder + "/tarvo-scale-server"),
        log_({slNumber}, *Clock::Real(), bench::ProcessOf(exe_)),
        settings_(exe_, log_, *Clock::Real()) {
    settings_.IniFileName = exe_ + ".ini";
  }

  MServiceSettings& ServiceSettings() override { return settings_; }
  const Clock& ServiceClock() const override { return *Clock::Real(); }
  std::string ExecutableFile() const override { return exe_; }
  void LogWrite(const std::string&, int) override { ++log_lines_; }
  LogClients& LogClientList() override { return log_clients_; }
  void WriteLogEvent(const std::string&, int) override { ++log_lines_; }
  int32_t RetryQueryCount() const override { return 0; }

  long LogLines() const { return log_lines_.load(); }

 private:
  const std::string exe_;
  TSystemLog log_;
  MServiceSettings settings_;
  std::atomic<long> log_lines_{0};
  LogClients log_clients_;
};

// What one client thread did.
struct ClientRun {
  bool connected = false;
  std::vector<double> latencies_ms;
  std::string error;  // empty unless the client failed
};

// True when `line` is a reply line: three digits, then the end of the line,
// a space or a "-".
bool IsReplyLine(const std::string& line) {
  if (line.size() < 3 || (line.size() > 3 && line[3] != ' ' && line[3] != '-'))
    return false;
  return std::all_of(line.begin(), line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; });
}

// The complaint about `line` where `wanted` was due.
std::string Unexpected(const std::string& line, const std::string& wanted) {
  if (IsReplyLine(line) && line != "200")
    return "error reply \"" + line + "\"";
  return "wrong listing: \"" + line + "\" where " + wanted + " was due";
}

// One client connection reading the lines of a listing.
class Client {
 public:
  explicit Client(std::unique_ptr<TcpConnection> connection) : connection_(std::move(connection)) {
    connection_->SetTimeoutMillis(kReadTimeoutMs);
  }

  bool Send(const std::string& line, std::string* error) {
    if (connection_->WriteLn(line))
      return true;
    *error = "connection lost while sending";
    return false;
  }

  // Reads the next line and compares it with `want`.
  bool Expect(const std::string& want, std::string* error) {
    std::string line;
    if (!Read(&line, error))
      return false;
    if (line == want)
      return true;
    *error = Unexpected(line, "\"" + want + "\"");
    return false;
  }

  // Reads one whole "GetAllSettings" listing and its reply line: the rule,
  // the title, an empty line, "Count=" with the number of setting lines, an
  // empty line, the setting lines (which must equal `settings`), the rule and
  // a bare "200".
  bool ReadListing(const std::vector<std::string>& settings, std::string* error) {
    if (!Expect(kRule, error) || !Expect(kTitle, error) || !Expect("", error))
      return false;
    std::string count;
    if (!Read(&count, error))
      return false;
    if (count.rfind("Count=", 0) != 0) {
      *error = Unexpected(count, "the Count= line");
      return false;
    }
    if (!Expect("", error))
      return false;
    size_t lines = 0;
    std::string line;
    for (;;) {
      if (!Read(&line, error))
        return false;
      if (line == kRule)
        break;
      if (lines >= settings.size() || line != settings[lines]) {
        *error = Unexpected(line, "setting line " + std::to_string(lines + 1));
        return false;
      }
      ++lines;
    }
    if (count != "Count=" + std::to_string(lines) || lines != settings.size()) {
      *error = "wrong listing: \"" + count + "\" over " + std::to_string(lines) +
               " setting lines, " + std::to_string(settings.size()) + " expected";
      return false;
    }
    return Expect("200", error);
  }

 private:
  bool Read(std::string* line, std::string* error) {
    if (connection_->ReadLn(line))
      return true;
    *error = connection_->TimedOut() ? "no reply within " + std::to_string(kReadTimeoutMs) + " ms"
                                     : std::string("connection lost");
    return false;
  }

  std::unique_ptr<TcpConnection> connection_;
};

// One client: connect and read the greeting, wait at `start` with the others,
// then run `requests` requests unless another client has failed.
void RunClient(int port, int requests, const std::vector<std::string>& settings, std::latch& start,
               std::atomic<bool>& failed, ClientRun* run) {
  std::string error;
  std::unique_ptr<TcpConnection> connection =
      TcpConnect("127.0.0.1", port, kConnectTimeoutMs, nullptr, &error);
  if (!connection) {
    run->error = "connect failed: " + error;
    failed = true;
    start.count_down();
    return;
  }
  run->connected = true;
  Client client(std::move(connection));
  if (!client.Expect(kGreeting, &run->error)) {
    run->error = "greeting: " + run->error;
    failed = true;
    start.count_down();
    return;
  }
  start.arrive_and_wait();

  run->latencies_ms.reserve(static_cast<size_t>(requests));
  for (int i = 1; i <= requests && !failed; ++i) {
    const BenchClock::time_point sent = BenchClock::now();
    if (!client.Send("GetAllSettings", &run->error) || !client.ReadListing(settings, &run->error)) {
      run->error = "request " + std::to_string(i) + ": " + run->error;
      failed = true;
      return;
    }
    run->latencies_ms.push_back(
        std::chrono::duration<double, std::milli>(BenchClock::now() - sent).count());
  }
}

// The value after an option; false when it is missing or not a whole number
// from `min` to `max`.
bool ParseCount(int argc, char** argv, int* i, int min, int max, int* value) {
  if (*i + 1 >= argc)
    return false;
  const std::string text = argv[++*i];
  const char* end = text.data() + text.size();
  const std::from_chars_result r = std::from_chars(text.data(), end, *value);
  return r.ec == std::errc() && r.ptr == end && *value >= min && *value <= max;
}

// The value at rank `p` (0 to 1) of sorted `values` (nearest rank).
double Percentile(const std::vector<double>& values, double p) {
  const size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size())));
  return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

}  // namespace

int main(int argc, char** argv) {
  int clients = 50;
  int requests = 1000;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool ok = false;
    if (arg == "--clients")
      ok = ParseCount(argc, argv, &i, 1, kMaxServerConnections, &clients);
    else if (arg == "--requests")
      ok = ParseCount(argc, argv, &i, 1, 100000000, &requests);
    if (!ok) {
      const bool help = arg == "--help";
      std::fprintf(help ? stdout : stderr,
                   "%s\n  --clients 1 to %d (50), --requests per client (1000)\n", kUsage,
                   kMaxServerConnections);
      return help ? 0 : 2;
    }
  }

  bench::TempFolder folder("command_server_bench_");
  BenchHost host(folder.path());
  std::ofstream(host.ExecutableFile() + ".ini")
      << "[GlobalSettings]\r\nImportInterval=30\r\nSendThreadsCount=4\r\n";
  host.ServiceSettings().LoadSettings();
  const std::vector<std::string> settings = host.ServiceSettings().GlobalSettingsCopy();
  if (settings.size() != kSettingLines) {
    std::fprintf(stderr, "the settings load gave %zu lines, not %zu\n", settings.size(),
                 kSettingLines);
    return 1;
  }

  CommandServer server(host, "127.0.0.1", 0);
  std::string error;
  if (!server.Activate(&error)) {
    std::fprintf(stderr, "the command server did not start: %s\n", error.c_str());
    return 1;
  }

  std::vector<ClientRun> runs(static_cast<size_t>(clients));
  std::latch start(clients + 1);
  std::atomic<bool> failed{false};
  std::vector<std::thread> threads;
  for (ClientRun& run : runs) {
    threads.emplace_back(RunClient, server.Port(), requests, std::cref(settings), std::ref(start),
                         std::ref(failed), &run);
  }
  start.arrive_and_wait();
  const BenchClock::time_point began = BenchClock::now();
  for (std::thread& thread : threads)
    thread.join();
  const double seconds = std::chrono::duration<double>(BenchClock::now() - began).count();
  server.Deactivate();  // every connection thread has logged its end

  int failures = 0;
  long connected = 0;
  std::vector<double> latencies;
  latencies.reserve(static_cast<size_t>(clients) * static_cast<size_t>(requests));
  for (size_t i = 0; i < runs.size(); ++i) {
    connected += runs[i].connected;
    latencies.insert(latencies.end(), runs[i].latencies_ms.begin(), runs[i].latencies_ms.end());
    if (!runs[i].error.empty()) {
      std::fprintf(stderr, "client %zu: %s\n", i + 1, runs[i].error.c_str());
      ++failures;
    }
  }
  // Each connection logs its start and end, each request its command and its
  // listing.
  const long log_lines = 2 * connected + 2 * static_cast<long>(latencies.size());
  if (failures == 0 && host.LogLines() != log_lines) {
    std::fprintf(stderr, "the server logged %ld lines, %ld expected\n", host.LogLines(), log_lines);
    ++failures;
  }
  if (failures > 0)
    return 1;

  std::sort(latencies.begin(), latencies.end());
  std::printf("clients:       %d\n", clients);
  std::printf("requests:      %zu (%d a client)\n", latencies.size(), requests);
  std::printf("total:         %.3f s\n", seconds);
  std::printf("requests/s:    %.0f\n", static_cast<double>(latencies.size()) / seconds);
  std::printf("latency p50:   %.3f ms\n", Percentile(latencies, 0.50));
  std::printf("latency p99:   %.3f ms\n", Percentile(latencies, 0.99));
  std::printf("latency max:   %.3f ms\n", Percentile(latencies, 1.0));
  return 0;
}
