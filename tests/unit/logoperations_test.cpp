#include "log/logoperations.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace tarvo {
namespace {

using testing::TempDir;

const std::string kStars(100, '*');

DateTime At(int y, int mo, int d, int h, int mi, int s, int ms) {
  DateTimeParts p;
  p.year = y;
  p.month = mo;
  p.day = d;
  p.hour = h;
  p.minute = mi;
  p.second = s;
  p.millisecond = ms;
  return DateTime::FromParts(p);
}

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

class SystemLogTest : public ::testing::Test {
 protected:
  SystemLogTest() : clock_(At(2026, 12, 7, 14, 3, 7, 215)) {
    process_.ExePath = dir_.File("app/tarvo-scale-server");
    process_.FileVersion = "1.0.0.1";
    process_.ComputerName = "SHOPPC";
    process_.UserName = "operator";
  }

  std::unique_ptr<TSystemLog> MakeLog(LogOptions options, int min_level = 0) {
    auto log = std::make_unique<TSystemLog>(options, clock_, process_);
    log->SetMinLevel(min_level);
    return log;
  }

  TempDir dir_;
  ManualClock clock_;
  LogProcessInfo process_;
};

TEST_F(SystemLogTest, HeaderIsWindows1251AndLaidOutByteForByte) {
  auto log = MakeLog({});
  // "Время запуска:  " and the other labels in Windows-1251.
  const std::string expected =
      "\r\n" + kStars + "\r\n" +
      "\xC2\xF0\xE5\xEC\xFF \xE7\xE0\xEF\xF3\xF1\xEA\xE0:  07.12.2026 14:03:07\r\n" +
      "\xCF\xF0\xE8\xEB\xEE\xE6\xE5\xED\xE8\xE5:     tarvo-scale-server\r\n" +
      "\xC2\xE5\xF0\xF1\xE8\xFF:         1.0.0.1 (R)\r\n" +
      "\xCF\xF3\xF2\xFC/\xC8\xEC\xFF \xF4\xE0\xE9\xEB\xE0: " + process_.ExePath + "\r\n" +
      "\xCA\xEE\xEC\xEF\xFC\xFE\xF2\xE5\xF0:      SHOPPC\r\n" +
      "\xCF\xEE\xEB\xFC\xE7\xEE\xE2\xE0\xF2\xE5\xEB\xFC:   operator\r\n" + kStars + "\r\n" +
      "\r\n" + "\xD1\xEE\xE1\xFB\xF2\xE8\xFF:\r\n";
  EXPECT_EQ(expected, log->HeaderText());
}

TEST_F(SystemLogTest, ServiceLineFormatMatchesTheDocumentedExample) {
  auto log = MakeLog({slTime, slDate, slNumber});
  log->SetFileName(dir_.File("log/svc.log"));
  for (int i = 1; i <= 41; ++i)
    log->WriteEvent("event", 1);
  log->WriteEvent("ServiceCmd: Error receive file. Uninspected end.", 5);
  const std::vector<std::string> lines = SplitCrLf(dir_.Read("log/svc.log"));
  ASSERT_EQ(42u, lines.size());
  EXPECT_EQ("00001: {1} [14:03:07.215] [07.12.2026] event", lines[0]);
  EXPECT_EQ(
      "00042: {5} [14:03:07.215] [07.12.2026] ServiceCmd: Error receive file. Uninspected end.",
      lines[41]);
  EXPECT_EQ(42, log->LineCount());
}

TEST_F(SystemLogTest, OptionsSelectTheLineElements) {
  auto log = MakeLog({slDate});
  log->WriteEvent("a", 2);
  log->SetOptions({slTime});
  log->WriteEvent("b\r\nsecond", 3);
  log->SetOptions({});
  log->WriteEvent("", 4);
  EXPECT_EQ(
      (std::vector<std::string>{"{2} [07.12.2026] a", "{3} [14:03:07.215] b", "second", "{4} "}),
      log->PendingLines());
  EXPECT_EQ(LogOptions{}, log->Options());
  log->SetOption(slNumber, true);
  EXPECT_TRUE(log->Options().Contains(slNumber));
  log->SetOption(slNumber, false);
  EXPECT_FALSE(log->Options().Contains(slNumber));
}

TEST_F(SystemLogTest, HeaderComesOnceWithTheFirstWrittenEventOnly) {
  auto log = MakeLog({slHeader, slNumber}, 5);
  log->SetFileName(dir_.File("log/svc.log"));
  log->WriteEvent("filtered", 4);
  EXPECT_FALSE(FileExists(dir_.File("log/svc.log")));
  log->WriteEvent("first", 5);
  log->WriteEvent("second", 5);
  EXPECT_EQ(log->HeaderText() + "00001: {5} first\r\n00002: {5} second\r\n",
            dir_.Read("log/svc.log"));
}

TEST_F(SystemLogTest, FilteredEventsAreNotCounted) {
  auto log = MakeLog({slNumber}, 3);
  log->WriteEvent("low", 2);
  log->WriteEvent("high", 3);
  log->WriteEvent("#line", 2);  // a special word below MinLevel is dropped too
  EXPECT_EQ((std::vector<std::string>{"00001: {3} high"}), log->PendingLines());
  log->SetMinLevel(6);
  log->WriteEvent("error", 5);
  EXPECT_EQ(1, log->LineCount());
  EXPECT_EQ(6, log->MinLevel());
}

TEST_F(SystemLogTest, NumbersGrowPastFiveDigits) {
  auto log = MakeLog({slNumber});
  for (int i = 0; i < 100000; ++i)
    log->WriteEvent("x", 0);
  const std::vector<std::string> pending = log->PendingLines();
  ASSERT_EQ(100000u, pending.size());
  EXPECT_EQ("00001: {0} x", pending[0]);
  EXPECT_EQ("99999: {0} x", pending[99998]);
  EXPECT_EQ("100000: {0} x", pending[99999]);
}

TEST_F(SystemLogTest, SpecialWordsInAnyCase) {
  auto log = MakeLog({slNumber});
  log->SetFileName(dir_.File("s.log"));
  log->WriteEvent("#LINE", 0);
  log->WriteEvent("#Line", 0);
  log->WriteEvent("#line", 0);
  log->WriteEvent("#line ", 0);
  log->WriteEvent("#CR", 0);
  log->WriteEvent("#Header", 0);
  log->WriteEvent("after", 0);
  EXPECT_EQ(kStars + "\r\n" + kStars + "\r\n" + kStars + "\r\n" + "00001: {0} #line \r\n" + "\r\n" +
                log->HeaderText() + "00002: {0} after\r\n",
            dir_.Read("s.log"));
}

TEST_F(SystemLogTest, PendingLinesMoveToTheFileInOrderWithTheirStamps) {
  auto log = MakeLog({slTime, slNumber, slHeader});
  log->WriteEvent("one", 1);
  clock_.Advance(1500);
  log->WriteEvent("#cr", 1);
  log->WriteEvent("two", 2);
  dir_.Write("app/old.log", "previous\r\n");
  clock_.Advance(60000);
  log->SetFileName("old");  // no folder, no extension: beside the executable
  EXPECT_EQ(dir_.File("app/old.log"), log->FileName());
  EXPECT_TRUE(log->PendingLines().empty());
  log->WriteEvent("three", 3);
  const std::vector<std::string> lines = SplitCrLf(dir_.Read("app/old.log"));
  ASSERT_EQ(16u, lines.size());
  EXPECT_EQ("previous", lines[0]);
  EXPECT_EQ("", lines[1]);
  EXPECT_EQ(kStars, lines[2]);
  // The header carries the time of the first event, not of the move.
  EXPECT_NE(std::string::npos, lines[3].find(" 07.12.2026 14:03:07"));
  EXPECT_EQ("00001: {1} [14:03:07.215] one", lines[12]);
  EXPECT_EQ("", lines[13]);
  EXPECT_EQ("00002: {2} [14:03:08.715] two", lines[14]);
  EXPECT_EQ("00003: {3} [14:04:08.715] three", lines[15]);
}

TEST_F(SystemLogTest, PendingLinesStayWhenTheFileCannotBeOpened) {
  auto log = MakeLog({});
  log->WriteEvent("kept", 1);
  dir_.Write("blocker", "a file where a folder should be");
  log->SetFileName(dir_.File("blocker/sub/x.log"));
  EXPECT_EQ("", log->FileName());
  EXPECT_EQ((std::vector<std::string>{"{1} kept"}), log->PendingLines());
  log->SetFileName(dir_.File("ok.log"));
  EXPECT_EQ("{1} kept\r\n", dir_.Read("ok.log"));
}

TEST_F(SystemLogTest, UnwritableFileLosesTheEventWithoutConsumingItsNumber) {
  auto log = MakeLog({slNumber, slHeader});
  dir_.Write("blocker", "x");
  log->SetFileName(dir_.File("blocker/x.log"));
  log->WriteEvent("lost", 5);
  EXPECT_EQ(0, log->LineCount());
  log->SetFileName(dir_.File("good.log"));  // nothing written yet: nothing to move
  log->WriteEvent("kept", 5);
  EXPECT_EQ(log->HeaderText() + "00001: {5} kept\r\n", dir_.Read("good.log"));
}

TEST_F(SystemLogTest, CompletesNamesAndIgnoresTheSameNameAgain) {
  auto log = MakeLog({});
  log->SetFileName("");
  EXPECT_EQ("", log->FileName());
  log->SetFileName("journal");
  EXPECT_EQ(dir_.File("app/journal.log"), log->FileName());
  log->WriteEvent("a", 0);
  log->SetFileName("journal");
  log->SetFileName(dir_.File("app/journal.log"));
  EXPECT_EQ("{0} a\r\n", dir_.Read("app/journal.log"));
  log->SetFileName(dir_.File("other/j.txt"));
  EXPECT_EQ(dir_.File("other/j.txt"), log->FileName());
}

TEST_F(SystemLogTest, RenameMovesTheFileAndNumberingContinues) {
  auto log = MakeLog({slNumber});
  log->SetFileName(dir_.File("a/first.log"));
  log->WriteEvent("one", 0);
  log->WriteEvent("two", 0);
  dir_.Write("b/second.log", "stale content\r\n");
  log->SetFileName(dir_.File("b/second.log"));
  EXPECT_FALSE(FileExists(dir_.File("a/first.log")));
  log->WriteEvent("three", 0);
  EXPECT_EQ("00001: {0} one\r\n00002: {0} two\r\n00003: {0} three\r\n", dir_.Read("b/second.log"));
}

TEST_F(SystemLogTest, AFileRotatedAwayIsCreatedAgainWithinASecond) {
  const struct {
    const char* name;
    void (*rotate)(const TempDir& dir, const std::string& path);
    const char* at_name_before;  // what the name holds besides the new line
  } cases[] = {
      {"renamed", [](const TempDir&, const std::string& path) { RenameFile(path, path + ".1"); },
       ""},
      {"deleted", [](const TempDir&, const std::string& path) { DeleteFile(path); }, ""},
      {"replaced",
       [](const TempDir& dir, const std::string& path) {
         dir.Write("fresh", "fresh\r\n");
         RenameFile(dir.File("fresh"), path);
       },
       "fresh\r\n"},
  };
  for (const auto& c : cases) {
    const std::string path = dir_.File(std::string(c.name) + ".log");
    auto log = MakeLog({slNumber});
    log->SetFileName(path);
    log->WriteEvent("one", 0);
    c.rotate(dir_, path);
    log->WriteEvent("two", 0);
    clock_.Advance(1000);
    log->WriteEvent("three", 0);
    log->WriteEvent("four", 0);
    // Lines go to the file at the name again a second later at the latest.
    const std::string now_at_name = dir_.Read(std::string(c.name) + ".log");
    EXPECT_EQ(now_at_name.find("one"), std::string::npos) << c.name;
    const std::string tail = "00003: {0} three\r\n00004: {0} four\r\n";
    ASSERT_GE(now_at_name.size(), tail.size()) << c.name;
    EXPECT_EQ(now_at_name.substr(now_at_name.size() - tail.size()), tail) << c.name;
    EXPECT_EQ(now_at_name.substr(0, std::strlen(c.at_name_before)), c.at_name_before) << c.name;
    if (std::string(c.name) == "renamed") {
      EXPECT_EQ(dir_.Read("renamed.log.1").substr(0, 16), "00001: {0} one\r\n");
    }
  }
}

TEST_F(SystemLogTest, RewriteDeletesTheOldFileOnceOnly) {
  dir_.Write("r.log", "old run\r\n");
  auto log = MakeLog({slRewrite});
  log->SetFileName(dir_.File("r.log"));
  log->WriteEvent("filtered", -1);
  log->WriteEvent("first", 0);
  log->WriteEvent("second", 0);
  EXPECT_EQ("{0} first\r\n{0} second\r\n", dir_.Read("r.log"));

  dir_.Write("keep.log", "old run\r\n");
  auto appending = MakeLog({});
  appending->SetFileName(dir_.File("keep.log"));
  appending->WriteEvent("next", 0);
  EXPECT_EQ("old run\r\n{0} next\r\n", dir_.Read("keep.log"));
}

TEST_F(SystemLogTest, DestructionWritesTheClosingEvents) {
  {
    auto log = MakeLog({slNumber});
    log->SetFileName(dir_.File("d.log"));
    log->WriteEvent("work", 0);
  }
  EXPECT_EQ(
      "00001: {0} work\r\n00002: {3} SystemLog: Log object destroed.\r\n" + kStars + "\r\n\r\n",
      dir_.Read("d.log"));
  {
    auto quiet = MakeLog({}, 5);
    quiet->SetFileName(dir_.File("q.log"));
  }
  EXPECT_FALSE(FileExists(dir_.File("q.log")));
  {
    auto disabled = MakeLog({slDisabled});
    disabled->SetFileName(dir_.File("off.log"));
  }
  EXPECT_FALSE(FileExists(dir_.File("off.log")));
}

TEST_F(SystemLogTest, DisabledLogWritesNothingWhileClientsStillGetEveryLine) {
  dir_.Write("off.log", "untouched");
  auto log = MakeLog({slDisabled, slHeader, slRewrite});
  log->SetFileName(dir_.File("off.log"));
  LogClients clients;
  auto queue = std::make_shared<LogQueue>();
  clients.Add(queue);
  LogWrite(*log, &clients, clock_, "hidden", 5);
  EXPECT_EQ("untouched", dir_.Read("off.log"));
  EXPECT_EQ(0, log->LineCount());
  EXPECT_EQ((std::vector<std::string>{"{5} [14:03:07.215] hidden"}), queue->TakeAll());
}

TEST_F(SystemLogTest, ClientsReceiveEveryLevelInTheShortForm) {
  auto log = MakeLog({slNumber, slTime, slDate}, 5);
  log->SetFileName(dir_.File("c.log"));
  LogClients clients;
  auto first = std::make_shared<LogQueue>();
  auto second = std::make_shared<LogQueue>();
  clients.Add(first);
  clients.Add(second);
  EXPECT_EQ(2u, clients.Count());

  TServiceLog service_log(*log, &clients, clock_);
  LogSink& sink = service_log;
  sink.LogWrite("detail", 0);
  clock_.Advance(42);
  sink.LogWrite("error", 5);
  EXPECT_EQ("00001: {5} [14:03:07.257] [07.12.2026] error\r\n", dir_.Read("c.log"));
  const std::vector<std::string> expected = {"{0} [14:03:07.215] detail",
                                             "{5} [14:03:07.257] error"};
  EXPECT_EQ(expected, first->TakeAll());
  EXPECT_TRUE(first->TakeAll().empty());

  clients.Remove(second.get());
  EXPECT_EQ(0u, second->Count());  // a leaving client's queue is dropped
  sink.LogWrite("later", 5);
  EXPECT_EQ(1u, first->Count());
  EXPECT_EQ(0u, second->Count());

  LogWrite(*log, nullptr, clock_, "no clients", 5);  // before the client list exists
  EXPECT_NE(std::string::npos, dir_.Read("c.log").find("no clients"));
}

TEST_F(SystemLogTest, LongTextsAreCutWithAMarkerInTheFileAndForClientsAlike) {
  auto log = MakeLog({}, 0);
  log->SetFileName(dir_.File("cut.log"));
  LogClients clients;
  auto queue = std::make_shared<LogQueue>();
  clients.Add(queue);
  const std::string head(kMaxEventTextBytes, 'a');
  // {text, what is kept}; the tail goes with any line break in it.
  const std::pair<std::string, std::string> cases[] = {
      {head, head},
      {head + "b", head + " ... [1 bytes cut]"},
      {head + std::string(5000000, 'c') + "\r\nend", head + " ... [5000005 bytes cut]"},
  };
  std::string file;
  for (const auto& [text, kept] : cases) {
    LogWrite(*log, &clients, clock_, text, 0);
    file += "{0} " + kept + "\r\n";
    EXPECT_EQ(std::vector<std::string>{"{0} [14:03:07.215] " + kept}, queue->TakeAll());
  }
  EXPECT_EQ(file, dir_.Read("cut.log"));
}

TEST_F(SystemLogTest, ConcurrentWritersLoseNoLine) {
  auto log = MakeLog({slNumber, slTime});
  log->SetFileName(dir_.File("mt.log"));
  LogClients clients;
  auto queue = std::make_shared<LogQueue>();
  clients.Add(queue);
  constexpr int kThreads = 8;
  constexpr int kLines = 1000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) {
        LogWrite(*log, &clients, clock_, "t" + std::to_string(t) + " i" + std::to_string(i), 1);
      }
    });
  }
  // Moving the file while writers run loses nothing either.
  log->SetFileName(dir_.File("moved/mt.log"));
  for (std::thread& th : threads)
    th.join();

  const std::vector<std::string> lines = SplitCrLf(dir_.Read("moved/mt.log"));
  ASSERT_EQ(static_cast<size_t>(kThreads * kLines), lines.size());
  // Every line once, whole, and numbered in file order.
  std::map<std::string, int> texts;
  int out_of_order = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (std::stoi(lines[i].substr(0, lines[i].find(':'))) != static_cast<int>(i) + 1) {
      ++out_of_order;
    }
    ++texts[lines[i].substr(lines[i].find("] ") + 2)];
  }
  EXPECT_EQ(0, out_of_order);
  EXPECT_EQ(static_cast<size_t>(kThreads * kLines), texts.size());
  for (const auto& [text, count] : texts)
    EXPECT_EQ(1, count) << text;
  EXPECT_EQ(static_cast<size_t>(kThreads * kLines), queue->Count());
  EXPECT_FALSE(FileExists(dir_.File("mt.log")));
}

TEST(LogOptionsTest, SetOperations) {
  LogOptions o{slTime, slHeader};
  EXPECT_TRUE(o.Contains(slTime));
  EXPECT_FALSE(o.Contains(slDate));
  EXPECT_TRUE(o.With(slDisabled).Contains(slDisabled));
  EXPECT_FALSE(o.Without(slTime).Contains(slTime));
  EXPECT_TRUE(o.Without(slTime).Contains(slHeader));
  EXPECT_EQ(o, o.Switched(slRewrite, true).Switched(slRewrite, false));
}

}  // namespace
}  // namespace tarvo
