#include "service/import_scan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "log/logoperations.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "settings/inifile.h"
#include "settings/workservicesettings.h"
#include "support/temp_dir.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(ImportKindsTest, ExtensionsMapToCommandNumbers) {
  EXPECT_EQ(ImportCommandNumber("scale.ini"), 0);
  EXPECT_EQ(ImportCommandNumber("STORE.PLU"), 1);
  EXPECT_EQ(ImportCommandNumber("goods.txt"), 1);
  EXPECT_EQ(ImportCommandNumber("goods.TxU"), 2);
  EXPECT_EQ(ImportCommandNumber("l.scr"), 3);
  EXPECT_EQ(ImportCommandNumber("k.key"), 4);
  EXPECT_EQ(ImportCommandNumber("8x16.fnt"), 5);
  EXPECT_EQ(ImportCommandNumber("logo.bmp"), 6);
  EXPECT_EQ(ImportCommandNumber("notes.doc"), -1);
  EXPECT_EQ(ImportCommandNumber("README"), -1);
  EXPECT_EQ(ImportCommandNumber("archive.txt.gz"), -1);
}

TEST(ImportKindsTest, ScaleNumberInTheName) {
  EXPECT_EQ(ImportTargetScale("plu#105.txt", 0, "#"), 105);
  EXPECT_EQ(ImportTargetScale("plu#255.txt", 0, "#"), 0);
  EXPECT_EQ(ImportTargetScale("plu#000.txt", 0, "#"), 0);
  EXPECT_EQ(ImportTargetScale("plu#abc.txt", 0, "#"), 0);
  EXPECT_EQ(ImportTargetScale("a#b#101.txt", 0, "#"), 0) << "the first divider decides";
  EXPECT_EQ(ImportTargetScale("#101.txt", 0, "#"), 101);
  EXPECT_EQ(ImportTargetScale("101.txt", 0, "#"), 0) << "the base must be longer than 3";
  EXPECT_EQ(ImportTargetScale("goods101.txt", 0, "#"), 0);
  EXPECT_EQ(ImportTargetScale("goods101.txt", 1, "#"), 101);
  EXPECT_EQ(ImportTargetScale("goods101.txt", 2, "#"), 101);
  EXPECT_EQ(ImportTargetScale("101.txt", 1, "#"), 101);
  EXPECT_EQ(ImportTargetScale("10.txt", 1, "#"), 0);
  // The divider must start three characters from the end, so a longer one
  // overlaps the number and never names a scale.
  EXPECT_EQ(ImportTargetScale("plu__07.txt", 0, "__"), 0);
  EXPECT_EQ(ImportTargetScale("plu__007.txt", 0, "__"), 0);
}

// The lines of one scan, and a hook that runs at each line, so a test can
// act on the folder at a given point of the scan.
class RecordingLog : public LogSink {
 public:
  void LogWrite(const std::string& text, int level) override {
    lines.push_back(std::to_string(level) + " " + text);
    if (onLine)
      onLine(text);
  }
  // The lines at `level` that contain `text`.
  size_t Count(const std::string& text, int level) const {
    size_t n = 0;
    for (const std::string& line : lines)
      n += line.rfind(std::to_string(level) + " ", 0) == 0 && line.find(text) != std::string::npos;
    return n;
  }

  std::vector<std::string> lines;
  std::function<void(const std::string&)> onLine;
};

// The scan on real folders, with one scale and the memory kept across scans.
class ImportScanRunTest : public ::testing::Test {
 protected:
  ImportScanRunTest()
      : log_({slNumber}, clock_, LogProcessInfo{dir_.File("tarvo-scale-server"), "", "", ""}),
        settings_(dir_.File("tarvo-scale-server"), log_, clock_) {
    settings_.IniFileName = dir_.File("tarvo-scale-server.ini");
    dir_.Write("tarvo-scale-server.ini", "[ListScales]\r\nScale1=10.0.0.105\r\n");
    settings_.LoadSettings();
    settings_.LoadScaleList();
    ForceDirectories(dir_.File("Import"));
  }

