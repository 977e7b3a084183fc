#include "query/workqueryfilesthread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "platform/files.h"
#include "platform/process.h"
#include "support/worker_harness.h"

namespace tarvo {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::WorkerHarness;

// A worker whose passes the test runs on its own thread, one at a time.
class PassWorker : public TWorkQueryFilesThread {
 public:
  using TWorkQueryFilesThread::PassEnd;
  using TWorkQueryFilesThread::TWorkQueryFilesThread;

  void Begin() {
    BindToCallingThread();
    BeginExecute();
  }
  PassEnd Pass() { return RunPass(); }
};

const std::string kLogo = "BM logo bytes";

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("TARVO_TIMER_SCALE");
    h.AddScale("10.0.0.5");
    h.AddScale("10.0.0.6");
  }

  std::unique_ptr<PassWorker> Begin() {
    auto worker = h.MakeWorker<PassWorker>();
    worker->Begin();
    return worker;
  }

  uint32_t H() const { return CurrentThreadHandle(); }
  int64_t ScanInterval() const { return (H() % 1000) * 10 + 20000; }
  int64_t RetryInterval() const { return (H() % 1000) * 10 + 600000; }

  // Lets the scan timer fire and runs one pass.
  PassWorker::PassEnd ScanPass(PassWorker& worker) {
    h.clock.Advance(worker.ScanTimer->MillisUntilDue());
    return worker.Pass();
  }

  std::string Journal() { return h.dir.Read("Log/07-12-2026.log"); }

  bool Has(const std::string& text) {
    const std::vector<std::string> texts = h.Texts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }

  WorkerHarness h;
};

TEST_F(WorkerTest, ExecuteStartSetsTimersFromTheHandle) {
  auto worker = Begin();
  EXPECT_TRUE(worker->ScanTimer->Enabled());
  EXPECT_FALSE(worker->RetryTimer->Enabled());
  EXPECT_FALSE(worker->RetryWorkTimer->Enabled());
  EXPECT_EQ(worker->ScanTimer->Interval(), ScanInterval());
  EXPECT_EQ(worker->RetryTimer->Interval(), RetryInterval());
  EXPECT_EQ(worker->RetryWorkTimer->Interval(), RetryInterval());
  EXPECT_TRUE(worker->WorkAllowed);
  EXPECT_EQ(worker->Operation, -1);
  EXPECT_THAT(h.Texts(),
              ElementsAre("Started.", "Scan interval = " + std::to_string(ScanInterval()),
                          "Retry interval = " + std::to_string(RetryInterval()), "Execute start."));
  EXPECT_EQ(h.Lines()[0].text.rfind("ThreadWork (" + std::to_string(H()) + "): ", 0), 0u);
  EXPECT_EQ(h.Lines()[3].level, 1);
}

TEST_F(WorkerTest, TimerScaleShrinksEveryIntervalButNotBelowOneMillisecond) {
  setenv("TARVO_TIMER_SCALE", "0.001", 1);
  auto worker = Begin();
  unsetenv("TARVO_TIMER_SCALE");
  EXPECT_EQ(worker->ScanTimer->Interval(), std::llround(ScanInterval() * 0.001));
  EXPECT_EQ(worker->RetryTimer->Interval(), std::llround(RetryInterval() * 0.001));

  // A busy scale waits a scan interval, on the same scale.
  h.shared.WorkIPs.push_back("10.0.0.5");
  h.QueueCommand("svc0001", "10.0.0.5", "6", "logo.bmp", &kLogo);
  EXPECT_EQ(ScanPass(*worker), PassWorker::PassEnd::kNoSleep);
  EXPECT_EQ(worker->RetryWorkTimer->Interval(), worker->ScanTimer->Interval());

  // Even the scan interval (at most 29990 ms) would round to 0.
  setenv("TARVO_TIMER_SCALE", "0.00001", 1);
  auto tiny = Begin();
  unsetenv("TARVO_TIMER_SCALE");
  EXPECT_EQ(tiny->ScanTimer->Interval(), 1);
}

TEST_F(WorkerTest, NoTimerNoWork) {
  auto worker = Begin();
  h.QueueCommand("svc0001", "10.0.0.5", "6", "logo.bmp", &kLogo);
  h.clock.Advance(ScanInterval() - 1);
  EXPECT_EQ(worker->Pass(), PassWorker::PassEnd::kSleep);
  EXPECT_FALSE(worker->Busy);
  EXPECT_FALSE(h.QueryFileExists("svc0001.lck"));
}

