// The operator's client run against the real service, command family by
// command family.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/process.h"
#include "support/harness.h"

namespace tarvo::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Json = nlohmann::json;
using Strings = std::vector<std::string>;

using Outcome = ProgramOutcome;

// Runs build/bin/tarvoctl with `args` to its end.
Outcome Tarvoctl(const Strings& args, const std::map<std::string, std::string>& env = {}) {
  TempDir dir;
  return RunProgram(BinDir() + "/tarvoctl", args, dir.path(), env);
}

// The same against the service on `base`.
Outcome Tarvoctl(int base, Strings args, const std::map<std::string, std::string>& env = {}) {
  args.insert(args.begin(), {"--port-base", std::to_string(base)});
  return Tarvoctl(args, env);
}

// Starts `service` with `env`; true once its main loop runs.
bool StartService(ServiceProcess& service, const std::map<std::string, std::string>& env = {}) {
  service.Start(env);
  return service.WaitForLog("ServiceExecute: Execute begining.", 10000);
}

Json JsonOf(const Outcome& run) {
  return Json::parse(run.out, nullptr, false);
}

class TarvoctlE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    service_.WriteIni(ServiceIni({"127.0.0.191", "127.0.0.192"}));
    ASSERT_TRUE(StartService(service_));
    base_ = service_.CommandPort();
  }

  ServiceProcess service_;
  int base_ = 0;
};

TEST_F(TarvoctlE2ETest, ReadingCommandsPrintTablesAndJson) {
  const struct {
    Strings args;
    Strings shown;  // each in standard output
  } kCases[] = {
      {{"status"}, {"Scales         2", "RetryQuery     0", "TimeWork       00:00:"}},
      {{"scales"}, {"127.0.0.191  no result yet  -", "127.0.0.192  no result yet  -"}},
      {{"last-send", "127.0.0.192"}, {"-1\n-1\n4"}},
      {{"settings"}, {"\nImportInterval ", " = 1\n"}},
      {{"fields"}, {"FIELD   POS  POSHOME  POSEND  DEFAULT\nNumber  1    0        0\nName    2"}},
      {{"version"}, {ProgramVersion() + " (R)\n"}},
      {{"--version"}, {ProgramVersion()}},
      {{"--help"}, {"status", "set-scales", "check"}},
      {{"upload", "--help"}, {"--as"}},
  };
  for (const auto& c : kCases) {
    const Outcome run = Tarvoctl(base_, c.args);
    EXPECT_EQ(run.code, 0) << c.args[0] << ": " << run.err;
    for (const std::string& text : c.shown)
      EXPECT_THAT(run.out, HasSubstr(text)) << c.args[0];
  }
  EXPECT_THAT(Tarvoctl(base_, {"fields"}).out, Not(HasSubstr("Code")));
  // One column of "=" signs.
  std::istringstream settings(Tarvoctl(base_, {"settings"}).out);
  std::set<size_t> columns;
  for (std::string line; std::getline(settings, line);)
    columns.insert(line.find(" = "));
  EXPECT_EQ(columns.size(), 1u);

  const Json status = JsonOf(Tarvoctl(base_, {"--json", "status"}));
  EXPECT_EQ(status["Scales"], 2);
  EXPECT_EQ(status["StatClient"], 1);
  EXPECT_TRUE(status["TimeWork"].is_string());
  const Json scales = JsonOf(Tarvoctl(base_, {"scales", "--json"}));
  ASSERT_EQ(scales.size(), 2u);
  EXPECT_EQ(scales[1]["IP"], "127.0.0.192");
  EXPECT_EQ(scales[1]["State"], -1);
  EXPECT_EQ(scales[1]["StateText"], "no result yet");
  EXPECT_EQ(JsonOf(Tarvoctl(base_, {"--json", "settings"}))["ImportInterval"], "1");
  const Json placed = JsonOf(Tarvoctl(base_, {"--json", "fields"}));
  ASSERT_EQ(placed.size(), 2u);
  EXPECT_EQ(placed[1]["Name"], "Name");
  EXPECT_EQ(placed[1]["Pos"], 2);
  EXPECT_EQ(JsonOf(Tarvoctl(base_, {"--json", "fields", "--all"})).size(), 32u);
}

