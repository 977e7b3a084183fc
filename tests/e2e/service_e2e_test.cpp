// The real service binary, started in a folder of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "platform/codepage.h"
#include "settings/inifile.h"
#include "support/harness.h"

namespace tarvo::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(ServiceE2ETest, WithoutTheDriverTheStartFailsAndTheProcessEnds) {
  ServiceProcess service;
  service.dir().Write("progids.ini", "[ProgIDs]\n");
  service.Start({{"TARVO_AUTOMATION_REGISTRY", service.dir().File("progids.ini")}});
  ASSERT_TRUE(service.process().Wait(10000)) << "the process must end by itself";
  EXPECT_NE(service.process().exit_code(), 0);
  const std::string log = service.Log();
  EXPECT_THAT(log, HasSubstr(std::string(100, '*') + "\r\nВремя запуска:  "));
  EXPECT_THAT(log, HasSubstr("Приложение:     tarvo-scale-server\r\n"));
  EXPECT_THAT(log, HasSubstr("Версия:         1.0.0.1 (R)\r\n"));
  EXPECT_THAT(log, HasSubstr("События:\r\n"));
  const size_t first = log.find("{5} ");
  ASSERT_NE(first, std::string::npos);
  const size_t notFound = log.find("ServiceStart: Tarvo OLE-driver not found!.\r\n");
  ASSERT_NE(notFound, std::string::npos) << log;
  const size_t next = log.find("\r\n", notFound) + 2;
  EXPECT_THAT(log.substr(next), ::testing::MatchesRegex(
                                    "[0-9]{5}: \\{5\\} \\[[0-9:.]+\\] \\[[0-9.]+\\] ServiceStart: "
                                    "Invalid class string\r\n(.|\r|\n)*"));
  // The folders were created beside the executable.
  EXPECT_TRUE(std::filesystem::is_directory(service.dir().File("Log")));
}

TEST(ServiceE2ETest, StartsWithTheBuiltInDriverAndSavesItsSettingsOnStop) {
  ServiceProcess service;
  service.WriteIni(ServiceIni({"127.0.0.51"}, {}, {}));
  service.Start();
  ASSERT_TRUE(service.WaitForLog("{2}", 10000));
  ASSERT_TRUE(service.WaitForLog("ServiceStart: Service started.", 10000)) << service.Log();
  ASSERT_TRUE(service.WaitForLog("ServiceExecute: Execute begining.", 10000));
  ASSERT_TRUE(service.Stop());
  EXPECT_EQ(service.process().exit_code(), 0);
  const std::string log = service.Log();
  EXPECT_THAT(log, HasSubstr("ServiceStop: Service stop."));
  EXPECT_THAT(log, HasSubstr("ServiceExecute: Execute end."));
  EXPECT_THAT(log, HasSubstr("SystemLog: Log object destroed."));

  IniFile ini;
  ASSERT_TRUE(ini.LoadFromFile(service.dir().File("tarvo-scale-server.ini")));
  EXPECT_THAT(ini.SectionNames(), ElementsAre("GlobalSettings", "ListScales", "FieldsConfig"));
  EXPECT_EQ(ini.ReadSectionKeys("GlobalSettings").size(), 18u);
  EXPECT_EQ(ini.ReadString("GlobalSettings", "EnableJournals", ""), "True");
  EXPECT_THAT(ini.ReadSectionLines("ListScales"), ElementsAre("Scale1=127.0.0.51"));

  // A second start reads the saved file back.
  service.Start();
  ASSERT_TRUE(WaitUntil(
      [&] {
        const std::string log = service.Log();
        const size_t first = log.find("Execute begining.");
        return first != std::string::npos &&
               log.find("Execute begining.", first + 1) != std::string::npos;
      },
      10000));
  const std::string second = service.Log().substr(log.size());
  EXPECT_THAT(second, HasSubstr("Settings: Loaded 1 scales."));
  ASSERT_TRUE(service.Stop());
  EXPECT_EQ(service.process().exit_code(), 0);
}

TEST(ServiceE2ETest, InstallAndUninstallManageTheUnitFile) {
  TempDir units;
  ServiceProcess service;
  const std::map<std::string, std::string> env = {{"TARVO_SYSTEMD_UNIT_DIR", units.path()}};
  const std::string unit = units.File("MainTarvoService.service");
  const std::string cwd = service.dir().path();
  std::string out;

  ASSERT_EQ(RunToEnd(service.Exe(), {"/INSTALL", "-silent"}, cwd, env, 10000, &out), 0) << out;
  EXPECT_EQ(out, "");
  const std::string text = units.Read("MainTarvoService.service");
  EXPECT_THAT(text, HasSubstr("Description=Tarvo Scale Server"));
  EXPECT_THAT(text, HasSubstr("ExecStart=" + service.Exe()));
  EXPECT_THAT(text, HasSubstr("WantedBy=multi-user.target"));
  EXPECT_THAT(text, HasSubstr("Restart=on-failure"));

  // A silent install of an installed service ends quietly.
  EXPECT_EQ(RunToEnd(service.Exe(), {"-INSTALL", "/SILENT"}, cwd, env, 10000, &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(units.Read("MainTarvoService.service"), text);

  // Without SILENT the registration itself reports the failure.
  EXPECT_NE(RunToEnd(service.Exe(), {"-install"}, cwd, env, 10000, &out), 0);
  EXPECT_THAT(out, HasSubstr("Service \"Tarvo Scale Server\" failed to install with error: \""));

  EXPECT_EQ(RunToEnd(service.Exe(), {"/UNINSTALL"}, cwd, env, 10000, &out), 0) << out;
  EXPECT_FALSE(std::filesystem::exists(unit));
  EXPECT_THAT(out, HasSubstr("Спасибо за использование комплекса ПО для весов Tarvo."));

  EXPECT_NE(RunToEnd(service.Exe(), {"/UNINSTALL"}, cwd, env, 10000, &out), 0);
  EXPECT_THAT(out, HasSubstr("failed to uninstall with error: \""));

  EXPECT_EQ(RunToEnd(service.Exe(), {"/install"}, cwd, env, 10000, &out), 0) << out;
  EXPECT_THAT(out, HasSubstr("Сервер автоматической загрузки весов Tarvo установлен."));
}

}  // namespace
}  // namespace tarvo::testing