TEST_F(WorkerTest, CarriesACommandToTheScaleAndRemovesItsFiles) {
  auto worker = Begin();
  h.QueueCommand("svc0001", "10.0.0.5", "6", "logo.bmp", &kLogo);
  h.ClearLines();
  EXPECT_EQ(ScanPass(*worker), PassWorker::PassEnd::kSleep);

  const std::string dat = h.dir.File("Query") + kPathDelim + "svc0001.dat";
  EXPECT_THAT(h.Invokes(),
              ElementsAre("call GetScaleSerialNumber()", "call SetLogoFile('" + dat + "')"));
  EXPECT_EQ(h.DriverLog()->values["IPAddress"], Variant("10.0.0.5"));
  EXPECT_FALSE(h.QueryFileExists("svc0001.cmd"));
  EXPECT_FALSE(h.QueryFileExists("svc0001.dat"));
  EXPECT_FALSE(h.QueryFileExists("svc0001.lck"));
  EXPECT_FALSE(std::filesystem::exists(h.dir.File("Query/Archive")));
  EXPECT_EQ(Journal(), FormatDateTime("dd.mm.yyyy hh:nn:ss", h.clock.LocalNow()) +
                           " IP=10.0.0.5 Operation=SetLogo     Status=0 File=logo.bmp\r\n");
  EXPECT_EQ(h.settings.ScaleList[0].State, 0);
  EXPECT_EQ(h.settings.ScaleList[0].Operation, 6);
  EXPECT_TRUE(h.shared.WorkIPs.empty());
  EXPECT_FALSE(worker->Busy);
  EXPECT_FALSE(worker->WorkDone);
  EXPECT_TRUE(worker->ScanTimer->Enabled());

  const std::string q = h.settings.QueryPath;
  EXPECT_THAT(
      h.Texts(),
      ElementsAre("OnTimerScan file scan fired.", "Enter critical section <CriticalFind>.",
                  "Find path: " + q, "Search command files.", "Lock command file svc0001.cmd.",
                  "Search end. Return code: 0", "Leave critical section <CriticalFind>.",
                  "Enter critical section <WorkIPList>.", "<10.0.0.5> blocked.",
                  "Item 0 = 10.0.0.5", "Leave critical section <WorkIPList>.",
                  "Set scale state: ip=10.0.0.5 state=-1", "Work with scale 10.0.0.5.",
                  "<10.0.0.5> Serial number: . Version: ", "<10.0.0.5> Error state: <>. Text: .",
                  "File svc0001.dat loaded.", "Set scale state: ip=10.0.0.5 state=0",
                  "File svc0001.dat sended.", "Set scale state: ip=10.0.0.5 state=0",
                  "<10.0.0.5> Transfer success.", "Enter critical section <WorkIPList>.",
                  "<10.0.0.5> unblocked.", "Leave critical section <WorkIPList>.",
                  "<10.0.0.5> Delete work files."));
  EXPECT_EQ(h.LevelOf("Lock command file svc0001.cmd."), 1);
  EXPECT_EQ(h.LevelOf("<10.0.0.5> Transfer success."), 1);
  EXPECT_EQ(h.LevelOf("<10.0.0.5> Delete work files."), 1);
}

TEST_F(WorkerTest, AFinishedCommandGivesBackItsMemory) {
  auto worker = Begin();
  // What a large PLU command left behind.
  worker->PLUList.resize(100000);
  worker->MessageList.resize(1000);
  worker->ValueList.assign(500, "Key=Value");
  h.QueueCommand("svc0001", "10.0.0.5", "6", "logo.bmp", &kLogo);
  EXPECT_EQ(ScanPass(*worker), PassWorker::PassEnd::kSleep);
  EXPECT_FALSE(h.QueryFileExists("svc0001.cmd"));
  EXPECT_EQ(worker->PLUList.capacity(), 0u);
  EXPECT_EQ(worker->MessageList.capacity(), 0u);
  EXPECT_EQ(worker->ValueList.capacity(), 0u);
  EXPECT_TRUE(worker->FileData.empty());
}

TEST_F(WorkerTest, SearchEndCodes) {
  auto worker = Begin();
  ScanPass(*worker);
  EXPECT_TRUE(Has("Search end. Return code: 18"));
  EXPECT_TRUE(worker->ScanTimer->Enabled());

  h.ClearLines();
  h.settings.QueryPath = h.dir.File("NoSuchFolder");
  ScanPass(*worker);
  EXPECT_TRUE(Has("Search end. Return code: 3"));
  EXPECT_FALSE(worker->Busy);
}

