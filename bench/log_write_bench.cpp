// The cost of one logged event, against one plain write of the same line:
//   BM_PlainWrite       one append of a formatted event line to a file kept
//                       open (the baseline);
//   BM_LogWrite/C       the service's LogWrite of one event at a level that
//                       reaches the file, with C live-log clients;
//   BM_WorkerLogLine    what a worker's AddLog costs: the hand-off to the
//                       main thread that runs LogWrite, with 1 and 5 workers
//                       logging at once (items_per_second: lines a second of
//                       all workers together).
// Run by hand, never by ctest:
//   cmake --build build --target log_write_bench && build/bin/log_write_bench
// Prints LogWrite/plain for 0 and 10 clients; the target is at most 3.
// The files go to the system's temporary folder.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "log/logoperations.h"
#include "platform/files.h"
#include "platform/handoff.h"

namespace tarvo {
namespace {

// The line a worker logs thousands of times for one message batch.
const char kEvent[] = "ThreadWork (140213): Prepare message 17, line 4.";

// Live-log clients drain their queues this often (events), as the log
// server does, so a queue never sits at its cap.
constexpr int kDrainEvery = 1000;

// A log as the service sets it up, every event reaching the file.
struct ServiceLog {
  explicit ServiceLog(const std::string& folder)
      : log(LogOptions{slTime, slDate, slNumber, slHeader}, *Clock::Real(),
            LogProcessInfo{"/opt/tarvo/tarvo-scale-server", "1.0.0.1", "bench", "bench"}) {
    log.SetFileName(folder + "/tarvo-scale-server.log");
    log.SetMinLevel(0);
  }
  TSystemLog log;
  LogClients clients;
};

// Remembers the time per iteration of each run, for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      nanos_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  // Time of `name` over time of `base`; 0 when one is missing.
  double Ratio(const std::string& name, const std::string& base) const {
    auto a = nanos_.find(name), b = nanos_.find(base);
    return a == nanos_.end() || b == nanos_.end() || b->second == 0 ? 0 : a->second / b->second;
  }

 private:
  std::map<std::string, double> nanos_;
};

void BM_PlainWrite(benchmark::State& state) {
  bench::TempFolder folder("tarvo-logbench-");
  std::string error;
  std::unique_ptr<AppendFile> file = OpenAppendFile(folder.path() + "/plain.log", &error);
  if (file == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  // A line as long as the log's: "00042: {0} [hh:nn:ss.zzz] [dd.mm.yyyy] " + text + CR LF.
  const std::string line = "00042: {0} [14:03:07.215] [07.12.2026] " + std::string(kEvent) + "\r\n";
  for (auto _ : state) {
    if (!file->Append(line)) {
      state.SkipWithError("append failed");
      return;
    }
  }
}
BENCHMARK(BM_PlainWrite);

void BM_LogWrite(benchmark::State& state) {
  bench::TempFolder folder("tarvo-logbench-");
  ServiceLog service(folder.path());
  const int clients = static_cast<int>(state.range(0));
  std::vector<std::shared_ptr<LogQueue>> queues;
  for (int i = 0; i < clients; ++i) {
    queues.push_back(std::make_shared<LogQueue>());
    service.clients.Add(queues.back());
  }
  int events = 0;
  for (auto _ : state) {
    LogWrite(service.log, &service.clients, *Clock::Real(), kEvent, 0);
    if (++events % kDrainEvery == 0 && clients > 0) {
      state.PauseTiming();
      for (auto& queue : queues)
        benchmark::DoNotOptimize(queue->TakeAll());
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_LogWrite)->Arg(0)->Arg(10);

// The main thread serving hand-offs, shared by the worker threads of one run.
struct MainThread {
  MainThread() : server([this] { queue.Serve(); }) {}
  ~MainThread() {
    queue.Close();
    server.join();
  }
  MainThreadQueue queue;
  std::thread server;
};

void BM_WorkerLogLine(benchmark::State& state) {
  static std::unique_ptr<bench::TempFolder> folder;
  static std::unique_ptr<ServiceLog> service;
  static std::unique_ptr<MainThread> main;
  if (state.thread_index() == 0) {
    folder = std::make_unique<bench::TempFolder>("tarvo-logbench-");
    service = std::make_unique<ServiceLog>(folder->path());
    main = std::make_unique<MainThread>();
  }
  // What a worker's AddLog does: the line goes to LogWrite on the main
  // thread, and the worker waits for it.
  std::string text;
  for (auto _ : state) {
    text = kEvent;
    main->queue.Synchronize([&] {
      LogWrite(service->log, &service->clients, *Clock::Real(), "ThreadWork (1): " + text, 0);
    });
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    main.reset();
    service.reset();
    folder.reset();
  }
}
BENCHMARK(BM_WorkerLogLine)->Threads(1)->Threads(5)->UseRealTime();

}  // namespace
}  // namespace tarvo

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  tarvo::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* run : {"BM_LogWrite/0", "BM_LogWrite/10"}) {
    std::printf("%s / BM_PlainWrite: %.2f (target: at most 3)\n", run,
                reporter.Ratio(run, "BM_PlainWrite"));
  }
  benchmark::Shutdown();
  return 0;
}
