// Every program answers --help and --version without doing anything else,
// the benchmarks refuse what they do not understand, and tarvoctl's manual
// page lists the commands its --help lists.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace tarvo::testing {
namespace {

using ::testing::HasSubstr;

using Outcome = ProgramOutcome;

// The names of a folder's entries.
std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

TEST(ProgramHelpE2ETest, TheServiceAnswersBeforeItTouchesAnything) {
  const std::string version = "tarvo-scale-server " + ProgramVersion() + "\n";
  const struct {
    std::vector<std::string> args;
    std::string shown;  // in standard output
  } kCases[] = {
      {{"--help"}, "usage: tarvo-scale-server [/INSTALL | /UNINSTALL] [/SILENT]\n"},
      {{"-h"}, "TARVO_PORT_BASE"},
      {{"--version"}, version},
      // Handled before the switches: no unit is written.
      {{"/INSTALL", "--help"}, "usage: tarvo-scale-server"},
      {{"/UNINSTALL", "/SILENT", "--version"}, version},
  };
  for (const auto& c : kCases) {
    TempDir dir;
    std::filesystem::copy_file(BinDir() + "/tarvo-scale-server", dir.File("tarvo-scale-server"));
    // A port base and a ProgID table that would stop a real start.
    const Outcome run = RunProgram(dir.File("tarvo-scale-server"), c.args, dir.path(),
                                   {{"TARVO_SYSTEMD_UNIT_DIR", dir.File("units")},
                                    {"TARVO_PORT_BASE", "nonsense"},
                                    {"TARVO_AUTOMATION_REGISTRY", dir.File("missing.ini")}});
    EXPECT_EQ(run.code, 0) << c.args[0] << ": " << run.err;
    EXPECT_THAT(run.out, HasSubstr(c.shown)) << c.args[0];
    EXPECT_EQ(run.err, "") << c.args[0];
    if (c.shown == version) {
      EXPECT_EQ(run.out, version);
    }
    // Neither settings, nor folders, nor a unit: only the output files.
    EXPECT_EQ(Entries(dir.path()),
              (std::set<std::string>{"tarvo-scale-server", "stdout.txt", "stderr.txt"}))
        << c.args[0];
  }
}

TEST(ProgramHelpE2ETest, ToolsAnswerHelpAndVersionAndBenchmarksRefuseWhatTheyDoNotKnow) {
  const std::string v = ProgramVersion();
  const struct {
    std::string program;
    std::vector<std::string> args;
    int code;
    std::string shown;  // in standard output when 0, else in standard error
  } kCases[] = {
      {"tarvo-scale-emu", {"--help"}, 0, "usage: tarvo-scale-emu --state DIR"},
      {"tarvo-scale-emu", {"127.0.0.1", "-h"}, 0, "--error-code C"},
      {"tarvo-scale-emu", {"--version"}, 0, "tarvo-scale-emu " + v + "\n"},
      {"tarvo-scale-emu", {"--state", "s", "--bogus", "1", "127.0.0.1"}, 2, "unknown option"},
      {"tarvoctl", {"--help"}, 0, "Subcommands:"},
      {"tarvoctl", {"--version"}, 0, "tarvoctl " + v + "\n"},
      {"tarvoctl", {"status", "--bogus"}, 2, "--bogus"},
      {"plu_load_bench", {"--help"}, 0, "usage: plu_load_bench [LINES [load]]"},
      {"plu_load_bench", {"-h"}, 0, "usage: plu_load_bench"},
      {"plu_load_bench", {"many"}, 2, "usage: plu_load_bench"},
      {"plu_load_bench", {"0"}, 2, "usage: plu_load_bench"},
      {"plu_load_bench", {"10", "fast"}, 2, "usage: plu_load_bench"},
      {"plu_load_bench", {"10", "load", "more"}, 2, "usage: plu_load_bench"},
      {"command_server_bench", {"--help"}, 0, "usage: command_server_bench"},
      {"command_server_bench", {"--bogus"}, 2, "usage: command_server_bench"},
      {"log_server_bench", {"--help"}, 0, "usage: log_server_bench"},
      {"log_server_bench", {"--bogus"}, 2, "usage: log_server_bench"},
      {"driver_bench", {"--help"}, 0, "--benchmark_filter"},
      {"driver_bench", {"--bogus"}, 2, "usage: driver_bench"},
      {"driver_bench", {"--benchmark_filter=none", "extra"}, 2, "usage: driver_bench"},
  };
  for (const auto& c : kCases) {
    const std::string program = BinDir() + "/" + c.program;
    if (!std::filesystem::exists(program)) {
      // The benchmarks are built only with TARVO_BUILD_BENCH.
      continue;
    }
    TempDir dir;
    const Outcome run = RunProgram(program, c.args, dir.path());
    const std::string what = c.program + " " + c.args[0];
    EXPECT_EQ(run.code, c.code) << what << ": " << run.out << run.err;
    EXPECT_THAT(c.code == 0 ? run.out : run.err, HasSubstr(c.shown)) << what;
    if (c.shown.back() == '\n') {
      EXPECT_EQ(run.out, c.shown) << what;
    }
  }
}

// The commands in the "Subcommands:" list of tarvoctl --help.
std::set<std::string> HelpCommands(const std::string& help) {
  std::set<std::string> commands;
  std::istringstream in(help);
  bool listing = false;
  for (std::string line; std::getline(in, line);) {
    if (line == "Subcommands:") {
      listing = true;
    } else if (listing && line.rfind("  ", 0) == 0 && line.size() > 2 && line[2] != ' ') {
      commands.insert(line.substr(2, line.find(' ', 2) - 2));
    } else if (listing && line.find_first_not_of(' ') == std::string::npos) {
      listing = false;
    }
  }
  return commands;
}

// The commands of the COMMANDS section of a manual page: the first word of
// each tag line that follows a .TP.
std::set<std::string> ManCommands(const std::string& page) {
  std::set<std::string> commands;
  std::istringstream in(page);
  bool section = false, tag = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(".SH", 0) == 0) {
      section = line == ".SH COMMANDS";
    } else if (section && line == ".TP") {
      tag = true;
    } else if (tag) {
      tag = false;
      std::string word = line.substr(line.find(' ') + 1);
      if (!word.empty() && word[0] == '"')
        word.erase(0, 1);
      commands.insert(word.substr(0, word.find_first_of(" \"")));
    }
  }
  return commands;
}

TEST(ProgramHelpE2ETest, TheManualPageOfTarvoctlListsTheCommandsOfItsHelp) {
  TempDir dir;
  const Outcome run = RunProgram(BinDir() + "/tarvoctl", {"--help"}, dir.path());
  ASSERT_EQ(run.code, 0) << run.err;
  const std::set<std::string> help = HelpCommands(run.out);
  ASSERT_GE(help.size(), 10u) << run.out;
  std::ifstream file(std::string(TARVO_SOURCE_DIR) + "/man/tarvoctl.1");
  ASSERT_TRUE(file) << "man/tarvoctl.1";
  std::stringstream page;
  page << file.rdbuf();
  EXPECT_EQ(ManCommands(page.str()), help);
}

}  // namespace
}  // namespace tarvo::testing