TEST_F(TarvoctlE2ETest, ChangingCommandsReachTheServiceAndBadInputIsRefusedBeforeSending) {
  TempDir files;
  files.Write("layout.ini", "[FieldsConfig]\nFieldNumber_Pos=2\r\n\n; comment\nFieldPrice_Pos=4\n");
  files.Write("bad-layout.ini", "FieldNumber_Pos=1\nFieldWeekend_Pos=2\n");
  const struct {
    Strings args;
    int code;
    std::string out;  // in standard output (code 0) or standard error
  } kCases[] = {
      {{"set", "ImportInterval=3"}, 0, "tarvoctl reload"},
      {{"set", "Foo=1"}, 1, "no setting named 'Foo'"},
      {{"set", "ScalePrefix=\xD0\x9F"}, 2, "7-bit ASCII"},
      {{"set", "ImportInterval"}, 2, "NAME=VALUE"},
      {{"set-scales", "127.0.0.5", "127.0.0.300"}, 2, "'127.0.0.300' is not an IPv4 address"},
      {{"set-scales", "127.0.0.5", "127.0.0.6 "}, 2, "nothing was sent"},
      {{"set-scales", "127.0.0.5", "127.0.0.6"}, 0, "2 scales"},
      {{"set-fields", files.File("bad-layout.ini")}, 2, "bad-layout.ini:2: no field is named"},
      {{"set-fields", files.File("layout.ini")}, 0, "saved"},
      {{"upload", files.File("layout.ini"), "--as", "../x.txt"}, 2, "not a plain file name"},
      {{"upload", files.File("missing.txt")}, 2, "cannot read"},
      {{"last-send", "127.0.0.9"}, 1, "not in the scale list"},
      {{"reload"}, 0, "reloaded"},
      {{"restart-workers"}, 0, "workers"},
      {{"clear-queue", "--yes"}, 0, "queued"},
      {{"no-such-command"}, 2, ""},
  };
  for (const auto& c : kCases) {
    const Outcome run = Tarvoctl(base_, c.args);
    EXPECT_EQ(run.code, c.code) << c.args[0] << " " << c.args.back() << ": " << run.err;
    EXPECT_THAT(c.code == 0 ? run.out : run.err, HasSubstr(c.out)) << c.args.back();
  }
  const std::string ini = service_.ReadIni();
  EXPECT_THAT(ini, HasSubstr("ImportInterval=3"));
  EXPECT_THAT(ini, HasSubstr("Scale1=127.0.0.5\r\nScale2=127.0.0.6\r\n"));
  EXPECT_THAT(ini, HasSubstr("FieldNumber_Pos=2"));
  EXPECT_THAT(ini, HasSubstr("FieldPrice_Pos=4"));
  // The refused lists never reached the port: one upload of each kind arrived.
  const std::string log = service_.Log();
  EXPECT_EQ(log.find("Receive command - SetScaleList."),
            log.rfind("Receive command - SetScaleList."));
  EXPECT_EQ(log.find("Receive command - SetFieldsConfig."),
            log.rfind("Receive command - SetFieldsConfig."));

  // Ten megabytes of every byte value arrive byte for byte.
  std::string data(10 << 20, '\0');
  std::mt19937 random(12);
  for (char& c : data)
    c = static_cast<char>(random());
  files.Write("blob.bin", data);
  const Outcome upload = Tarvoctl(base_, {"upload", files.File("blob.bin"), "--as", "copy.bin"});
  EXPECT_EQ(upload.code, 0) << upload.err;
  EXPECT_TRUE(service_.dir().Read("Import/copy.bin") == data);

  EXPECT_EQ(Tarvoctl(base_, {"shutdown", "--yes"}).code, 0);
  EXPECT_TRUE(service_.process().Wait(20000));
  const Outcome gone = Tarvoctl(base_, {"status"});
  EXPECT_EQ(gone.code, 3);
  EXPECT_THAT(gone.err, HasSubstr("127.0.0.1:" + std::to_string(base_ + 2)));
  const Outcome check = Tarvoctl(base_, {"check"});
  EXPECT_EQ(check.code, 2);
  EXPECT_THAT(check.out, HasSubstr("TARVO CRITICAL"));
}

