#include "service/mainsrv.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <thread>

#include "platform/codepage.h"
#include "platform/files.h"
#include "settings/inifile.h"
#include "support/command_client.h"
#include "support/fake_automation.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tarvo {
namespace {

using ::testing::ElementsAre;
using testing::FakeAutomationLog;
using testing::FakeAutomationObject;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::TempDir;

// A service whose executable lies in a temporary folder, with a fake driver
// under the driver's ProgID (or none) and scripted control requests.
class ServiceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    // The main thread's part: worker log lines are handed to it.
    server_ = std::thread([this] { queue_.Serve(); });
    driver_ = std::make_shared<FakeAutomationLog>();
    registry_.RegisterBuiltin("FakeDriver",
                              [this] { return std::make_unique<FakeAutomationObject>(driver_); });
  }

  void TearDown() override {
    queue_.Close();
    server_.join();
  }

  std::unique_ptr<TMainTarvoService> MakeService(std::vector<std::string> args = {}) {
    ServiceContext context;
    context.ExePath = dir_.File("tarvo-scale-server");
    context.Args = std::move(args);
    context.clock = Clock::Real();
    context.registry = &registry_;
    context.mainQueue = &queue_;
    context.pollControl = [this] {
      std::lock_guard<std::mutex> lock(mu_);
      if (requests_.empty())
        return ControlRequest::kNone;
      ControlRequest r = requests_.front();
      requests_.pop_front();
      return r;
    };
    context.notify = [this](const std::string& text) { notices_ += text; };
    context.echo = [this](const std::string& text, int level) {
      std::lock_guard<std::mutex> lock(mu_);
      echoed_.push_back("{" + std::to_string(level) + "} " + text);
    };
    context.PortBase = 0;  // free ports: tests run side by side
    return std::make_unique<TMainTarvoService>(context);
  }

  void WithDriver() { registry_.MapProgId(kScaleDriverProgId, "FakeDriver"); }

  // Settings that let every level reach the log file.
  void VerboseLog() {
    dir_.Write("tarvo-scale-server.ini", "[GlobalSettings]\r\nMaxLogLevelEvent=0\r\n");
  }

  void Request(ControlRequest r) {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(r);
  }

  // Runs start and the loop, with `request` served on the loop's first pass.
  bool RunOnce(TMainTarvoService& service, ControlRequest request) {
    const bool started = service.ServiceStart();
    if (!started)
      return false;
    Request(request);
    service.ServiceExecute();
    return true;
  }

  std::string LogText() { return AnsiToUtf8(dir_.Read("Log/tarvo-scale-server.log")); }

  TempDir dir_;
  AutomationRegistry registry_;
  MainThreadQueue queue_;
  std::thread server_;
  std::shared_ptr<FakeAutomationLog> driver_;
  std::mutex mu_;
  std::deque<ControlRequest> requests_;
  std::string notices_;
  std::vector<std::string> echoed_;  // "{level} text" of every event shown
};

TEST_F(ServiceFixture, StartWithoutDriverFailsWithTwoErrorLines) {
  auto service = MakeService();
  const bool started = service->ServiceStart();
  EXPECT_FALSE(started);
  EXPECT_EQ(service->QueryThreadCount(), 0u);
  const std::string log = LogText();
  EXPECT_THAT(log, HasSubstr("{5} "));
  const size_t notFound = log.find("ServiceStart: Tarvo OLE-driver not found!.");
  ASSERT_NE(notFound, std::string::npos);
  const size_t message = log.find("ServiceStart: Invalid class string", notFound);
  EXPECT_NE(message, std::string::npos) << log;
  EXPECT_THAT(log, Not(HasSubstr("ServiceStart: Service started.")));
}

