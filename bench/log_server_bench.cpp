// Live-log throughput and delivery under load. Run by hand, never by ctest:
//   cmake --build build --target log_server_bench &&
//   build/bin/log_server_bench [--events N] [--seconds N]
//
// Throughput (N events, 200,000 unless told), three figures from one run:
//   - baseline: N log-file lines appended to a file, one std::ofstream write
//     and flush per line;
//   - LogWrite into a real log (every event reaches its file, which is
//     opened, appended to and closed per event) with no live-log client;
//   - the same with 10 clients of a live-log server on 127.0.0.1, each
//     polling in a loop over a real socket.
// Prints events/s for each and the two ratios to the baseline. A client that
// falls more than a queue behind loses the oldest lines; the run reports how
// many.
//
// Delivery under load: 10 clients poll every 100 ms while 10,000 events a
// second are logged for 10 seconds (--seconds to shorten). After a final poll
// every client must have received every event exactly once and in order,
// and nothing after the last one. Prints each client's count.
//
// Every event text carries its sequence number, so each client checks its
// stream line by line; the log file is checked the same way. Exits 1 (saying
// why) on a lost, repeated or reordered event, a "lines dropped" notice where
// none may come, a failed or lost connection or an error the server logged;
// 2 on a command line it does not understand.

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "log/logoperations.h"
#include "net/log_server.h"
#include "net/service_host.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "settings/workservicesettings.h"

