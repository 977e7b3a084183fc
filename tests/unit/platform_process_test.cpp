#include "platform/process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "platform/files.h"

namespace tarvo {
namespace {

TEST(ProcessTest, KnowsItsOwnExecutable) {
  const std::string path = ExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path[0], '/');
  EXPECT_TRUE(FileExists(path));
  EXPECT_NE(ExtractFileName(path).find("platform_process_test"), std::string::npos) << path;
}

TEST(ProcessTest, VersionIsFourNumbers) {
  const std::string version = ProgramVersion();
  int parts[4];
  char tail;
  EXPECT_EQ(std::sscanf(version.c_str(), "%d.%d.%d.%d%c", &parts[0], &parts[1], &parts[2],
                        &parts[3], &tail),
            4)
      << version;
}

TEST(ProcessTest, UserAndComputerNames) {
  EXPECT_FALSE(UserName().empty());
  EXPECT_LE(UserName().size(), 159u);
  const std::string computer = ComputerName();
  EXPECT_FALSE(computer.empty());
  EXPECT_LE(computer.size(), 15u);
  EXPECT_EQ(computer.find_first_of("abcdefghijklmnopqrstuvwxyz."), std::string::npos) << computer;
}

TEST(LocalNamesTest, WithinTheirLimits) {
  const std::string user = UserName();
  EXPECT_FALSE(user.empty());
  EXPECT_LE(user.size(), 159u);
  const std::string computer = ComputerName();
  EXPECT_FALSE(computer.empty());
  EXPECT_LE(computer.size(), 15u);
}

TEST(ExecutablePathTest, NamesThisTestProgram) {
  const std::string exe = ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(kPathDelim, exe[0]);
  EXPECT_TRUE(FileExists(exe));
  EXPECT_EQ("unit_platform_process_test", ExtractFileName(exe));
}

TEST(ProcessTest, ThreadHandlesTellThreadsApart) {
  const uint32_t mine = CurrentThreadHandle();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(CurrentThreadHandle(), mine);
  uint32_t other = 0;
  std::thread([&] { other = CurrentThreadHandle(); }).join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, mine);
}

TEST(ProcessTest, ReadsTheEnvironment) {
  ::setenv("TARVO_PROCESS_TEST", "value=1", 1);
  EXPECT_EQ(GetEnv("TARVO_PROCESS_TEST"), "value=1");
  ::unsetenv("TARVO_PROCESS_TEST");
  EXPECT_EQ(GetEnv("TARVO_PROCESS_TEST"), "");
}

}  // namespace
}  // namespace tarvo