TEST_F(ServiceFixture, EveryEventIsShownWhateverReachesTheLogFile) {
  {
    auto service = MakeService();
    EXPECT_FALSE(service->ServiceStart());
    EXPECT_THAT(LogText(), Not(HasSubstr("Settings: Load settings.")));
  }
  std::lock_guard<std::mutex> lock(mu_);
  const std::vector<std::string> expected = {"{2} ServiceConstructor: Log created.",
                                             "{2} ServiceConstructor: Object created.",
                                             "{1} ServiceStart: Service starting.",
                                             "{0} Settings: Load settings.",
                                             "{5} ServiceStart: Tarvo OLE-driver not found!.",
                                             "{3} ServiceDestroy: Start destroing."};
  size_t next = 0;
  for (const std::string& line : echoed_) {
    if (next < expected.size() && line == expected[next])
      ++next;
  }
  EXPECT_EQ(next, expected.size()) << "missing or out of order: " << expected[next];
}

TEST_F(ServiceFixture, StartSetsDriverPropertiesInOrderAndLogsStarted) {
  WithDriver();
  auto service = MakeService();
  const bool started = service->ServiceStart();
  EXPECT_TRUE(started);
  EXPECT_THAT(driver_->CallStrings(), ElementsAre("set Driver_EnableShowProgress=false",
                                                  "set ClearAccountAfterUpload=true"));
  // The settings load created the folders beside the executable.
  EXPECT_TRUE(DirectoryExists(dir_.File("Log")));
  EXPECT_TRUE(DirectoryExists(dir_.File("Query")));
  EXPECT_TRUE(DirectoryExists(dir_.File("Import")));
}

TEST_F(ServiceFixture, FailingDriverPropertyIsLoggedAndStartGoesOn) {
  WithDriver();
  driver_->failing.insert("Driver_EnableShowProgress");
  auto service = MakeService();
  const bool started = service->ServiceStart();
  EXPECT_TRUE(started);
  const std::string log = LogText();
  const size_t first = log.find("ServiceStart: Fake failure in Driver_EnableShowProgress");
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_NE(log.find("ServiceStart: Error call driver function!", first), std::string::npos);
}

TEST_F(ServiceFixture, StopSavesThreeSectionsThatTheNextStartReadsBack) {
  WithDriver();
  dir_.Write("tarvo-scale-server.ini",
             "[ListScales]\r\nScale1=10.0.0.5\r\nScale2=0.1.2.3\r\nScale3=10.0.0.6\r\n"
             "[GlobalSettings]\r\nSendThreadsCount=3\r\nimportinterval=7\r\n");
  {
    auto service = MakeService();
    ASSERT_TRUE(RunOnce(*service, ControlRequest::kStop));
    EXPECT_TRUE(service->Terminated());
  }
  IniFile ini;
  ASSERT_TRUE(ini.LoadFromFile(dir_.File("tarvo-scale-server.ini")));
  EXPECT_THAT(ini.SectionNames(), ElementsAre("GlobalSettings", "ListScales", "FieldsConfig"));
  const std::vector<std::string> keys = ini.ReadSectionKeys("GlobalSettings");
  ASSERT_EQ(keys.size(), 18u);
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
    return CompareTextAnsi(a, b) < 0;
  }));
  EXPECT_EQ(ini.ReadString("GlobalSettings", "EnableLogFile", ""), "True");
  EXPECT_EQ(ini.ReadString("GlobalSettings", "ImportFileFixField", ""), "False");
  EXPECT_EQ(ini.ReadString("GlobalSettings", "SendThreadsCount", ""), "3");
  EXPECT_THAT(ini.ReadSectionLines("ListScales"),
              ElementsAre("Scale1=10.0.0.5", "Scale2=10.0.0.6"));
  EXPECT_EQ(ini.ReadSectionKeys("FieldsConfig").size(), 128u);
  // Every section is followed by an empty line.
  const std::string text = dir_.Read("tarvo-scale-server.ini");
  EXPECT_THAT(text, HasSubstr("Scale2=10.0.0.6\r\n\r\n[FieldsConfig]"));
  EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");

  auto again = MakeService();
  const bool started = again->ServiceStart();
  ASSERT_TRUE(started);
  EXPECT_EQ(again->ServiceSettings().Snapshot().ImportInterval, 7);
  EXPECT_EQ(again->ServiceSettings().ScaleListCopy().size(), 2u);
}

