// What the worker tests share: a settings record in a temporary folder, a
// manual clock, a registry whose scale driver is a recording fake (one call
// log per driver instance), a main-thread queue served by a helper thread,
// and a recorder of the workers' log lines.
#ifndef TARVO_TESTS_SUPPORT_WORKER_HARNESS_H_
#define TARVO_TESTS_SUPPORT_WORKER_HARNESS_H_

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "driver/scaleworkthread.h"
#include "log/logoperations.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/handoff.h"
#include "support/fake_automation.h"
#include "support/temp_dir.h"

namespace tarvo::testing {

struct LoggedLine {
  std::string text;
  int level;
  std::thread::id thread;
};

class WorkerHarness {
 public:
  // 7 December 2026, 14:05:09.
  static DateTime StartTime() { return DateTime::FromParts({2026, 12, 7, 14, 5, 9, 0}); }

  WorkerHarness()
      : clock(StartTime()),
        systemLog(LogOptions{slDisabled}, clock, LogProcessInfo()),
        settings(dir.File("tarvo-scale-server"), systemLog, clock) {
    settings.QueryPath = dir.File("Query");
    settings.JournalsPath = dir.File("Log");
    settings.EnableJournals = true;
    settings.ImportExtraFormat = 0;
    ForceDirectoriesForTest(settings.QueryPath);
    registry.RegisterBuiltin("FakeScaleDriver", [this] {
      auto log = std::make_shared<FakeAutomationLog>();
      {
        std::lock_guard<std::mutex> lock(mu_);
        if (!presets_.empty()) {
          log->values = presets_.front();
          presets_.erase(presets_.begin());
        }
        drivers_.push_back(log);
      }
      return std::make_unique<FakeAutomationObject>(log);
    });
    registry.MapProgId(kScaleDriverProgId, "FakeScaleDriver");
    server_ = std::thread([this] { queue.Serve(); });
  }

  ~WorkerHarness() {
    queue.Close();
    server_.join();
  }

  WorkerHarness(const WorkerHarness&) = delete;
  WorkerHarness& operator=(const WorkerHarness&) = delete;

  void AddScale(const std::string& ip) {
    MScaleState entry;
    entry.IP = ip;
    entry.StateTime = clock.LocalNow();
    settings.ScaleList.push_back(entry);
  }

  ScaleWorkContext Context() {
    ScaleWorkContext context;
    context.Settings = &settings;
    context.Registry = &registry;
    context.MainQueue = &queue;
    context.clock = &clock;
    context.Shared = &shared;
    return context;
  }

  // Makes a worker of type W with the recorder as its OnLog.
  template <typename W>
  std::unique_ptr<W> MakeWorker() {
    auto worker = std::make_unique<W>(Context());
    worker->OnLog = [this](TScaleWorkThread*, const std::string& text, int level) {
      std::lock_guard<std::mutex> lock(mu_);
      lines_.push_back({text, level, std::this_thread::get_id()});
    };
    return worker;
  }

  // Property values the next driver created starts with.
  void PresetNextDriver(std::map<std::string, Variant> values) {
    std::lock_guard<std::mutex> lock(mu_);
    presets_.push_back(std::move(values));
  }

  // The call log of the n-th driver created.
  std::shared_ptr<FakeAutomationLog> DriverLog(size_t n = 0) {
    std::lock_guard<std::mutex> lock(mu_);
    return n < drivers_.size() ? drivers_[n] : nullptr;
  }

  // Only the method calls of the n-th driver ("call Name(args)").
  std::vector<std::string> Invokes(size_t n = 0) {
    std::vector<std::string> out;
    for (const std::string& call : DriverLog(n)->CallStrings()) {
      if (call.rfind("call ", 0) == 0)
        out.push_back(call);
    }
    return out;
  }

  std::vector<LoggedLine> Lines() {
    std::lock_guard<std::mutex> lock(mu_);
    return lines_;
  }

  // Texts of the logged lines with the "ThreadWork (h): " prefix removed.
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const LoggedLine& line : Lines()) {
      const size_t at = line.text.find("): ");
      out.push_back(at == std::string::npos ? line.text : line.text.substr(at + 3));
    }
    return out;
  }

  // The level of the first line whose text (prefix removed) is `text`; -1 if none.
  int LevelOf(const std::string& text) {
    const std::vector<LoggedLine> lines = Lines();
    const std::vector<std::string> texts = Texts();
    for (size_t i = 0; i < texts.size() && i < lines.size(); ++i) {
      if (texts[i] == text)
        return lines[i].level;
    }
    return -1;
  }

  int Count(const std::string& text) {
    int n = 0;
    for (const std::string& t : Texts())
      n += t == text ? 1 : 0;
    return n;
  }

  void ClearLines() {
    std::lock_guard<std::mutex> lock(mu_);
    lines_.clear();
  }

  // Queues a command as the import scan does: data first, then the command.
  void QueueCommand(const std::string& base, const std::string& ip, const std::string& commandNo,
                    const std::string& originalName, const std::string* data,
                    const std::string& extraLines = "") {
    if (data != nullptr)
      dir.Write("Query/" + base + ".dat", *data);
    std::string text = "[ServiceCommand]\r\nOwner=MainTarvoService.ServiceExecute\r\n";
    text += "TimeDate=07.12.2026 14:00:00\r\nScale=" + ip + "\r\n";
    if (!commandNo.empty())
      text += "CommandNo=" + commandNo + "\r\n";
    text += "OriginalFileName=" + originalName + "\r\n" + extraLines;
    dir.Write("Query/" + base + ".cmd", text);
  }

  bool QueryFileExists(const std::string& name) const {
    return std::filesystem::exists(dir.File("Query/" + name));
  }

  // Polls `condition` until it holds or a generous deadline passes.
  template <typename Condition>
  static bool WaitUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline)
        return false;
      std::this_thread::yield();
    }
    return true;
  }

  static void ForceDirectoriesForTest(const std::string& path) {
    std::filesystem::create_directories(path);
  }

  TempDir dir;
  ManualClock clock;
  TSystemLog systemLog;
  MServiceSettings settings;
  AutomationRegistry registry;
  MainThreadQueue queue;
  WorkerPoolShared shared;

 private:
  std::mutex mu_;
  std::vector<LoggedLine> lines_;
  std::vector<std::shared_ptr<FakeAutomationLog>> drivers_;
  std::vector<std::map<std::string, Variant>> presets_;
  std::thread server_;
};

}  // namespace tarvo::testing

#endif  // TARVO_TESTS_SUPPORT_WORKER_HARNESS_H_