TEST_F(TarvoctlE2ETest, LogPrintsWhatTheServiceLogsOncePolledOrFollowing) {
  TempDir dir;
  const std::map<std::string, std::string> env = {{"TARVO_PORT_BASE", std::to_string(base_)}};
  ChildProcess follow(BinDir() + "/tarvoctl", {"log", "-f", "--interval", "100"}, dir.path(), env);
  ASSERT_TRUE(WaitUntil(
      [&] {
        return JsonOf(Tarvoctl(base_, {"--json", "status"}))["LogClient"] == 1;
      },
      10000));
  TempDir once_dir;
  ChildProcess once(BinDir() + "/tarvoctl", {"log", "--interval", "5000"}, once_dir.path(), env);
  ASSERT_TRUE(WaitUntil(
      [&] {
        return JsonOf(Tarvoctl(base_, {"--json", "status"}))["LogClient"] == 2;
      },
      10000));
  EXPECT_EQ(Tarvoctl(base_, {"set", "ImportInterval=2"}).code, 0);

  ASSERT_TRUE(once.Wait(10000));
  EXPECT_EQ(once.exit_code(), 0);
  EXPECT_THAT(once.Stdout(), HasSubstr("ServiceCmd: Change setting ImportInterval=2"));
  EXPECT_TRUE(follow.WaitForStdout("ServiceCmd: Change setting ImportInterval=2", 10000));
  EXPECT_TRUE(follow.running());
  follow.Signal(SIGINT);
  EXPECT_TRUE(follow.Wait(5000));
}

TEST(TarvoctlScalesE2ETest, ScalesAndCheckShowTheServedAndTheDownScale) {
  const std::string up = "127.0.0.193", down = "127.0.0.194";
  EmulatorProcess emulator({up});
  ASSERT_TRUE(emulator.ok());
  ServiceProcess service;
  service.WriteIni(ServiceIni({up, down}));
  // Retries every 30 s: the failure stays the down scale's last state.
  ASSERT_TRUE(StartService(service, {{"TARVO_SCALE_PORT", std::to_string(emulator.port())},
                                     {"TARVO_TIMER_SCALE", "0.05"}}));
  const int base = service.CommandPort();
  TempDir files;
  files.Write("logo.bmp", std::string(300, 'L'));
  ASSERT_EQ(Tarvoctl(base, {"upload", files.File("logo.bmp")}).code, 0);
  ASSERT_TRUE(service.WaitForLog("<" + up + "> Transfer success.", 30000));
  ASSERT_TRUE(service.WaitForLog("<" + down + "> Retry timer started.", 30000));

  const std::map<std::string, std::string> iso = {{"TARVO_SHORT_DATE_FORMAT", "yyyy-mm-dd"}};
  const Outcome scales = Tarvoctl(base, {"scales"}, iso);
  ASSERT_EQ(scales.code, 0) << scales.err;
  const std::string today = FormatDateTime("yyyy-mm-dd", Clock::Real()->LocalNow());
  EXPECT_THAT(scales.out, HasSubstr(up + "  success       SetLogo    " + today));
  EXPECT_THAT(scales.out, HasSubstr(down + "  driver error  SetLogo    " + today));

  // The check reads the retry interval through the same timer scale as the
  // workers: long, the pending retry only warns; short, the failure is older.
  const struct {
    std::string scale;
    Strings args;
    int code;
    std::string line;
  } kChecks[] = {
      {"100", {"check"}, 1, "TARVO WARNING - retries pending: 1 (more than 0)"},
      {"100", {"check", "--max-retry", "1"}, 0, "TARVO OK - 2 scales, retries pending: 1"},
      {"0.001", {"check"}, 2, "TARVO CRITICAL - driver error on " + down + " since " + today},
  };
  for (const auto& c : kChecks) {
    Outcome check;
    EXPECT_TRUE(WaitUntil(
        [&] {
          check = Tarvoctl(base, c.args, {{"TARVO_TIMER_SCALE", c.scale}, *iso.begin()});
          return check.code == c.code;
        },
        10000))
        << check.out;
    EXPECT_THAT(check.out, HasSubstr(c.line));
  }
  EXPECT_TRUE(service.Stop());
}

}  // namespace
}  // namespace tarvo::testing