TEST_F(ServiceFixture, ShutdownEndsTheLoopWithoutSaving) {
  WithDriver();
  VerboseLog();
  auto service = MakeService();
  ASSERT_TRUE(RunOnce(*service, ControlRequest::kShutdown));
  EXPECT_TRUE(service->ShutdownSeen());
  EXPECT_FALSE(service->Terminated());
  EXPECT_EQ(dir_.Read("tarvo-scale-server.ini"), "[GlobalSettings]\r\nMaxLogLevelEvent=0\r\n");
  const std::string log = LogText();
  const size_t shutdown = log.find("ServiceShutdown: Service shutdown.");
  const size_t command = log.find("ServiceExecute: Shutdown command.");
  const size_t end = log.find("ServiceExecute: Execute end.");
  ASSERT_NE(shutdown, std::string::npos);
  ASSERT_NE(command, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  EXPECT_LT(shutdown, command);
  EXPECT_LT(command, end);
}

TEST_F(ServiceFixture, RequestsRaisedTogetherRunInTheirFixedOrder) {
  WithDriver();
  VerboseLog();
  auto service = MakeService();
  const bool started = service->ServiceStart();
  ASSERT_TRUE(started);
  service->ImportScanRequested = true;
  service->DeleteSendQueriesRequested = true;
  service->ReloadSettingsRequested = true;
  service->RestartTCPServersRequested = true;
  service->ShutdownRequested = true;
  service->ServiceExecute();
  const std::string log = LogText();
  const std::vector<std::string> order = {
      "ServiceExecute: Shutdown command.",    "ServiceExecute: Restart TCP Servers.",
      "ServiceExecute: Reload settings.",     "ServiceExecute: Restart query threads.",
      "ServiceExecute: Delete send queries.", "ServiceExecute: Execute end."};
  size_t at = 0;
  for (const std::string& line : order) {
    const size_t found = log.find(line, at);
    ASSERT_NE(found, std::string::npos) << line;
    at = found;
  }
  EXPECT_FALSE(service->ReloadSettingsRequested);
  EXPECT_FALSE(service->RestartQueryThreadsRequested);
  EXPECT_FALSE(service->DeleteSendQueriesRequested);
}

TEST_F(ServiceFixture, ClientCountersFollowFiftyClientsOnEachPortAndAServerRestart) {
  auto service = MakeService();
  ASSERT_FALSE(service->ServiceStart());  // no driver: the command port stays shut
  EXPECT_EQ(service->ServerPort(ServerId::kCmd), 0);
  WithDriver();
  service = MakeService();
  ASSERT_TRUE(service->ServiceStart());
  const struct {
    ServerId id;
    bool greeted;
    std::atomic<int32_t>& counter;
  } ports[] = {
      {ServerId::kCmd, true, service->CmdClientCount},
      {ServerId::kLog, true, service->LogClientCount},
      {ServerId::kStat, false, service->StatClientCount},
      {ServerId::kCmdStat, true, service->CmdStatClientCount},
  };
  const auto counted = [&](int n) {
    return testing::WaitUntil(
        [&] {
          for (const auto& port : ports) {
            if (port.counter != n)
              return false;
          }
          return true;
        },
        10000);
  };
  {
    std::vector<std::unique_ptr<testing::CommandClient>> clients;
    for (const auto& port : ports) {
      for (int i = 0; i < 50; ++i) {
        clients.push_back(
            std::make_unique<testing::CommandClient>(service->ServerPort(port.id), port.greeted));
        ASSERT_TRUE(clients.back()->ok());
      }
    }
    EXPECT_TRUE(counted(50));
  }
  EXPECT_TRUE(counted(0));

  std::vector<std::unique_ptr<testing::CommandClient>> clients;
  for (const auto& port : ports)
    clients.push_back(
        std::make_unique<testing::CommandClient>(service->ServerPort(port.id), port.greeted));
  EXPECT_TRUE(counted(1));
  service->RestartTCPServersRequested = true;
  std::thread loop([&] { service->ServiceExecute(); });
  EXPECT_TRUE(counted(0));
  Request(ControlRequest::kStop);
  loop.join();
}

TEST_F(ServiceFixture, ReloadWithLogFileOffWritesTheLastLinesBetweenRules) {
  WithDriver();
  VerboseLog();
  auto service = MakeService();
  const bool started = service->ServiceStart();
  ASSERT_TRUE(started);
  {
    std::unique_lock<std::shared_mutex> lock(service->ServiceSettings().Lock);
    service->ServiceSettings().EnableLogFile = false;
  }
  service->ReloadSettingsRequested = true;
  service->ShutdownRequested = true;
  service->ServiceExecute();
  const std::string log = LogText();
  const std::string rule(100, '*');
  EXPECT_THAT(log, HasSubstr(rule + "\r\n"));
  const size_t disabled = log.find("Service: Log-file disabled.");
  ASSERT_NE(disabled, std::string::npos);
  EXPECT_EQ(log.substr(log.size() - rule.size() - 2), rule + "\r\n")
      << "nothing reaches the file after the closing rule";
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

TEST_F(ServiceFixture, WorkerPoolFollowsSendThreadsCountAcrossAReload) {
  WithDriver();
  const std::string fields = "[FieldsConfig]\r\nFieldNumber_Pos=1\r\nFieldName_Pos=2\r\n";
  dir_.Write("tarvo-scale-server.ini",
             "[GlobalSettings]\r\nMaxLogLevelEvent=0\r\n"
             "SendThreadsCount=5\r\n[ListScales]\r\n"
             "Scale1=127.0.0.61\r\n" +
                 fields);
  auto service = MakeService();
  const bool started = service->ServiceStart();
  ASSERT_TRUE(started);
  EXPECT_EQ(service->QueryThreadCount(), 5u);
  EXPECT_EQ(Count(LogText(), "IntFunction: Create thread "), 5u);

  // What the command server's reload does before it raises the request.
  dir_.Write("tarvo-scale-server.ini",
             "[GlobalSettings]\r\nMaxLogLevelEvent=0\r\n"
             "SendThreadsCount=2\r\n[ListScales]\r\n"
             "Scale1=127.0.0.61\r\n" +
                 fields);
  service->ServiceSettings().LoadSettings();
  service->ReloadSettingsRequested = true;
  Request(ControlRequest::kStop);
  service->ServiceExecute();
  EXPECT_TRUE(service->Terminated());
  EXPECT_EQ(service->QueryThreadCount(), 0u);
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "IntFunction: Delete thread "), 5u + 2u);
  EXPECT_EQ(Count(log, "IntFunction: Create thread "), 5u + 2u);
  EXPECT_EQ(Count(log, "): Started."), 7u) << "every worker announces itself";
}

