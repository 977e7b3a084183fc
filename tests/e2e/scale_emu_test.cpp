// The tarvo-scale-emu program as a separate process.

#include <gtest/gtest.h>

#include <csignal>

#include "emulator/scale_memory.h"
#include "platform/socket.h"
#include "scaledriver/scale_driver.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tarvo {
namespace {

using testing::ChildProcess;
using testing::WaitUntil;

std::string EmulatorPath() {
  return std::string(TARVO_BIN_DIR) + "/tarvo-scale-emu";
}

// The port of the first "listening on IP:PORT" line; 0 when there is none.
int ListeningPort(const std::string& output, const std::string& ip) {
  std::string prefix = "listening on " + ip + ":";
  size_t at = output.find(prefix);
  if (at == std::string::npos)
    return 0;
  return std::atoi(output.c_str() + at + prefix.size());
}

TEST(ScaleEmuProgramTest, ServesEveryAddressAndEndsCleanlyOnSigterm) {
  testing::TempDir dir;
  ChildProcess emu(EmulatorPath(),
                   {"--state", dir.File("state"), "--port", "0", "--serial", "S-77", "127.0.0.121",
                    "127.0.0.122"},
                   dir.path());
  ASSERT_TRUE(emu.WaitForStdout("listening on 127.0.0.122:", 10000)) << emu.Stderr();
  const std::string out = emu.Stdout();
  int port = ListeningPort(out, "127.0.0.121");
  ASSERT_GT(port, 0) << out;
  EXPECT_EQ(ListeningPort(out, "127.0.0.122"), port);
  int lines = 0;
  for (size_t at = out.find("listening on"); at != std::string::npos;
       at = out.find("listening on", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 2) << out;

  ScaleDriverOptions options;
  options.Port = port;
  ScaleDriver driver(options);
  driver.SetProperty("IPAddress", std::string("127.0.0.122"));
  driver.Invoke("GetScaleSerialNumber");
  EXPECT_EQ(driver.GetProperty("LastError").AsInt(), 0);
  EXPECT_EQ(driver.GetProperty("SerialNumber").AsText(), "S-77");
  driver.Invoke("InitBufferPLU");
  driver.Invoke("AddPLUToBuffer");
  driver.SetProperty("PLU_Number", 5);
  driver.SetProperty("PLU_Name", std::string("Five"));
  driver.Invoke("SetAllPLU");
  EXPECT_EQ(driver.GetProperty("LastError").AsInt(), 0);
  // The mirror follows within moments of the last request.
  EXPECT_TRUE(WaitUntil(
      [&] {
        return dir.Read("state/127.0.0.122/plus.tsv").find("\n5\tFive\t") != std::string::npos;
      },
      5000));
  EXPECT_EQ(dir.Read("state/127.0.0.121/plus.tsv"), std::string(emu::kPlusHeader) + "\n");

  // A change made just before the stop request is in the mirror at exit.
  driver.Invoke("InitBufferPLU");
  driver.Invoke("AddPLUToBuffer");
  driver.SetProperty("PLU_Number", 6);
  driver.SetProperty("PLU_Name", std::string("Six"));
  driver.Invoke("SetAllPLU");
  EXPECT_EQ(driver.GetProperty("LastError").AsInt(), 0);
  emu.Signal(SIGTERM);
  ASSERT_TRUE(emu.Wait(10000));
  EXPECT_EQ(emu.exit_code(), 0) << emu.Stderr();
  EXPECT_NE(dir.Read("state/127.0.0.122/plus.tsv").find("\n6\tSix\t"), std::string::npos);
}

TEST(ScaleEmuProgramTest, EndsOnSigintToo) {
  testing::TempDir dir;
  ChildProcess emu(EmulatorPath(), {"--state", dir.File("state"), "--port", "0", "127.0.0.123"},
                   dir.path());
  ASSERT_TRUE(emu.WaitForStdout("listening on 127.0.0.123:", 10000)) << emu.Stderr();
  emu.Signal(SIGINT);
  ASSERT_TRUE(emu.Wait(10000));
  EXPECT_EQ(emu.exit_code(), 0);
}

TEST(ScaleEmuProgramTest, BadUsageAndUnusableAddressesEndWithAnError) {
  testing::TempDir dir;
  std::string output;
  EXPECT_EQ(testing::RunToEnd(EmulatorPath(), {"127.0.0.124"}, dir.path(), {}, 10000, &output), 2);
  EXPECT_NE(output.find("--state"), std::string::npos) << output;
  EXPECT_EQ(
      testing::RunToEnd(EmulatorPath(), {"--state", dir.File("s"), "--port", "0", "192.0.2.1"},
                        dir.path(), {}, 10000, &output),
      1);
  EXPECT_NE(output.find("192.0.2.1"), std::string::npos) << output;
}

TEST(ScaleEmuProgramTest, TakesItsPortFromTheEnvironment) {
  testing::TempDir dir;
  // A port that is free now: bound by the system once, then released.
  std::string error;
  auto probe = TcpListen("127.0.0.125", 0, &error);
  ASSERT_NE(probe, nullptr) << error;
  const int port = probe->Port();
  probe.reset();
  ChildProcess emu(EmulatorPath(), {"--state", dir.File("state"), "127.0.0.125"}, dir.path(),
                   {{"TARVO_SCALE_PORT", std::to_string(port)}});
  ASSERT_TRUE(emu.WaitForStdout("listening on 127.0.0.125:" + std::to_string(port) + "\n", 10000))
      << emu.Stdout() << emu.Stderr();
}

}  // namespace
}  // namespace tarvo