  // A file that has settled, as a back office leaves it.
  void Drop(const std::string& name, const std::string& data, int ageSeconds = 10) {
    dir_.Write("Import/" + name, data);
    dir_.Age("Import/" + name, ageSeconds);
  }

  void Scan() { ASSERT_TRUE(ImportScan(settings_, sink_, clock_, memory_, sequence_)); }

  // A scan whose flush of the queue records what the import folder and the
  // log held at that moment, and then succeeds or fails as `flushOk` says.
  void ScanRecordingFlush(bool flushOk) {
    const QueueFlush flush = [this, flushOk](const std::string& folder, std::string* error) {
      flushes_.push_back(folder);
      for (const FileEntry& e : ListFolder(dir_.File("Import")))
        importAtFlush_.push_back(e.Name);
      linesAtFlush_ = sink_.lines;
      *error = "Input/output error";
      return flushOk;
    };
    ASSERT_TRUE(ImportScan(settings_, sink_, clock_, memory_, sequence_, flush));
  }

  // OriginalFileName and data of each queued command.
  std::vector<std::string> Queued() {
    std::vector<std::string> out;
    for (const FileEntry& e : ListFolder(dir_.File("Query"), "*.cmd")) {
      IniFile ini;
      EXPECT_TRUE(ini.LoadFromFile(dir_.File("Query/" + e.Name)));
      out.push_back(ini.ReadString("ServiceCommand", "OriginalFileName", "") + ": " +
                    dir_.Read("Query/" + ChangeFileExt(e.Name, ".dat")));
    }
    return out;
  }

  testing::TempDir dir_;
  ManualClock clock_;
  TSystemLog log_;
  MServiceSettings settings_;
  RecordingLog sink_;
  ImportScanMemory memory_;
  CommandSequence sequence_;
  std::vector<std::string> flushes_;
  std::vector<std::string> importAtFlush_;
  std::vector<std::string> linesAtFlush_;
};

// Every command of a scan is on disk before the first import file goes: the
// queue is flushed once, with all the files still in place, and only a
// successful flush lets them go.
TEST_F(ImportScanRunTest, ImportFilesAreDeletedOnlyAfterTheQueueIsFlushed) {
  for (const bool flushOk : {true, false}) {
    SCOPED_TRACE(flushOk ? "flushed" : "flush failed");
    flushes_.clear();
    importAtFlush_.clear();
    sink_.lines.clear();
    for (const char* name : {"a.txt", "b.plu", "c.txt"})
      Drop(name, std::string(name) + "\r\n");
    ScanRecordingFlush(flushOk);
    ASSERT_THAT(flushes_, ElementsAre(settings_.Snapshot().QueryPath));
    EXPECT_THAT(importAtFlush_, ElementsAre("a.txt", "b.plu", "c.txt"));
    EXPECT_EQ(std::count_if(linesAtFlush_.begin(), linesAtFlush_.end(),
                            [](const std::string& line) {
                              return line.find("> created.") != std::string::npos;
                            }),
              3);
    for (const std::string& line : linesAtFlush_)
      EXPECT_THAT(line, Not(HasSubstr("deleted."))) << "deleted before the flush";
    EXPECT_EQ(sink_.Count("> deleted.", 1), flushOk ? 3u : 0u);
    EXPECT_EQ(ListFolder(dir_.File("Import")).size(), flushOk ? 0u : 3u);
    EXPECT_EQ(
        sink_.Count("ServiceExecuteImport: Command files in " + settings_.Snapshot().QueryPath +
                        " may not be on disk (Input/output error), the import files stay.",
                    5),
        flushOk ? 0u : 1u);
  }
  // After a failed flush the next scan queues the files again.
  Scan();
  EXPECT_EQ(Queued().size(), 9u);
  EXPECT_TRUE(ListFolder(dir_.File("Import")).empty());
}