TEST_F(ServiceFixture, FieldConfigErrorLeavesThePoolEmpty) {
  WithDriver();
  VerboseLog();
  auto service = MakeService();
  const bool started = service->ServiceStart();
  ASSERT_TRUE(started);
  EXPECT_EQ(service->QueryThreadCount(), 0u);
  EXPECT_THAT(LogText(), HasSubstr("IntFunction: Errors in config. Threads not created."));
}

TEST_F(ServiceFixture, StaleLockFilesAndOrphanDataAreDeletedAtStart) {
  WithDriver();
  VerboseLog();
  dir_.Write("Query/svc1.lck", "TWorkQueryFilesThread 1\n");
  dir_.Write("Query/svc1.cmd", "[ServiceCommand]\r\n");
  dir_.Write("Query/svc1.dat", "data");
  // Left by a process killed after deleting a finished command's .cmd.
  dir_.Write("Query/svc2.dat", "data");
  auto service = MakeService();
  const bool started = service->ServiceStart();
  ASSERT_TRUE(started);
  EXPECT_FALSE(FileExists(dir_.File("Query/svc1.lck")));
  EXPECT_TRUE(FileExists(dir_.File("Query/svc1.cmd")));
  EXPECT_TRUE(FileExists(dir_.File("Query/svc1.dat")));
  EXPECT_FALSE(FileExists(dir_.File("Query/svc2.dat")));
  EXPECT_THAT(LogText(), HasSubstr("ServiceStart: Delete orphan data file <svc2.dat>."));
}

