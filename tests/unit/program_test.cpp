#include "service/program.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/process.h"

namespace tarvo {
namespace {

TEST(CommandLineTest, SwitchesTakeEitherPrefixAndAnyCase) {
  EXPECT_TRUE(FindCmdLineSwitch({"-silent"}, "SILENT"));
  EXPECT_TRUE(FindCmdLineSwitch({"/Silent"}, "SILENT"));
  EXPECT_FALSE(FindCmdLineSwitch({"silent"}, "SILENT"));
  EXPECT_FALSE(FindCmdLineSwitch({"--silent"}, "SILENT"));
  EXPECT_FALSE(FindCmdLineSwitch({"/silentx"}, "SILENT"));
}

TEST(CommandLineTest, HelpAndVersionAreFoundBeforeAnySwitch) {
  const struct {
    std::vector<std::string> args;
    ProgramRequest request;
  } kCases[] = {
      {{}, ProgramRequest::kRun},
      {{"--help"}, ProgramRequest::kHelp},
      {{"-h"}, ProgramRequest::kHelp},
      {{"--version"}, ProgramRequest::kVersion},
      {{"/INSTALL", "--help"}, ProgramRequest::kHelp},
      {{"--version", "--help"}, ProgramRequest::kVersion},
      {{"-SILENT", "--help", "--version"}, ProgramRequest::kHelp},
      // Everything else runs the service as before, unknown arguments too.
      {{"/INSTALL", "/SILENT"}, ProgramRequest::kRun},
      {{"/help"}, ProgramRequest::kRun},
      {{"-HELP"}, ProgramRequest::kRun},
      {{"--Version"}, ProgramRequest::kRun},
      {{"help"}, ProgramRequest::kRun},
  };
  for (const auto& c : kCases) {
    std::string line;
    for (const std::string& a : c.args)
      line += a + " ";
    EXPECT_EQ(FindProgramRequest(c.args), c.request) << line;
  }
}

TEST(CommandLineTest, HelpNamesEverySwitchAndVariableAndVersionTheFileVersion) {
  const std::string help = ServiceHelpText();
  for (const char* text :
       {"INSTALL", "UNINSTALL", "SILENT", "--help", "--version", "Import/", "Query/", "Log/",
        "TARVO_PORT_BASE", "TARVO_BIND_ADDRESS", "TARVO_SCALE_PORT", "TARVO_TIMER_SCALE",
        "TARVO_AUTOMATION_REGISTRY", "TARVO_SYSTEMD_UNIT_DIR", "TARVO_DECIMAL_SEPARATOR",
        "TARVO_SHORT_DATE_FORMAT", "TARVO_TIME_SEPARATOR", "NO_COLOR"}) {
    EXPECT_THAT(help, ::testing::HasSubstr(text));
  }
  EXPECT_EQ(ServiceVersionText(), "tarvo-scale-server " + ProgramVersion() + "\n");
}

}  // namespace
}  // namespace tarvo