// A scan that cannot queue a file still flushes and deletes the files
// queued before it; the failed file and those after it stay for the next.
TEST_F(ImportScanRunTest, AScanEndingEarlyDeletesOnlyTheFilesItQueued) {
  for (const char* name : {"a.txt", "b.txt", "c.txt"})
    Drop(name, std::string(name) + "\r\n");
  // The query folder turns into a file once a.txt is queued.
  const std::string query = settings_.Snapshot().QueryPath;
  sink_.onLine = [&](const std::string& text) {
    if (text.find("> created.") != std::string::npos && !fs::exists(dir_.File("aside"))) {
      fs::rename(query, dir_.File("aside"));
      dir_.Write("Query", "not a folder");
    }
  };
  ScanRecordingFlush(true);
  sink_.onLine = nullptr;
  EXPECT_EQ(flushes_.size(), 1u);
  EXPECT_THAT(importAtFlush_, ElementsAre("a.txt", "b.txt", "c.txt"));
  EXPECT_EQ(sink_.Count("ServiceExecuteImport: No unique file name in " + query, 5), 1u);
  EXPECT_EQ(sink_.Count("ServiceExecute: Import file <a.txt> deleted.", 1), 1u);
  EXPECT_EQ(sink_.Count("deleted.", 1), 1u);
  EXPECT_FALSE(FileExists(dir_.File("Import/a.txt")));
  EXPECT_TRUE(FileExists(dir_.File("Import/b.txt")));
  EXPECT_TRUE(FileExists(dir_.File("Import/c.txt")));

  fs::remove(query);
  fs::rename(dir_.File("aside"), query);
  Scan();
  EXPECT_THAT(Queued(), ::testing::UnorderedElementsAre("a.txt: a.txt\r\n", "b.txt: b.txt\r\n",
                                                        "c.txt: c.txt\r\n"));
  EXPECT_TRUE(ListFolder(dir_.File("Import")).empty());
}

TEST_F(ImportScanRunTest, WhatIsNotARegularFileIsReportedOnceAndNeverRead) {
  dir_.Write("secret", "99,Secret,1\r\n");
  fs::create_symlink(dir_.File("secret"), dir_.File("Import/passwd.txt"));
  ASSERT_EQ(::mkfifo(dir_.File("Import/fifo.txt").c_str(), 0600), 0);
  ASSERT_TRUE(ForceDirectories(dir_.File("Import/old.plu")));
  fs::create_symlink(dir_.File("secret"), dir_.File("Import/notes.doc"));
  Drop("goods.txt", "1,Milk,1.5\r\n");
  for (int scan = 0; scan < 3; ++scan)
    Scan();
  EXPECT_THAT(Queued(), ElementsAre("goods.txt: 1,Milk,1.5\r\n"));
  EXPECT_TRUE(fs::is_symlink(dir_.File("Import/passwd.txt")));
  EXPECT_TRUE(fs::is_fifo(dir_.File("Import/fifo.txt")));
  EXPECT_TRUE(fs::is_directory(dir_.File("Import/old.plu")));
  EXPECT_EQ(sink_.Count("Import file <passwd.txt> is not a regular file, left in place.", 5), 1u);
  EXPECT_EQ(sink_.Count("Import file <fifo.txt> is not a regular file, left in place.", 5), 1u);
  EXPECT_EQ(sink_.Count("Import file <old.plu> is a folder, left in place.", 5), 1u);
  EXPECT_EQ(sink_.Count("notes.doc", 5), 0u) << "a kind that is not imported stays silent";

  // Once gone and back, an entry is new again and reported again.
  fs::remove(dir_.File("Import/passwd.txt"));
  Scan();
  fs::create_symlink(dir_.File("secret"), dir_.File("Import/passwd.txt"));
  Scan();
  EXPECT_EQ(sink_.Count("Import file <passwd.txt> is not a regular file", 5), 2u);
  EXPECT_EQ(Queued().size(), 1u);
}