TEST_F(ServiceFixture, TemporariesLeftByAKilledProcessAreDeletedAtStart) {
  WithDriver();
  VerboseLog();
  const struct {
    const char* file;
    bool kept;
  } kCases[] = {
      {"Query/svc1A2F.TMP", false},                     // a unique name being taken
      {"Query/.svc1A2F.dat.0123ABCD.tmp", false},       // a data copy being written
      {"Query/.svc1A2F.cmd.FFFFFFFF.tmp", false},       // a command being written
      {".tarvo-scale-server.ini.89ABCDEF.tmp", false},  // the settings being saved
      {"Query/svc2.cmd", true},
      {"Query/svc2.dat", true},
      {"Query/svc12345.TMP", true},  // not a name the service takes
      {"Query/notes.tmp", true},
      {"Query/.svc3.dat.0123abcd.tmp", true},
      {"Query/Archive/.svc4.dat.0123ABCD.tmp", true},
      {".other.ini.89ABCDEF.tmp", true},         // not the service's settings file
      {"Import/.goods.txt.0123ABCD.tmp", true},  // the import folder is not the service's
  };
  for (const auto& c : kCases)
    dir_.Write(c.file, "x");
  auto service = MakeService();
  ASSERT_TRUE(service->ServiceStart());
  for (const auto& c : kCases)
    EXPECT_EQ(FileExists(dir_.File(c.file)), c.kept) << c.file;
  EXPECT_THAT(LogText(), HasSubstr("ServiceStart: Delete leftover temporary file <svc1A2F.TMP>."));
  EXPECT_THAT(LogText(), HasSubstr("ServiceStart: Delete leftover temporary file "
                                   "<.tarvo-scale-server.ini.89ABCDEF.tmp>."));
}

TEST_F(ServiceFixture, ConstructionWritesItsLinesOnceTheLogHasAFile) {
  WithDriver();
  VerboseLog();
  auto service = MakeService();
  service->ServiceStart();
  const std::string log = LogText();
  // Construction ran while MinLevel was 5, so its level-2 lines were dropped;
  // the header block opens the file.
  EXPECT_THAT(log, Not(HasSubstr("ServiceConstructor:")));
  EXPECT_THAT(log, HasSubstr("Приложение:     tarvo-scale-server\r\n"));
  EXPECT_THAT(log, HasSubstr("События:\r\n"));
}

TEST_F(ServiceFixture, InstallNoticeIsSilencedBySilent) {
  auto loud = MakeService({"/install"});
  loud->ServiceInstall();
  EXPECT_THAT(notices_, HasSubstr("Сервер автоматической загрузки весов Tarvo установлен."));
  notices_.clear();
  auto quiet = MakeService({"-silent", "/INSTALL"});
  quiet->ServiceInstall();
  quiet->ServiceUninstall();
  EXPECT_EQ(notices_, "");
  auto remove = MakeService({"/UNINSTALL"});
  remove->ServiceUninstall();
  EXPECT_THAT(notices_, HasSubstr("Спасибо за использование комплекса ПО для весов Tarvo."));
}

