// What the worker and step tests share: a recorder of log lines; a step
// context around a recording fake driver; and a worker's surroundings: a
// settings record in a temporary folder, a manual clock, a registry whose
// scale driver is a recording fake (one call log per driver instance) and a
// main-thread queue served by a helper thread.
#ifndef TARVO_TESTS_SUPPORT_WORKER_HARNESS_H_
#define TARVO_TESTS_SUPPORT_WORKER_HARNESS_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/structdefines.h"
#include "driver/scaleworkthread.h"
#include "log/logoperations.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/handoff.h"
#include "query/step_context.h"
#include "query/workqueryfilesthread.h"
#include "support/fake_automation.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tarvo::testing {

// One line as it was logged. Two lines are equal when text and level are.
struct LoggedLine {
  std::string text;
  int level = 0;
  std::thread::id thread = {};

  bool operator==(const LoggedLine& other) const {
    return text == other.text && level == other.level;
  }
  friend void PrintTo(const LoggedLine& line, std::ostream* os) {
    *os << "{\"" << line.text << "\", " << line.level << "}";
  }
};

// Log lines in the order they were written, from any thread. Texts are read
// without the "ThreadWork (h): " prefix a worker writes before its own.
class LogRecorder {
 public:
  // Records a line written on the calling thread.
  void Record(const std::string& text, int level) {
    std::lock_guard<std::mutex> lock(mu_);
    lines_.push_back({text, level, std::this_thread::get_id()});
  }

  std::vector<LoggedLine> Lines() {
    std::lock_guard<std::mutex> lock(mu_);
    return lines_;
  }

  // The texts; only those of `level` unless it is -1.
  std::vector<std::string> Texts(int level = -1) {
    std::vector<std::string> out;
    for (const LoggedLine& line : Lines()) {
      if (level == -1 || line.level == level)
        out.push_back(Text(line));
    }
    return out;
  }

  std::vector<std::string> TextsStartingWith(const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& text : Texts()) {
      if (text.rfind(prefix, 0) == 0)
        out.push_back(text);
    }
    return out;
  }

  // The level of the first line whose text is `text`; -1 if none.
  int LevelOf(const std::string& text) {
    for (const LoggedLine& line : Lines()) {
      if (Text(line) == text)
        return line.level;
    }
    return -1;
  }

  int Count(const std::string& text) {
    int n = 0;
    for (const std::string& t : Texts())
      n += t == text ? 1 : 0;
    return n;
  }

  // True when a line of `level` has the text `text`, or one containing `part`.
  bool Logged(const std::string& text, int level) {
    for (const LoggedLine& line : Lines()) {
      if (line.level == level && Text(line) == text)
        return true;
    }
    return false;
  }
  bool LoggedContaining(const std::string& part, int level) {
    for (const LoggedLine& line : Lines()) {
      if (line.level == level && Text(line).find(part) != std::string::npos)
        return true;
    }
    return false;
  }

  void ClearLines() {
    std::lock_guard<std::mutex> lock(mu_);
    lines_.clear();
  }

 private:
  static std::string Text(const LoggedLine& line) {
    if (line.text.rfind("ThreadWork (", 0) != 0)
      return line.text;
    const size_t at = line.text.find("): ");
    return at == std::string::npos ? line.text : line.text.substr(at + 3);
  }

  std::mutex mu_;
  std::vector<LoggedLine> lines_;
};

// A step context of a full PLU load around a recording fake driver of its
// own, with the lists the steps fill, a recorder of the lines they log, the
// states they set and the stop flag they poll; for tests of one step, or of
// the parser, without a worker.
class StepHarness : public LogRecorder {
 public:
  StepHarness() {
    context.Driver = &driver;
    context.Operation = kCmdSetPLU;
    context.PLUList = &plus;
    context.MessageList = &messages;
    context.FieldSeparator = &separator;
    context.ValueList = &values;
    context.FileData = &fileData;
    context.AddLog = [this](const std::string& text, int level) { Record(text, level); };
    context.SetScaleState = [this](int32_t state) { states.push_back(state); };
    context.Terminated = [this] { return terminated; };
  }

  StepHarness(const StepHarness&) = delete;
  StepHarness& operator=(const StepHarness&) = delete;

  std::shared_ptr<FakeAutomationLog> driverLog = std::make_shared<FakeAutomationLog>();
  FakeAutomationObject driver{driverLog};
  std::vector<MPLUData> plus;
  MMessages messages;
  char separator = 0;
  std::vector<std::string> values;
  std::string fileData;
  std::vector<int32_t> states;
  bool terminated = false;
  StepContext context;
};

// A worker's surroundings; the workers it makes log into its recorder.
class WorkerHarness : public LogRecorder {
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
    std::filesystem::create_directories(settings.QueryPath);
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
      Record(text, level);
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
  std::vector<std::string> Invokes(size_t n = 0) { return DriverLog(n)->Invokes(); }

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

  TempDir dir;
  ManualClock clock;
  TSystemLog systemLog;
  MServiceSettings settings;
  AutomationRegistry registry;
  MainThreadQueue queue;
  WorkerPoolShared shared;

 private:
  std::mutex mu_;
  std::vector<std::shared_ptr<FakeAutomationLog>> drivers_;
  std::vector<std::map<std::string, Variant>> presets_;
  std::thread server_;
};

// Runs command steps on the test thread through the step context of a
// worker that is never started; its log lines are handed to the harness's
// serving thread. The worker's driver is on 10.0.0.5, the only scale listed.
class WorkerStepTest : public ::testing::Test {
 protected:
  explicit WorkerStepTest(int32_t operation) {
    h.AddScale("10.0.0.5");
    h.PresetNextDriver({{"IPAddress", Variant("10.0.0.5")}});
    worker = h.MakeWorker<TWorkQueryFilesThread>();
    worker->Operation = operation;
    h.DriverLog()->ClearCalls();
  }

  // The context the worker builds for its current command.
  StepContext Step() { return MakeStepContext(*worker); }

  // The state recorded for the scale.
  int32_t State() {
    std::lock_guard<std::mutex> lock(h.shared.ScaleStateLock);
    return h.settings.ScaleList.at(0).State;
  }

  WorkerHarness h;
  std::unique_ptr<TWorkQueryFilesThread> worker;
};

}  // namespace tarvo::testing

#endif  // TARVO_TESTS_SUPPORT_WORKER_HARNESS_H_