TEST_F(WorkerTest, AnExistingLockFileIsNeverClaimed) {
  auto worker = Begin();
  h.QueueCommand("svc0001", "10.0.0.5", "6", "logo.bmp", &kLogo);
  h.dir.Write("Query/svc0001.lck", "");
  h.QueueCommand("svc0002", "10.0.0.6", "6", "logo2.bmp", &kLogo);
  ScanPass(*worker);
  EXPECT_TRUE(Has("Lock command file svc0002.cmd."));
  EXPECT_FALSE(Has("Lock command file svc0001.cmd."));
  EXPECT_TRUE(h.QueryFileExists("svc0001.cmd"));
  EXPECT_FALSE(h.QueryFileExists("svc0002.cmd"));

  h.ClearLines();
  ScanPass(*worker);
  EXPECT_TRUE(Has("Search end. Return code: 18"));
  EXPECT_TRUE(h.QueryFileExists("svc0001.cmd"));
  EXPECT_EQ(h.Invokes().size(), 2u);  // only the second command was sent
}

TEST_F(WorkerTest, TwoWorkersNeverClaimOneCommand) {
  auto first = Begin();
  auto second = Begin();
  h.QueueCommand("svc0001", "10.0.0.5", "6", "logo.bmp", &kLogo);
  // Both scan in turn; the first claims, the second finds nothing free.
  h.shared.WorkIPs.push_back("10.0.0.5");  // hold the claim in place
  h.clock.Advance(ScanInterval());
  EXPECT_EQ(first->Pass(), PassWorker::PassEnd::kNoSleep);
  EXPECT_EQ(second->Pass(), PassWorker::PassEnd::kSleep);
  EXPECT_TRUE(first->Busy);
  EXPECT_FALSE(second->Busy);
  EXPECT_EQ(h.Count("Lock command file svc0001.cmd."), 1);
  EXPECT_EQ(h.dir.Read("Query/svc0001.lck"), "TWorkQueryFilesThread " + std::to_string(H()) + "\n");
}

// Commands are claimed in ascending Sequence across scales. A command from an
// older version, without the key, or with a value that is no number counts as
// the oldest; ties go in listing order.
TEST_F(WorkerTest, CommandsAreClaimedInSequenceOrder) {
  const struct {
    const char* base;
    const char* ip;
    const char* sequence;
  } queued[] = {
      {"svc0001", "10.0.0.5", "Sequence=1796630462000030\r\n"},
      {"svc0002", "10.0.0.6", "Sequence=1796630462000020\r\n"},
      {"svc0003", "10.0.0.5", "Sequence=10\r\n"},
      {"svc0004", "10.0.0.6", ""},
      {"svc0005", "10.0.0.5", "Sequence=x1\r\n"},
  };
  for (const auto& q : queued)
    h.QueueCommand(q.base, q.ip, "6", std::string(q.base) + ".bmp", &kLogo, q.sequence);
  auto worker = Begin();
  for (size_t i = 0; i < std::size(queued); ++i)
    ScanPass(*worker);
  EXPECT_THAT(h.TextsStartingWith("Lock command file "),
              ElementsAre("Lock command file svc0004.cmd.", "Lock command file svc0005.cmd.",
                          "Lock command file svc0003.cmd.", "Lock command file svc0002.cmd.",
                          "Lock command file svc0001.cmd."));
  EXPECT_TRUE(std::filesystem::is_empty(h.dir.File("Query")));
}

