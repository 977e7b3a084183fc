#include "driver/scaleworkthread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <thread>

#include "platform/files.h"
#include "platform/process.h"
#include "support/worker_harness.h"

namespace tarvo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::WorkerHarness;

// A thread whose Execute runs a test's body, or waits to be told to end.
class ProbeThread : public TScaleWorkThread {
 public:
  using TScaleWorkThread::TScaleWorkThread;
  ~ProbeThread() override { WaitFor(); }

  std::function<void(ProbeThread&)> body;
  std::atomic<uint32_t> ranOn{0};

  void Bind() { BindToCallingThread(); }

 protected:
  void Execute() override {
    ranOn = CurrentThreadHandle();
    if (body) {
      body(*this);
      return;
    }
    while (!Terminated())
      std::this_thread::yield();
  }
};

DateTime At(int day, int month, int year, int hour, int minute, int second) {
  return DateTime::FromParts({year, month, day, hour, minute, second, 0});
}

TEST(JournalFormatTest, DatedLinePadsTheOperationNameToEleven) {
  const DateTime now = At(7, 12, 2026, 14, 5, 9);
  EXPECT_EQ(JournalLine(0, now, "192.168.1.10", 2, 0, "plu.txt"),
            "07.12.2026 14:05:09 IP=192.168.1.10 Operation=UpdatePLUs  Status=0 File=plu.txt");
  EXPECT_EQ(JournalLine(0, now, "10.0.0.5", 0, 2, "a.ini"),
            "07.12.2026 14:05:09 IP=10.0.0.5 Operation=SetSettings Status=2 File=a.ini");
  EXPECT_EQ(JournalLine(0, now, "10.0.0.5", 6, 0, "logo.bmp"),
            "07.12.2026 14:05:09 IP=10.0.0.5 Operation=SetLogo     Status=0 File=logo.bmp");
  // An unreadable command number and the state before any result.
  EXPECT_EQ(JournalLine(1, now, "10.0.0.5", -1, -1, "x.key"),
            "07.12.2026 14:05:09 IP=10.0.0.5 Operation=Error       Status=-1 File=x.key");
  // Only the file name part of a stored path.
  EXPECT_EQ(JournalLine(0, now, "10.0.0.5", 3, 4, "/data/in/l.scr"),
            "07.12.2026 14:05:09 IP=10.0.0.5 Operation=SetLabels   Status=4 File=l.scr");
}

TEST(JournalFormatTest, CommaSeparatedLineKeepsTheStoredName) {
  EXPECT_EQ(JournalLine(2, At(1, 2, 2027, 3, 4, 5), "10.0.0.5", 1, 5, "/data/in/goods.txt"),
            "01.02.2027,03:04:05,10.0.0.5,5,/data/in/goods.txt");
}

TEST(JournalFormatTest, ALineBreakInTheFileNameStaysOnTheLine) {
  const DateTime now = At(7, 12, 2026, 14, 5, 9);
  EXPECT_EQ(JournalLine(0, now, "10.0.0.5", 1, 0, "/in/a\r\nb\x01.txt"),
            "07.12.2026 14:05:09 IP=10.0.0.5 Operation=SetPLUs     Status=0 File=a??b?.txt");
  EXPECT_EQ(JournalLine(2, now, "10.0.0.5", 1, 0, "/in/a\nb.txt"),
            "07.12.2026,14:05:09,10.0.0.5,0,/in/a?b.txt");
}

TEST(JournalFormatTest, OperationNamesAndFiles) {
  const char* names[] = {"SetSettings", "SetPLUs",  "UpdatePLUs", "SetLabels",
                         "SetKeys",     "SetFonts", "SetLogo"};
  for (int i = 0; i < 7; ++i)
    EXPECT_STREQ(JournalOperationName(i), names[i]);
  EXPECT_STREQ(JournalOperationName(7), "Error");
  EXPECT_STREQ(JournalOperationName(-1), "Error");
  EXPECT_EQ(JournalFileName(0, At(7, 12, 2026, 0, 0, 0), "/j"),
            std::string("/j") + kPathDelim + "07-12-2026.log");
  EXPECT_EQ(JournalFileName(2, At(7, 12, 2026, 0, 0, 0), "/j/"), "/j/sclogo.csv");
}

class ScaleWorkThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h.AddScale("10.0.0.5");
    h.AddScale("10.0.0.9");
  }

  // A probe bound to the test thread with its driver on `ip`.
  std::unique_ptr<ProbeThread> BoundProbe(const std::string& ip = "10.0.0.5") {
    h.PresetNextDriver({{"IPAddress", Variant(ip)}});
    auto probe = h.MakeWorker<ProbeThread>();
    probe->Bind();
    h.ClearLines();
    return probe;
  }

  WorkerHarness h;
};