TEST_F(ImportScanRunTest, AFileThatCannotBeDeletedIsQueuedOnceUntilItChanges) {
  Drop("goods.txt", "1,Milk,1.5\r\n");
  // The file steps aside while the scan deletes it, then comes back as it was.
  sink_.onLine = [this](const std::string& text) {
    if (text.find("> created.") != std::string::npos)
      fs::rename(dir_.File("Import/goods.txt"), dir_.File("aside"));
    if (text.find("Error delete import file") != std::string::npos)
      fs::rename(dir_.File("aside"), dir_.File("Import/goods.txt"));
  };
  Scan();
  sink_.onLine = nullptr;
  EXPECT_EQ(sink_.Count("ServiceExecute: Error delete import file <goods.txt> (" +
                            std::string(std::strerror(ENOENT)) + ").",
                        5),
            1u);
  EXPECT_EQ(sink_.Count("deleted.", 1), 0u) << "a failed deletion is not reported as done";
  Scan();
  Scan();
  EXPECT_EQ(Queued().size(), 1u);
  EXPECT_EQ(sink_.Count("Error delete", 5), 1u);
  EXPECT_TRUE(FileExists(dir_.File("Import/goods.txt")));

  // Changed, it is queued again, and this time deleted.
  Drop("goods.txt", "2,Kefir,0.9\r\n", 20);
  Scan();
  EXPECT_THAT(Queued(), ::testing::UnorderedElementsAre("goods.txt: 1,Milk,1.5\r\n",
                                                        "goods.txt: 2,Kefir,0.9\r\n"));
  EXPECT_FALSE(FileExists(dir_.File("Import/goods.txt")));
  EXPECT_EQ(sink_.Count("ServiceExecute: Import file <goods.txt> deleted.", 1), 1u);
}

TEST_F(ImportScanRunTest, ForeignNamesAreQueuedAndDeletedByTheirOwnBytes) {
  // "Привет.txt" in Windows-1251 bytes on disk, and a name with a line break.
  const std::string cp1251 = "\xCF\xF0\xE8\xE2\xE5\xF2.txt";
  Drop(cp1251, "44,x,1\r\n");
  Drop("a\r\nb.txt", "45,y,1\r\n");
  Scan();
  Scan();
  const std::vector<std::string> queued = Queued();
  EXPECT_EQ(queued.size(), 2u);
  EXPECT_THAT(queued, ::testing::Contains(cp1251 + ": 44,x,1\r\n"));
  EXPECT_TRUE(ListFolder(dir_.File("Import")).empty());
  EXPECT_EQ(sink_.Count("ServiceExecute: Import file <" + cp1251 + "> deleted.", 1), 1u);
  EXPECT_EQ(sink_.Count("ServiceExecute: Find import file <a??b.txt>.", 0), 1u);
  EXPECT_EQ(sink_.Count("ServiceExecute: Import file <a??b.txt> deleted.", 1), 1u);
  for (const std::string& line : sink_.lines)
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
}

// The numbers start from the wall clock (ms * 1000) and always grow: within a
// millisecond, when the clock is set back, and in a new run started later.
TEST(CommandSequenceTest, GrowsWithTheClockAndPastIt) {
  CommandSequence sequence;
  const struct {
    int64_t nowMillis;
    int64_t next;
  } steps[] = {
      {1796630462000, 1796630462000000},  // the first number: the clock
      {1796630462000, 1796630462000001},  // the same millisecond
      {1796630462000, 1796630462000002},
      {1796630461000, 1796630462000003},  // the clock set back a second
      {1796630462005, 1796630462005000},  // the clock ahead again
  };
  for (const auto& step : steps)
    EXPECT_EQ(sequence.Next(step.nowMillis), step.next) << step.nowMillis;
  // A restart a millisecond later starts above every number of the last run.
  EXPECT_GT(CommandSequence().Next(1796630462006), 1796630462005000);
}

}  // namespace
}  // namespace tarvo