// While a scale's oldest command is claimed (here by a worker waiting to
// retry it), the scale's newer commands wait; other scales' commands go on.
TEST_F(WorkerTest, AClaimedCommandHoldsBackTheNewerOnesOfItsScale) {
  h.QueueCommand("svc0009", "10.0.0.5", "6", "old.bmp", &kLogo, "Sequence=1\r\n");
  h.dir.Write("Query/svc0009.lck", "");
  h.QueueCommand("svc0001", "10.0.0.5", "6", "new.bmp", &kLogo, "Sequence=2\r\n");
  h.QueueCommand("svc0002", "10.0.0.6", "6", "other.bmp", &kLogo, "Sequence=3\r\n");
  auto worker = Begin();
  ScanPass(*worker);
  h.ClearLines();
  ScanPass(*worker);
  EXPECT_TRUE(Has("Search end. Return code: 18"));
  EXPECT_FALSE(worker->Busy);
  EXPECT_FALSE(h.QueryFileExists("svc0001.lck"));
  EXPECT_FALSE(h.QueryFileExists("svc0002.cmd"));
  const std::string dat = h.dir.File("Query") + kPathDelim + "svc0002.dat";
  EXPECT_THAT(h.Invokes(),
              ElementsAre("call GetScaleSerialNumber()", "call SetLogoFile('" + dat + "')"));

  // The old command is done: the newer one goes next.
  for (const char* name : {"svc0009.cmd", "svc0009.dat", "svc0009.lck"})
    std::filesystem::remove(h.dir.File(std::string("Query/") + name));
  ScanPass(*worker);
  EXPECT_THAT(h.TextsStartingWith("Lock command file "),
              ElementsAre("Lock command file svc0001.cmd."));
  EXPECT_FALSE(h.QueryFileExists("svc0001.cmd"));
  EXPECT_EQ(h.Invokes().size(), 4u);
}

// Workers on their own threads drain a queue for two scales: every command is
// sent exactly once, and no two sends to one scale overlap.
TEST_F(WorkerTest, ConcurrentWorkersSendEachCommandOnceAndOneScaleAtATime) {
  constexpr int kCommands = 40;
  for (int i = 0; i < kCommands; ++i) {
    char base[16];
    std::snprintf(base, sizeof base, "svc%04X", i);
    h.QueueCommand(base, i % 2 ? "10.0.0.5" : "10.0.0.6", "6", std::string(base) + ".bmp", &kLogo);
  }
  h.settings.EnableJournals = false;
  std::mutex mu;
  std::map<std::string, int> inFlight;
  std::map<std::string, int> sent;
  bool overlapped = false;
  auto track = [&](const std::string& method, testing::FakeAutomationLog& log) {
    if (method != "SetLogoFile")
      return;
    const std::string ip = log.values["IPAddress"].AsText();
    const std::string path = log.calls.back().values[0].AsText();
    {
      std::lock_guard<std::mutex> lock(mu);
      overlapped |= ++inFlight[ip] > 1;
      ++sent[path];
    }
    std::this_thread::yield();
    std::lock_guard<std::mutex> lock(mu);
    --inFlight[ip];
  };

  auto remaining = [&] { return !std::filesystem::is_empty(h.dir.File("Query")); };
  std::vector<std::unique_ptr<PassWorker>> workers;
  for (int i = 0; i < 3; ++i)
    workers.push_back(h.MakeWorker<PassWorker>());
  // Each driver is created with its worker; script them all before any runs.
  for (size_t i = 0; i < workers.size(); ++i)
    h.DriverLog(i)->onInvoke = track;
  std::vector<std::thread> threads;
  std::atomic<bool> stuck{false};
  for (auto& worker : workers) {
    threads.emplace_back([&, w = worker.get()] {
      w->Begin();
      const bool drained = testing::WaitUntil([&] {
        // Stand in for the timers: whatever the worker waits for is due.
        if (!w->WorkAllowed)
          w->OnTimerRetryWork();
        else if (!w->Busy)
          w->OnTimerScan();
        w->Pass();
        return !remaining();
      });
      if (!drained)
        stuck = true;
    });
  }
  for (std::thread& t : threads)
    t.join();
  EXPECT_FALSE(stuck);
  EXPECT_FALSE(overlapped);
  ASSERT_EQ(sent.size(), static_cast<size_t>(kCommands));
  for (const auto& [path, count] : sent)
    EXPECT_EQ(count, 1) << path;
  EXPECT_TRUE(h.shared.WorkIPs.empty());
}