namespace {

using namespace tarvo;
using namespace std::chrono_literals;
using BenchClock = std::chrono::steady_clock;

constexpr int kClients = 10;
constexpr long kPacedRate = 10000;  // events a second while the delivery is checked
constexpr auto kPollInterval = 100ms;
constexpr int kConnectTimeoutMs = 5000;
// A poll whose events are slower than this counts as a lost connection.
constexpr int kReadTimeoutMs = 30000;

// The events' level; the log takes every level, so each event reaches the file.
constexpr int kEventLevel = 1;
constexpr std::string_view kEventPrefix = "LogBench: event ";

const char kUsage[] = "usage: log_server_bench [--events N] [--seconds N]";

std::string EventText(long seq) {
  return std::string(kEventPrefix) + std::to_string(seq);
}

// `text` as a whole positive number; 0 when it is not one.
long NumberOf(std::string_view text) {
  long value = 0;
  const char* end = text.data() + text.size();
  const std::from_chars_result r = std::from_chars(text.data(), end, value);
  return r.ec == std::errc() && r.ptr == end && value > 0 ? value : 0;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

double Seconds(BenchClock::time_point since) {
  return std::chrono::duration<double>(BenchClock::now() - since).count();
}

// The service object as the live-log server sees it: LogWrite writes to its
// own log (a file in `folder`, every level, the service's line options) and
// feeds its own client list, as the service does. WriteLogEvent goes to the
// log only; the server uses it solely to report its errors, which the run
// collects.
class BenchHost : public ServiceHost {
 public:
  explicit BenchHost(const std::string& folder)
      : exe_(folder + "/tarvo-scale-server"),
        log_({slTime, slDate, slNumber, slHeader}, *Clock::Real(), bench::ProcessOf(exe_)),
        settings_(exe_, log_, *Clock::Real()) {
    log_.SetMinLevel(0);
    log_.SetFileName(folder + "/journal.log");
  }

  MServiceSettings& ServiceSettings() override { return settings_; }
  const Clock& ServiceClock() const override { return *Clock::Real(); }
  std::string ExecutableFile() const override { return exe_; }
  void LogWrite(const std::string& text, int level) override {
    tarvo::LogWrite(log_, &clients_, *Clock::Real(), text, level);
  }
  LogClients& LogClientList() override { return clients_; }
  void WriteLogEvent(const std::string& text, int level) override {
    log_.WriteEvent(text, level);
    std::lock_guard<std::mutex> lock(server_errors_mutex_);
    server_errors_.push_back(text);
  }
  int32_t RetryQueryCount() const override { return 0; }

  const TSystemLog& Log() const { return log_; }
  std::vector<std::string> ServerErrors() const {
    std::lock_guard<std::mutex> lock(server_errors_mutex_);
    return server_errors_;
  }

 private:
  const std::string exe_;
  TSystemLog log_;
  MServiceSettings settings_;
  LogClients clients_;
  mutable std::mutex server_errors_mutex_;
  std::vector<std::string> server_errors_;
};

// What the logging thread has done so far: events 1 to `published` are in
// every client's queue; `done` once the last is.
struct Feed {
  std::atomic<long> published{0};
  std::atomic<bool> done{false};
};

// Logs events 1 to `count` as fast as it can.
void LogFlat(BenchHost& host, long count, Feed* feed) {
  for (long seq = 1; seq <= count; ++seq) {
    host.LogWrite(EventText(seq), kEventLevel);
    feed->published.store(seq);
  }
  feed->done.store(true);
}

// Logs events 1 to `count`, `rate` a second, catching up once a millisecond.
void LogPaced(BenchHost& host, long count, long rate, Feed* feed) {
  const BenchClock::time_point start = BenchClock::now();
  long seq = 0;
  while (seq < count) {
    const long due = std::min(count, static_cast<long>(Seconds(start) * static_cast<double>(rate)));
    while (seq < due) {
      host.LogWrite(EventText(++seq), kEventLevel);
      feed->published.store(seq);
    }
    std::this_thread::sleep_for(1ms);
  }
  feed->done.store(true);
}

// One live-log client. It checks its stream as it reads: after the
// greeting, event lines in sequence from 1, each exactly once, and (where
// allowed) "lines dropped" notices that account for every missing event.
class LogClient {
 public:
  explicit LogClient(bool allowDrops) : allow_drops_(allowDrops) {}

  // Connects and reads the three greeting lines.
  bool Connect(int port) {
    std::string error;
    connection_ = TcpConnect("127.0.0.1", port, kConnectTimeoutMs, nullptr, &error);
    if (connection_ == nullptr)
      return Fail("connect failed: " + error);
    connection_->SetTimeoutMillis(kReadTimeoutMs);
    const std::string greeting[] = {"Hello! (Привет)", "This Tarvo log server.",
                                    "ServiceExecute: " + std::string(53, '*')};
    std::string line;
    for (const std::string& want : greeting) {
      if (!Read(&line))
        return false;
      if (line != want)
        return Fail("greeting \"" + line + "\" where \"" + want + "\" was due");
    }
    return true;
  }

  // Sends a poll (an empty line) and reads until every event up to `due`
  // has come. Lines beyond it stay buffered for the next poll.
  bool Poll(long due) {
    if (!connection_->WriteLn(""))
      return Fail("connection lost while polling");
    std::string line;
    while (next_ <= due) {
      if (!Read(&line) || !Take(line))
        return false;
    }
    return true;
  }

  // Sends "quit": the next line must be "ok", with nothing before it.
  bool Quit() {
    std::string line;
    if (!connection_->WriteLn("quit") || !connection_->ReadLn(&line))
      return Fail("no answer to quit");
    if (line != "ok")
      return Fail("\"" + line + "\" after event " + std::to_string(next_ - 1) +
                  ", where the answer to quit was due");
    connection_->Close();
    return true;
  }

  // The event due next.
  long Next() const { return next_; }
  long Events() const { return events_; }
  long Dropped() const { return dropped_; }
  const std::string& Error() const { return error_; }

 private:
  bool Read(std::string* line) {
    if (connection_->ReadLn(line))
      return true;
    return Fail(connection_->TimedOut()
                    ? "no line within " + std::to_string(kReadTimeoutMs) + " ms while event " +
                          std::to_string(next_) + " was due"
                    : "connection lost while event " + std::to_string(next_) + " was due");
  }

  // Checks one line "{level} [hh:nn:ss.zzz] text" of the stream.
  bool Take(const std::string& line) {
    constexpr std::string_view kStamp = "[dd:dd:dd.ddd] ";
    const size_t brace = line.find("} ");
    const size_t stamp = brace + 2;
    bool formed = line.size() > 1 && line[0] == '{' && brace != std::string::npos &&
                  line.size() >= stamp + kStamp.size();
    for (size_t i = 0; formed && i < kStamp.size(); ++i) {
      const char c = line[stamp + i];
      formed = kStamp[i] == 'd' ? c >= '0' && c <= '9' : c == kStamp[i];
    }
    if (!formed)
      return Fail("malformed line \"" + line + "\"");
    const std::string_view level = std::string_view(line).substr(1, brace - 1);
    const std::string_view text = std::string_view(line).substr(stamp + kStamp.size());

    constexpr std::string_view kDroppedHead = "LogServer: ";
    constexpr std::string_view kDroppedTail = " lines dropped.";
    if (level == "5" && StartsWith(text, kDroppedHead) && EndsWith(text, kDroppedTail)) {
      const long dropped = NumberOf(text.substr(
          kDroppedHead.size(), text.size() - kDroppedHead.size() - kDroppedTail.size()));
      if (!allow_drops_ || dropped == 0)
        return Fail("\"" + line + "\" after event " + std::to_string(next_ - 1));
      dropped_ += dropped;
      next_ += dropped;
      return true;
    }
    const long seq =
        StartsWith(text, kEventPrefix) ? NumberOf(text.substr(kEventPrefix.size())) : 0;
    if (level != std::to_string(kEventLevel) || seq == 0)
      return Fail("unexpected line \"" + line + "\"");
    if (seq < next_)
      return Fail("event " + std::to_string(seq) +
                  " again (duplicate or out of order) after event " + std::to_string(next_ - 1));
    if (seq > next_)
      return Fail("event " + std::to_string(seq) + " where event " + std::to_string(next_) +
                  " was due: " + std::to_string(seq - next_) + " lost");
    ++events_;
    ++next_;
    return true;
  }

  bool Fail(std::string message) {
    if (error_.empty())
      error_ = std::move(message);
    if (connection_ != nullptr)
      connection_->Close();
    return false;
  }

  const bool allow_drops_;
  std::unique_ptr<TcpConnection> connection_;
  long next_ = 1;
  long events_ = 0;
  long dropped_ = 0;
  std::string error_;
};

// A client's thread: polls every `interval` (in a loop when zero, napping
// only after a poll that had nothing to wait for) until the feed is done,
// then makes a final poll for the last event and quits.
void PollLoop(LogClient* client, const Feed& feed, std::chrono::milliseconds interval) {
  BenchClock::time_point next_poll = BenchClock::now();
  for (;;) {
    const bool finished = feed.done.load();
    const long due = feed.published.load();
    const bool waiting = due >= client->Next();
    if (!client->Poll(due))
      return;
    if (finished)
      break;
    if (interval.count() > 0) {
      next_poll += interval;
      std::this_thread::sleep_until(next_poll);
    } else if (!waiting) {
      std::this_thread::sleep_for(1ms);
    }
  }
  client->Quit();
}

// Checks the log file of `host` and the server's own reports after events
// 1 to `count` were logged: the file holds them all, once and in order.
void CheckHost(const BenchHost& host, long count, const char* phase,
               std::vector<std::string>* failures) {
  const std::string where = std::string(phase) + ": ";
  for (const std::string& error : host.ServerErrors())
    failures->push_back(where + "the server logged \"" + error + "\"");
  if (host.Log().LineCount() != count) {
    failures->push_back(where + "the log counted " + std::to_string(host.Log().LineCount()) +
                        " lines, " + std::to_string(count) + " expected");
  }
  std::ifstream file(host.Log().FileName(), std::ios::binary);
  long next = 1;
  std::string line;
  while (std::getline(file, line)) {
    const size_t at = line.find(kEventPrefix);
    if (at == std::string::npos)
      continue;
    std::string_view seq = std::string_view(line).substr(at + kEventPrefix.size());
    if (!seq.empty() && seq.back() == '\r')
      seq.remove_suffix(1);
    if (NumberOf(seq) != next) {
      failures->push_back(where + "the log file holds \"" + line + "\" where event " +
                          std::to_string(next) + " was due");
      return;
    }
    ++next;
  }
  if (next - 1 != count) {
    failures->push_back(where + "the log file holds " + std::to_string(next - 1) + " events, " +
                        std::to_string(count) + " expected");
  }
}

// A run of `log` (on this thread) while kClients live-log clients poll on
// threads of their own. Returns the seconds `log` took; the clients are left
// in `clients` for the caller to check.
double RunWithClients(BenchHost& host, std::chrono::milliseconds interval, bool allowDrops,
                      const std::function<void(Feed*)>& log,
                      std::vector<std::unique_ptr<LogClient>>* clients, const char* phase,
                      std::vector<std::string>* failures) {
  const std::string where = std::string(phase) + ": ";
  LogServer server(host, "127.0.0.1", 0);
  std::string error;
  if (!server.Activate(&error)) {
    failures->push_back(where + "the live-log server did not start: " + error);
    return 0;
  }
  // A client that has read its greeting has its queue registered, so it
  // gets every event logged from now on.
  for (int i = 0; i < kClients; ++i) {
    clients->push_back(std::make_unique<LogClient>(allowDrops));
    if (!clients->back()->Connect(server.Port())) {
      failures->push_back(where + "client " + std::to_string(i + 1) + ": " +
                          clients->back()->Error());
      return 0;
    }
  }

  Feed feed;
  std::vector<std::thread> threads;
  for (std::unique_ptr<LogClient>& client : *clients)
    threads.emplace_back(PollLoop, client.get(), std::cref(feed), interval);
  const BenchClock::time_point began = BenchClock::now();
  log(&feed);
  const double seconds = Seconds(began);
  for (std::thread& thread : threads)
    thread.join();
  server.Deactivate();

  const long count = feed.published.load();
  for (size_t i = 0; i < clients->size(); ++i) {
    const LogClient& client = *(*clients)[i];
    const std::string who = where + "client " + std::to_string(i + 1) + ": ";
    if (!client.Error().empty())
      failures->push_back(who + client.Error());
    else if (client.Events() + client.Dropped() != count)
      failures->push_back(who + "received " + std::to_string(client.Events()) + " of " +
                          std::to_string(count) + " events");
  }
  if (host.LogClientCount.load() != 0 || host.LogClientList().Count() != 0) {
    failures->push_back(where + "after every client left, the server counts " +
                        std::to_string(host.LogClientCount.load()) + " clients and " +
                        std::to_string(host.LogClientList().Count()) + " queues");
  }
  CheckHost(host, count, phase, failures);
  return seconds;
}

// Seconds to append `count` log-file lines to a file in `folder`, one
// std::ofstream write and flush per line.
double BaselineSeconds(const std::string& folder, long count) {
  std::ofstream out(folder + "/baseline.log", std::ios::binary | std::ios::app);
  char line[160];
  const BenchClock::time_point began = BenchClock::now();
  for (long seq = 1; seq <= count; ++seq) {
    const int size =
        std::snprintf(line, sizeof(line), "%.5ld: {%d} [12:00:00.000] [01.01.2026] %s%ld\r\n", seq,
                      kEventLevel, std::string(kEventPrefix).c_str(), seq);
    out.write(line, size);
    out.flush();
  }
  return Seconds(began);
}

// The value after an option; false when it is missing or not a whole number
// from `min` to `max`.
bool ParseCount(int argc, char** argv, int* i, long min, long max, long* value) {
  if (*i + 1 >= argc)
    return false;
  const std::string text = argv[++*i];
  const char* end = text.data() + text.size();
  const std::from_chars_result r = std::from_chars(text.data(), end, *value);
  return r.ec == std::errc() && r.ptr == end && *value >= min && *value <= max;
}

double Rate(long events, double seconds) {
  return seconds > 0 ? static_cast<double>(events) / seconds : 0;
}

}  // namespace

int main(int argc, char** argv) {
  long events = 200000;
  long seconds = 10;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool ok = false;
    if (arg == "--events")
      ok = ParseCount(argc, argv, &i, 1, 100000000, &events);
    else if (arg == "--seconds")
      ok = ParseCount(argc, argv, &i, 1, 3600, &seconds);
    if (!ok) {
      const bool help = arg == "--help";
      std::fprintf(help ? stdout : stderr,
                   "%s\n  --events  events per throughput figure (200000)\n"
                   "  --seconds length of the delivery check at %ld events/s (10)\n",
                   kUsage, kPacedRate);
      return help ? 0 : 2;
    }
  }