TEST_F(ScaleWorkThreadTest, CreationPreparesTheDriver) {
  auto probe = h.MakeWorker<ProbeThread>();
  EXPECT_THAT(h.DriverLog()->CallStrings(), ElementsAre("set Driver_EnableShowProgress=false",
                                                        "set ClearAccountAfterUpload=true"));
  EXPECT_EQ(probe->Operation, -1);
  EXPECT_FALSE(probe->RetryDue);
  EXPECT_FALSE(probe->Finished);
  EXPECT_EQ(probe->Handle(), 0u);
}

TEST_F(ScaleWorkThreadTest, StartRunsExecuteOnItsOwnThreadAndLogsStarted) {
  auto probe = h.MakeWorker<ProbeThread>();
  probe->Start();
  const uint32_t handle = probe->Handle();
  EXPECT_NE(handle, 0u);
  EXPECT_NE(handle, CurrentThreadHandle());
  probe->WaitFor();
  EXPECT_TRUE(probe->Finished);
  EXPECT_EQ(probe->ranOn, handle);
  ASSERT_FALSE(h.Lines().empty());
  EXPECT_EQ(h.Lines()[0].text, "ThreadWork (" + std::to_string(handle) + "): Started.");
  EXPECT_EQ(h.Lines()[0].level, 2);
}

TEST_F(ScaleWorkThreadTest, LogLinesRunOnTheServingThreadAndAreDroppedOnceItCloses) {
  auto probe = BoundProbe();
  probe->AddLog("hello", 3);
  ASSERT_EQ(h.Lines().size(), 1u);
  EXPECT_EQ(h.Lines()[0].text, "ThreadWork (" + std::to_string(CurrentThreadHandle()) + "): hello");
  EXPECT_EQ(h.Lines()[0].level, 3);
  EXPECT_NE(h.Lines()[0].thread, std::this_thread::get_id());

  h.queue.Close();
  probe->AddLog("lost", 1);
  EXPECT_EQ(h.Lines().size(), 1u);
}

TEST_F(ScaleWorkThreadTest, WithoutAMainQueueLinesRunOnTheCallingThread) {
  ScaleWorkContext context = h.Context();
  context.MainQueue = nullptr;
  ProbeThread probe(context);
  std::vector<std::thread::id> seen;
  probe.OnLog = [&](TScaleWorkThread* sender, const std::string&, int) {
    EXPECT_EQ(sender, &probe);
    seen.push_back(std::this_thread::get_id());
  };
  probe.AddLog("x", 0);
  EXPECT_THAT(seen, ElementsAre(std::this_thread::get_id()));
}

TEST_F(ScaleWorkThreadTest, AFailingLogHandlerDoesNotReachTheWorker) {
  auto probe = BoundProbe();
  probe->OnLog = [](TScaleWorkThread*, const std::string&, int) {
    throw std::runtime_error("handler");
  };
  EXPECT_NO_THROW(probe->AddLog("x", 0));
  probe->OnLog = nullptr;
  EXPECT_NO_THROW(probe->AddLog("y", 0));
}

TEST_F(ScaleWorkThreadTest, DriverCreationFailureIsLoggedWhenTheThreadRuns) {
  AutomationRegistry empty;
  ScaleWorkContext context = h.Context();
  context.Registry = &empty;
  ProbeThread probe(context);
  std::vector<std::pair<std::string, int>> lines;
  probe.OnLog = [&](TScaleWorkThread*, const std::string& text, int level) {
    lines.emplace_back(text.substr(text.find("): ") + 3), level);
  };
  probe.body = [](ProbeThread& self) {
    // Every driver member raises the creation error.
    EXPECT_THROW(self.DriverIP(), AutomationError);
    EXPECT_THROW(self.SetScaleState(0), AutomationError);
  };
  probe.Start();
  probe.WaitFor();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::make_pair(std::string("Invalid class string"), 5));
  EXPECT_EQ(lines[1], std::make_pair(std::string("Started."), 2));
  EXPECT_TRUE(probe.Finished);
}

TEST_F(ScaleWorkThreadTest, AnExceptionEscapingExecuteIsLoggedAndTheThreadFinishes) {
  auto probe = h.MakeWorker<ProbeThread>();
  probe->body = [](ProbeThread&) { throw std::runtime_error("boom"); };
  probe->Start();
  probe->WaitFor();
  EXPECT_TRUE(probe->Finished);
  EXPECT_EQ(h.LevelOf("boom"), 5);
}

TEST_F(ScaleWorkThreadTest, DestroyingIsSafeInEveryState) {
  // Never started.
  { auto probe = h.MakeWorker<ProbeThread>(); }
  // Ended and waited for, then waited for again.
  {
    auto probe = h.MakeWorker<ProbeThread>();
    probe->body = [](ProbeThread&) {};
    probe->Start();
    probe->WaitFor();
    probe->WaitFor();
  }
  // Still running: destruction stops it and waits.
  {
    auto probe = h.MakeWorker<ProbeThread>();
    probe->Start();
    ASSERT_TRUE(testing::WaitUntil([&] { return probe->ranOn != 0; }));
  }
  SUCCEED();
}