TEST_F(WorkerTest, BusyScaleWaitsAScanInterval) {
  auto worker = Begin();
  h.shared.WorkIPs.push_back("10.0.0.5");
  h.QueueCommand("svc0001", "10.0.0.5", "6", "logo.bmp", &kLogo);
  h.ClearLines();
  EXPECT_EQ(ScanPass(*worker), PassWorker::PassEnd::kNoSleep);
  EXPECT_TRUE(Has("No set block <10.0.0.5>."));
  EXPECT_FALSE(worker->WorkAllowed);
  EXPECT_TRUE(worker->Busy);
  EXPECT_TRUE(worker->RetryWorkTimer->Enabled());
  EXPECT_EQ(worker->RetryWorkTimer->Interval(), ScanInterval());
  EXPECT_TRUE(h.Invokes().empty());
  EXPECT_TRUE(h.QueryFileExists("svc0001.lck"));

  // Still busy when the timer fires: wait again.
  h.clock.Advance(ScanInterval());
  EXPECT_EQ(worker->Pass(), PassWorker::PassEnd::kNoSleep);
  EXPECT_EQ(h.Count("OnTimerRetryWork fired."), 1);
  EXPECT_EQ(h.Count("No set block <10.0.0.5>."), 2);

  // The other worker lets go: the command goes out on the next firing.
  h.shared.WorkIPs.clear();
  h.clock.Advance(ScanInterval() - 1);
  EXPECT_EQ(worker->Pass(), PassWorker::PassEnd::kSleep);
  EXPECT_EQ(h.Count("OnTimerRetryWork fired."), 1);
  h.clock.Advance(1);
  EXPECT_EQ(worker->Pass(), PassWorker::PassEnd::kSleep);
  EXPECT_EQ(h.Invokes().size(), 2u);
  EXPECT_FALSE(worker->RetryWorkTimer->Enabled());
  EXPECT_EQ(worker->RetryWorkTimer->Interval(), RetryInterval());
  EXPECT_FALSE(h.QueryFileExists("svc0001.cmd"));
}

TEST_F(WorkerTest, ScaleClaimIgnoresLetterCase) {
  auto worker = Begin();
  h.shared.WorkIPs.push_back("SCALE-A");
  h.QueueCommand("svc0001", "scale-a", "6", "logo.bmp", &kLogo);
  EXPECT_EQ(ScanPass(*worker), PassWorker::PassEnd::kNoSleep);
  EXPECT_TRUE(Has("No set block <scale-a>."));
}

TEST_F(WorkerTest, FailedSendIsRetriedUntilItSucceeds) {
  h.PresetNextDriver(
      {{"LastError", Variant(int32_t{7})}, {"LastErrorMessage", Variant("no answer")}});
  auto worker = Begin();
  h.QueueCommand("svc0001", "10.0.0.5", "6", "logo.bmp", &kLogo);
  ScanPass(*worker);

  EXPECT_TRUE(worker->RetryPending);
  EXPECT_FALSE(worker->Busy);
  EXPECT_TRUE(worker->RetryTimer->Enabled());
  EXPECT_EQ(worker->RetryTimer->Interval(), RetryInterval());
  EXPECT_FALSE(worker->ScanTimer->Enabled());
  EXPECT_EQ(h.LevelOf("CommError <7> - no answer"), 5);
  EXPECT_EQ(h.LevelOf("<10.0.0.5> Error transfer."), 5);
  EXPECT_EQ(h.LevelOf("<10.0.0.5> Retry timer started."), 4);
  EXPECT_TRUE(h.QueryFileExists("svc0001.cmd"));
  EXPECT_TRUE(h.QueryFileExists("svc0001.dat"));
  EXPECT_TRUE(h.QueryFileExists("svc0001.lck"));
  EXPECT_TRUE(h.shared.WorkIPs.empty());
  EXPECT_EQ(h.settings.ScaleList[0].State, 2);

  // Not before the interval is over.
  h.clock.Advance(RetryInterval() - 1);
  worker->Pass();
  EXPECT_EQ(h.Count("OnTimerRetry file scan fired."), 0);

  // The retry fails again.
  h.clock.Advance(1);
  worker->Pass();
  EXPECT_EQ(h.Count("OnTimerRetry file scan fired."), 1);
  EXPECT_EQ(h.LevelOf("<10.0.0.5> Retry send PLU data."), 4);
  EXPECT_EQ(h.Count("<10.0.0.5> Error transfer."), 2);
  EXPECT_TRUE(worker->RetryPending);
  EXPECT_TRUE(worker->RetryTimer->Enabled());
  EXPECT_TRUE(h.QueryFileExists("svc0001.cmd"));

  // Then it succeeds: the command ends there.
  h.DriverLog()->Set("LastError", Variant(int32_t{0}));
  h.clock.Advance(RetryInterval());
  worker->Pass();
  EXPECT_FALSE(worker->RetryPending);
  EXPECT_FALSE(h.QueryFileExists("svc0001.cmd"));
  EXPECT_FALSE(h.QueryFileExists("svc0001.dat"));
  EXPECT_FALSE(h.QueryFileExists("svc0001.lck"));
  EXPECT_TRUE(worker->ScanTimer->Enabled());
  EXPECT_EQ(h.settings.ScaleList[0].State, 0);
  const std::vector<std::string> sends = h.Invokes();
  EXPECT_EQ(std::count(sends.begin(), sends.end(), sends.back()), 3);
  const std::string journal = Journal();
  EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 3);
  EXPECT_THAT(journal, HasSubstr("Operation=SetLogo     Status=2 File=logo.bmp\r\n"));
  EXPECT_THAT(journal, ::testing::EndsWith("Operation=SetLogo     Status=0 File=logo.bmp\r\n"));
}