// Import files older than the settle time, as a back office leaves them.
void DropImportFile(const TempDir& dir, const std::string& name, const std::string& data) {
  dir.Write("Import/" + name, data);
  dir.Age("Import/" + name, 10);
}

class ImportScanTest : public ServiceFixture {
 protected:
  // Starts the service with these scales and runs one pass with a scan.
  void Scan(const std::string& scales, const std::string& extra = "") {
    dir_.Write("tarvo-scale-server.ini",
               "[GlobalSettings]\r\nMaxLogLevelEvent=0\r\n" + extra + "[ListScales]\r\n" + scales);
    WithDriver();
    service_ = MakeService();
    const bool started = service_->ServiceStart();
    ASSERT_TRUE(started);
    service_->ImportScanRequested = true;
    service_->ShutdownRequested = true;
    service_->ServiceExecute();
  }

  // The Scale= lines of the queued commands, sorted.
  std::vector<std::string> QueuedScales() {
    std::vector<std::string> out;
    for (const FileEntry& e : ListFolder(dir_.File("Query"), "*.cmd")) {
      IniFile ini;
      EXPECT_TRUE(ini.LoadFromFile(dir_.File("Query/" + e.Name)));
      out.push_back(ini.ReadString("ServiceCommand", "Scale", "") + " " +
                    ini.ReadString("ServiceCommand", "CommandNo", ""));
      EXPECT_TRUE(FileExists(dir_.File("Query/" + ChangeFileExt(e.Name, ".dat"))));
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  std::unique_ptr<TMainTarvoService> service_;
};

const char kThreeScales[] = "Scale1=10.0.0.105\r\nScale2=10.0.0.106\r\nScale3=10.0.0.107\r\n";

TEST_F(ImportScanTest, FileForEveryScaleIsQueuedThreeTimesAndDeleted) {
  DropImportFile(dir_, "STORE.PLU", "1,Milk,1.5\r\n");
  Scan(kThreeScales);
  EXPECT_THAT(QueuedScales(), ElementsAre("10.0.0.105 1", "10.0.0.106 1", "10.0.0.107 1"));
  EXPECT_FALSE(FileExists(dir_.File("Import/STORE.PLU")));
  EXPECT_THAT(LogText(), HasSubstr("ServiceExecute: Import file <STORE.PLU> deleted."));
  EXPECT_EQ(dir_.Read("Query/" + ListFolder(dir_.File("Query"), "*.dat")[0].Name),
            "1,Milk,1.5\r\n");
}

// Each command gets the next number of the service's sequence, in the order
// the scan writes them (files in listing order, then scales in list order),
// starting from the wall clock.
TEST_F(ImportScanTest, CommandsAreNumberedInTheOrderTheyAreQueued) {
  const int64_t before = FileTimeNowMillis() * 1000;
  DropImportFile(dir_, "c.key", "1=2");
  DropImportFile(dir_, "a.txt", "1,Milk,1.5\r\n");
  DropImportFile(dir_, "B.bmp", "BM");
  Scan("Scale1=10.0.0.105\r\nScale2=10.0.0.106\r\n");

  std::vector<std::pair<int64_t, std::string>> commands;
  for (const FileEntry& e : ListFolder(dir_.File("Query"), "*.cmd")) {
    IniFile ini;
    ASSERT_TRUE(ini.LoadFromFile(dir_.File("Query/" + e.Name)));
    commands.emplace_back(std::stoll(ini.ReadString("ServiceCommand", "Sequence", "")),
                          ini.ReadString("ServiceCommand", "OriginalFileName", "") + " " +
                              ini.ReadString("ServiceCommand", "Scale", ""));
  }
  std::sort(commands.begin(), commands.end());
  ASSERT_EQ(commands.size(), 6u);
  EXPECT_GE(commands[0].first, before);
  EXPECT_LT(commands[0].first, FileTimeNowMillis() * 1000 + 1000);
  for (size_t i = 1; i < commands.size(); ++i)
    EXPECT_LT(commands[i - 1].first, commands[i].first) << "the numbers are distinct";
  std::vector<std::string> order;
  for (const auto& command : commands)
    order.push_back(command.second);
  EXPECT_THAT(order, ElementsAre("a.txt 10.0.0.105", "a.txt 10.0.0.106", "B.bmp 10.0.0.105",
                                 "B.bmp 10.0.0.106", "c.key 10.0.0.105", "c.key 10.0.0.106"));
}

TEST_F(ImportScanTest, NamedScaleGetsTheOnlyCommand) {
  DropImportFile(dir_, "plu#105.txt", "x");
  DropImportFile(dir_, "plu#205.txt", "x");
  Scan(kThreeScales);
  EXPECT_THAT(QueuedScales(), ElementsAre("10.0.0.105 1"));
  EXPECT_THAT(LogText(), HasSubstr("> created."));
  EXPECT_THAT(LogText(), HasSubstr("ServiceExecute: Command file for one scale <"));
  EXPECT_FALSE(FileExists(dir_.File("Import/plu#205.txt"))) << "deleted though nobody got it";
}

TEST_F(ImportScanTest, UnknownKindsFoldersAndFreshFilesStay) {
  DropImportFile(dir_, "notes.doc", "x");
  ForceDirectories(dir_.File("Import/old.txt"));
  dir_.Write("Import/growing.txt", "still being written");
  Scan(kThreeScales);
  EXPECT_TRUE(QueuedScales().empty());
  EXPECT_TRUE(FileExists(dir_.File("Import/notes.doc")));
  EXPECT_TRUE(DirectoryExists(dir_.File("Import/old.txt")));
  EXPECT_TRUE(FileExists(dir_.File("Import/growing.txt")));
  const std::string log = LogText();
  EXPECT_THAT(log, HasSubstr("ServiceExecute: Find import file <notes.doc>."));
  EXPECT_THAT(log, HasSubstr("ServiceExecute: Find import file <..>."));
  EXPECT_THAT(log, HasSubstr("Search end. Return code: 18"));
  EXPECT_THAT(log, HasSubstr("No more files."));
}

TEST_F(ImportScanTest, EmptyScaleListLeavesEverythingInPlace) {
  DropImportFile(dir_, "goods.txt", "x");
  Scan("");
  EXPECT_TRUE(FileExists(dir_.File("Import/goods.txt")));
  EXPECT_THAT(LogText(), HasSubstr("ServiceExecute: Error in list scale."));
  EXPECT_THAT(LogText(), Not(HasSubstr("Start find import files.")));
}

TEST_F(ImportScanTest, ExtraFormatReadsTheLastThreeCharacters) {
  DropImportFile(dir_, "goods106.txt", "x");
  Scan(kThreeScales, "ImportExtraFormat=1\r\n");
  EXPECT_THAT(QueuedScales(), ElementsAre("10.0.0.106 1"));
}

TEST_F(ImportScanTest, AQueryFolderThatCannotBeUsedEndsTheScanAndKeepsTheFile) {
  dir_.Write("NotAFolder", "x");
  DropImportFile(dir_, "goods.txt", "x");
  Scan(kThreeScales, "QueryPath=" + dir_.File("NotAFolder") + "\r\n");
  EXPECT_TRUE(FileExists(dir_.File("Import/goods.txt")));
  EXPECT_THAT(LogText(), HasSubstr("ServiceExecuteImport: No unique file name in " +
                                   dir_.File("NotAFolder") + ": " + std::strerror(ENOTDIR)));
  EXPECT_THAT(LogText(), Not(HasSubstr("Command file")));
}

}  // namespace
}  // namespace tarvo