TEST_F(ScaleWorkThreadTest, SetScaleStateRecordsTheFirstMatchingEntry) {
  auto probe = BoundProbe("10.0.0.9");
  probe->Operation = 4;
  h.clock.Advance(61000);
  probe->SetScaleState(2);
  EXPECT_EQ(probe->Status, 2);
  const MScaleState& entry = h.settings.ScaleList[1];
  EXPECT_EQ(entry.State, 2);
  EXPECT_EQ(entry.Operation, 4);
  EXPECT_EQ(entry.StateTime, h.clock.LocalNow());
  EXPECT_EQ(h.settings.ScaleList[0].State, -1);
  EXPECT_THAT(h.Texts(), ElementsAre("Set scale state: ip=10.0.0.9 state=2"));
  EXPECT_EQ(h.Lines()[0].level, 1);
}

TEST_F(ScaleWorkThreadTest, SetScaleStateForAnUnlistedScaleRecordsNothing) {
  auto probe = BoundProbe("10.0.0.77");
  probe->SetScaleState(0);
  EXPECT_EQ(probe->Status, 0);
  for (const MScaleState& entry : h.settings.ScaleList)
    EXPECT_EQ(entry.State, -1);
  EXPECT_TRUE(h.Lines().empty());
}

TEST_F(ScaleWorkThreadTest, WriteJournalAppendsToTheDatedFileAndCreatesItsFolder) {
  auto probe = BoundProbe("192.168.1.10");
  h.settings.JournalsPath = h.dir.File("deep/Log");
  h.dir.Write("deep/Log/07-12-2026.log", "earlier line\r\n");
  probe->Operation = 2;
  probe->Status = 0;
  probe->OriginalFileName = "plu.txt";
  probe->WriteJournal();
  probe->Status = 2;
  probe->WriteJournal();
  EXPECT_EQ(h.dir.Read("deep/Log/07-12-2026.log"),
            "earlier line\r\n"
            "07.12.2026 14:05:09 IP=192.168.1.10 Operation=UpdatePLUs  Status=0 File=plu.txt\r\n"
            "07.12.2026 14:05:09 IP=192.168.1.10 Operation=UpdatePLUs  Status=2 File=plu.txt\r\n");

  h.settings.JournalsPath = h.dir.File("fresh/Log");  // missing folder
  probe->WriteJournal();
  EXPECT_THAT(h.dir.Read("fresh/Log/07-12-2026.log"), HasSubstr("Status=2 File=plu.txt\r\n"));
}

TEST_F(ScaleWorkThreadTest, WriteJournalCommaSeparatedForm) {
  auto probe = BoundProbe();
  h.settings.ImportExtraFormat = 2;
  probe->Operation = 6;
  probe->Status = 0;
  probe->OriginalFileName = "logo.bmp";
  probe->WriteJournal();
  probe->WriteJournal();
  EXPECT_EQ(
      h.dir.Read("Log/sclogo.csv"),
      "07.12.2026,14:05:09,10.0.0.5,0,logo.bmp\r\n07.12.2026,14:05:09,10.0.0.5,0,logo.bmp\r\n");
}

TEST_F(ScaleWorkThreadTest, WriteJournalDisabledWritesNothing) {
  auto probe = BoundProbe();
  h.settings.EnableJournals = false;
  probe->WriteJournal();
  EXPECT_FALSE(std::filesystem::exists(h.dir.File("Log")));
}

TEST_F(ScaleWorkThreadTest, WriteJournalStillWritesOnceTheMainQueueIsClosed) {
  auto probe = BoundProbe();
  h.queue.Close();
  probe->Operation = 6;
  probe->Status = 0;
  probe->WriteJournal();
  EXPECT_THAT(h.dir.Read("Log/07-12-2026.log"), HasSubstr("Operation=SetLogo     Status=0"));
}

TEST_F(ScaleWorkThreadTest, WriteJournalFailureIsLoggedNotThrown) {
  auto probe = BoundProbe();
  h.dir.Write("blocker", "a file where the folder should be");
  h.settings.JournalsPath = h.dir.File("blocker");
  EXPECT_NO_THROW(probe->WriteJournal());
  ASSERT_EQ(h.Lines().size(), 1u);
  EXPECT_EQ(h.Lines()[0].level, 5);
  EXPECT_THAT(h.Texts()[0], HasSubstr("Cannot write file"));

  // A driver that raises: the message alone, at level 5.
  h.ClearLines();
  h.settings.JournalsPath = h.dir.File("Log");
  h.DriverLog()->failing.insert("IPAddress");
  EXPECT_NO_THROW(probe->WriteJournal());
  EXPECT_THAT(h.Texts(), ElementsAre("Fake failure in IPAddress"));
}

}  // namespace
}  // namespace tarvo