TEST_F(WorkerTest, RetryOfABusyScaleWaitsAScanInterval) {
  h.PresetNextDriver({{"LastError", Variant(int32_t{1})}});
  auto worker = Begin();
  h.QueueCommand("svc0001", "10.0.0.5", "6", "logo.bmp", &kLogo);
  ScanPass(*worker);
  ASSERT_TRUE(worker->RetryPending);
  h.shared.WorkIPs.push_back("10.0.0.5");
  h.clock.Advance(RetryInterval());
  EXPECT_EQ(worker->Pass(), PassWorker::PassEnd::kNoSleep);
  EXPECT_EQ(worker->RetryTimer->Interval(), ScanInterval());
  EXPECT_TRUE(worker->RetryTimer->Enabled());
  h.shared.WorkIPs.clear();
  h.DriverLog()->Set("LastError", Variant(int32_t{0}));
  h.clock.Advance(ScanInterval());
  worker->Pass();
  EXPECT_FALSE(worker->RetryPending);
  EXPECT_FALSE(h.QueryFileExists("svc0001.cmd"));
  EXPECT_EQ(worker->RetryTimer->Interval(), RetryInterval());
}

TEST_F(WorkerTest, AnExceptionDuringARetryArmsTheRetryAgain) {
  h.PresetNextDriver({{"LastError", Variant(int32_t{1})}});
  auto worker = Begin();
  h.QueueCommand("svc0001", "10.0.0.5", "6", "logo.bmp", &kLogo);
  ScanPass(*worker);
  ASSERT_TRUE(worker->RetryPending);

  h.DriverLog()->failing.insert("IPAddress");
  h.clock.Advance(RetryInterval());
  worker->Pass();
  EXPECT_EQ(h.LevelOf("Fake failure in IPAddress"), 5);
  EXPECT_TRUE(worker->RetryPending);
  EXPECT_TRUE(worker->RetryTimer->Enabled());
  EXPECT_EQ(h.Count("<10.0.0.5> Retry timer started."), 2);
  EXPECT_TRUE(h.shared.WorkIPs.empty());

  h.DriverLog()->failing.clear();
  h.DriverLog()->Set("LastError", Variant(int32_t{0}));
  h.clock.Advance(RetryInterval());
  worker->Pass();
  EXPECT_FALSE(worker->RetryPending);
  EXPECT_FALSE(h.QueryFileExists("svc0001.cmd"));
}

TEST_F(WorkerTest, AFailedSendSeenWhileStoppingLeavesAtOnce) {
  h.PresetNextDriver({{"LastError", Variant(int32_t{1})}});
  auto worker = Begin();
  h.QueueCommand("svc0001", "10.0.0.5", "6", "logo.bmp", &kLogo);
  worker->Terminate();
  EXPECT_EQ(ScanPass(*worker), PassWorker::PassEnd::kLeave);
  EXPECT_TRUE(h.shared.WorkIPs.empty());
  EXPECT_FALSE(Has("<10.0.0.5> Error transfer."));
  EXPECT_FALSE(worker->RetryTimer->Enabled());
  EXPECT_TRUE(Journal().empty());
  EXPECT_TRUE(h.QueryFileExists("svc0001.cmd"));
  EXPECT_TRUE(h.QueryFileExists("svc0001.lck"));
}

TEST_F(WorkerTest, StopWhileARetryIsPendingEndsTheThreadAndKeepsTheCommand) {
  h.PresetNextDriver({{"LastError", Variant(int32_t{1})}});
  auto worker = h.MakeWorker<TWorkQueryFilesThread>();
  h.QueueCommand("svc0001", "10.0.0.5", "6", "logo.bmp", &kLogo);
  worker->Start();
  // The manual clock does not sleep: the thread spins through its passes.
  ASSERT_TRUE(testing::WaitUntil([&] { return h.Count("Execute start.") == 1; }));
  h.clock.Advance(30000);  // past any scan interval
  ASSERT_TRUE(testing::WaitUntil([&] { return worker->RetryPending.load(); }));
  worker->WaitFor();
  EXPECT_TRUE(worker->Finished);
  EXPECT_EQ(h.Count("Execute end."), 1);
  EXPECT_TRUE(h.QueryFileExists("svc0001.cmd"));
  EXPECT_TRUE(h.QueryFileExists("svc0001.lck"));
  EXPECT_EQ(h.Count("<10.0.0.5> Retry send PLU data."), 0);
}