  bench::TempFolder folder("log_server_bench_");
  std::vector<std::string> failures;

  // Throughput.
  const double baseline = Rate(events, BaselineSeconds(folder.Sub("baseline"), events));
  double alone = 0;
  {
    BenchHost host(folder.Sub("alone"));
    Feed feed;
    const BenchClock::time_point began = BenchClock::now();
    LogFlat(host, events, &feed);
    alone = Rate(events, Seconds(began));
    CheckHost(host, events, "no clients", &failures);
  }
  double polled = 0;
  long dropped = 0;
  {
    BenchHost host(folder.Sub("polled"));
    std::vector<std::unique_ptr<LogClient>> clients;
    const double s = RunWithClients(
        host, 0ms, true, [&](Feed* feed) { LogFlat(host, events, feed); }, &clients,
        "polling clients", &failures);
    polled = Rate(events, s);
    for (const std::unique_ptr<LogClient>& client : clients)
      dropped += client->Dropped();
  }
  std::printf("throughput, %ld events each:\n", events);
  std::printf("  baseline, ofstream write+flush per line: %10.0f events/s\n", baseline);
  std::printf("  LogWrite, no live-log client:             %10.0f events/s  (%.3f of baseline)\n",
              alone, alone / baseline);
  std::printf("  LogWrite, %d clients polling in a loop:   %10.0f events/s  (%.3f of baseline)\n",
              kClients, polled, polled / baseline);
  std::printf("  lines the polling clients lost to full queues: %ld of %ld\n", dropped,
              events * kClients);
  std::fflush(stdout);

  // Delivery under load.
  {
    const long count = seconds * kPacedRate;
    BenchHost host(folder.Sub("paced"));
    std::vector<std::unique_ptr<LogClient>> clients;
    const double s = RunWithClients(
        host, kPollInterval, false, [&](Feed* feed) { LogPaced(host, count, kPacedRate, feed); },
        &clients, "delivery", &failures);
    std::printf("delivery, %d clients polling every %lld ms:\n", kClients,
                static_cast<long long>(kPollInterval.count()));
    std::printf("  logged %ld events in %.2f s (%.0f events/s)\n", count, s, Rate(count, s));
    for (size_t i = 0; i < clients.size(); ++i) {
      std::printf("  client %2zu: %ld events%s\n", i + 1, clients[i]->Events(),
                  clients[i]->Error().empty() ? "" : " (failed)");
    }
  }

  for (const std::string& failure : failures)
    std::fprintf(stderr, "FAILED %s\n", failure.c_str());
  return failures.empty() ? 0 : 1;
}