TEST_F(WorkerTest, StartedWorkerIsDestroyedSafelyWithoutAWait) {
  auto worker = h.MakeWorker<TWorkQueryFilesThread>();
  worker->Start();
  ASSERT_TRUE(testing::WaitUntil([&] { return h.Count("Execute start.") == 1; }));
  worker.reset();
  EXPECT_EQ(h.Count("Execute end."), 1);
}

struct BadCase {
  const char* name;
  const char* commandNo;  // "" = no CommandNo line
  bool withData;
  const char* journalOperation;
  int journalStatus;
};

class BadCommandTest : public WorkerTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(BadCommandTest, GoesToBadIsJournaledAndDropped) {
  const BadCase& c = GetParam();
  auto worker = Begin();
  h.QueueCommand("svc0001", "10.0.0.5", c.commandNo, "thing.bmp", c.withData ? &kLogo : nullptr);
  const std::string command = h.dir.Read("Query/svc0001.cmd");
  ScanPass(*worker);

  EXPECT_EQ(h.LevelOf("<10.0.0.5> Error load file. No or bad data in input file."), 5);
  EXPECT_EQ(h.dir.Read("Query/Bad/svc0001.cmd"), command);
  EXPECT_EQ(std::filesystem::exists(h.dir.File("Query/Bad/svc0001.dat")), c.withData);
  EXPECT_FALSE(h.QueryFileExists("svc0001.cmd"));
  EXPECT_FALSE(h.QueryFileExists("svc0001.dat"));
  EXPECT_FALSE(h.QueryFileExists("svc0001.lck"));
  EXPECT_THAT(h.Invokes(), ElementsAre("call GetScaleSerialNumber()"));  // nothing sent
  EXPECT_THAT(Journal(), HasSubstr(std::string(" Operation=") + c.journalOperation + " Status=" +
                                   std::to_string(c.journalStatus) + " File=thing.bmp\r\n"));
  EXPECT_FALSE(worker->RetryPending);
  EXPECT_TRUE(worker->ScanTimer->Enabled());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BadCommandTest,
    ::testing::Values(BadCase{"NoCommandNo", "", true, "Error      ", -1},
                      BadCase{"CommandNoNotANumber", "six", true, "Error      ", -1},
                      BadCase{"CommandNoOutOfRange", "7", true, "Error      ", -1},
                      BadCase{"NoData", "6", false, "SetLogo    ", 3}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return info.param.name; });

TEST_F(WorkerTest, FontCommandWithoutFontNumberIsBad) {
  auto worker = Begin();
  h.QueueCommand("svc0001", "10.0.0.5", "5", "8x16.fnt", &kLogo);
  ScanPass(*worker);
  EXPECT_EQ(worker->FontNumber, -1);
  EXPECT_TRUE(std::filesystem::exists(h.dir.File("Query/Bad/svc0001.cmd")));
  EXPECT_THAT(Journal(), HasSubstr("Operation=SetFonts    Status=-1"));

  h.QueueCommand("svc0002", "10.0.0.5", "5", "16x32.fnt", &kLogo, "FontNumber=2\r\n");
  ScanPass(*worker);
  EXPECT_EQ(worker->FontNumber, 2);
  EXPECT_THAT(h.Invokes(), Contains("call SetFontFile('" + h.dir.File("Query") + kPathDelim +
                                    "svc0002.dat" + "',2)"));
}

TEST_F(WorkerTest, ArchiveKeepsCopiesOfGoodAndBadCommands) {
  h.settings.EnableQueryArchive = true;
  auto worker = Begin();
  h.QueueCommand("svc0001", "10.0.0.5", "6", "logo.bmp", &kLogo);
  const std::string command = h.dir.Read("Query/svc0001.cmd");
  ScanPass(*worker);
  EXPECT_EQ(h.dir.Read("Query/Archive/svc0001.cmd"), command);
  EXPECT_EQ(h.dir.Read("Query/Archive/svc0001.dat"), kLogo);
  EXPECT_FALSE(h.QueryFileExists("svc0001.cmd"));

  h.QueueCommand("svc0002", "10.0.0.5", "", "bad.bmp", &kLogo);
  ScanPass(*worker);
  EXPECT_TRUE(std::filesystem::exists(h.dir.File("Query/Bad/svc0002.cmd")));
  EXPECT_TRUE(std::filesystem::exists(h.dir.File("Query/Archive/svc0002.cmd")));
  EXPECT_TRUE(std::filesystem::exists(h.dir.File("Query/Archive/svc0002.dat")));
  EXPECT_FALSE(h.QueryFileExists("svc0002.cmd"));
}

TEST_F(WorkerTest, AScaleMissingFromTheListIsStillServedWithoutAState) {
  auto worker = Begin();
  h.QueueCommand("svc0001", "10.0.0.99", "6", "logo.bmp", &kLogo);
  ScanPass(*worker);
  EXPECT_THAT(h.Invokes(), Contains(HasSubstr("SetLogoFile")));
  EXPECT_FALSE(h.QueryFileExists("svc0001.cmd"));
  for (const std::string& text : h.Texts())
    EXPECT_THAT(text, Not(HasSubstr("Set scale state")));
  for (const MScaleState& entry : h.settings.ScaleList)
    EXPECT_EQ(entry.State, -1);
  EXPECT_THAT(Journal(), HasSubstr("IP=10.0.0.99 Operation=SetLogo     Status=0"));
}

TEST_F(WorkerTest, AnExceptionInTheCommandIsRetriedEveryPassWithTheScaleReleased) {
  auto worker = Begin();
  h.QueueCommand("svc0001", "10.0.0.5", "6", "logo.bmp", &kLogo);
  h.DriverLog()->failing.insert("GetScaleSerialNumber");
  ScanPass(*worker);
  EXPECT_EQ(h.LevelOf("Fake failure in GetScaleSerialNumber"), 5);
  EXPECT_TRUE(worker->Busy);
  EXPECT_TRUE(h.shared.WorkIPs.empty());
  EXPECT_EQ(h.Count("<10.0.0.5> unblocked."), 1);

  worker->Pass();  // no timer needed: the command is carried out again
  EXPECT_EQ(h.Count("Fake failure in GetScaleSerialNumber"), 2);

  h.DriverLog()->failing.clear();
  worker->Pass();
  EXPECT_FALSE(worker->Busy);
  EXPECT_FALSE(h.QueryFileExists("svc0001.cmd"));
}

TEST_F(WorkerTest, AnUnreadableCommandFileIsLoggedAndReadAgainNextPass) {
  auto worker = Begin();
  // A folder stands where the claimed command file should be.
  const std::string command = h.dir.File("Query") + kPathDelim + "svc0001.cmd";
  std::filesystem::create_directories(command);
  worker->CommandFileName = command;
  worker->Busy = true;
  EXPECT_EQ(worker->Pass(), PassWorker::PassEnd::kSleep);
  const std::string error = "Cannot open file \"" + command + "\". " + std::strerror(EISDIR);
  EXPECT_EQ(h.LevelOf(error), 5);
  EXPECT_TRUE(worker->Busy);
  EXPECT_FALSE(Has("Enter critical section <WorkIPList>."));

  worker->Pass();
  EXPECT_EQ(h.Count(error), 2);
}

TEST_F(WorkerTest, WithoutADriverCommandsStayQueued) {
  AutomationRegistry empty;
  ScaleWorkContext context = h.Context();
  context.Registry = &empty;
  std::vector<std::pair<std::string, int>> lines;
  PassWorker worker(context);
  worker.OnLog = [&lines](TScaleWorkThread*, const std::string& text, int level) {
    lines.emplace_back(text.substr(text.find("): ") + 3), level);
  };
  worker.Begin();
  h.QueueCommand("svc0001", "10.0.0.5", "6", "logo.bmp", &kLogo);
  h.clock.Advance(worker.ScanTimer->MillisUntilDue());
  worker.Pass();
  EXPECT_EQ(lines[0], std::make_pair(std::string("Invalid class string"), 5));
  EXPECT_EQ(lines[1].first, "Started.");
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       std::make_pair(std::string("Invalid class string"), 5)),
            2);
  EXPECT_TRUE(worker.Busy);
  EXPECT_TRUE(h.QueryFileExists("svc0001.cmd"));
  EXPECT_TRUE(h.shared.WorkIPs.empty());
}

}  // namespace
}  // namespace tarvo
