#include "platform/service_control.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace tarvo {
namespace {

using testing::TempDir;

const char kExists[] = "The specified service already exists.";
const char kMissing[] = "The specified service does not exist as an installed service.";

// Every test installs into its own folder; systemctl is never involved.
class ServiceInstallTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("TARVO_SYSTEMD_UNIT_DIR", dir_.path().c_str(), 1); }
  void TearDown() override { ::unsetenv("TARVO_SYSTEMD_UNIT_DIR"); }

  ServiceRegistration Registration(const std::string& exec = "/opt/tarvo/tarvo-scale-server") {
    return {"MainTarvoService", "Tarvo Scale Server", exec};
  }

  TempDir dir_;
};

TEST(StartedBySystemdTest, EitherVariableOfSystemdTellsIt) {
  const struct {
    const char* invocation;  // null: unset
    const char* journal;
    bool systemd;
  } kCases[] = {
      {nullptr, nullptr, false},
      {"", "", false},
      {"9f2d3c6a1b7e4f0a8c5d2e1f3a4b5c6d", nullptr, true},
      {nullptr, "8:12345", true},
      {"9f2d3c6a1b7e4f0a8c5d2e1f3a4b5c6d", "8:12345", true},
  };
  const auto set = [](const char* name, const char* value) {
    if (value == nullptr)
      ::unsetenv(name);
    else
      ::setenv(name, value, 1);
  };
  const auto saved = [](const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  };
  const std::optional<std::string> invocation = saved("INVOCATION_ID");
  const std::optional<std::string> journal = saved("JOURNAL_STREAM");
  for (const auto& c : kCases) {
    set("INVOCATION_ID", c.invocation);
    set("JOURNAL_STREAM", c.journal);
    EXPECT_EQ(StartedBySystemd(), c.systemd) << (c.invocation ? c.invocation : "(unset)") << " / "
                                             << (c.journal ? c.journal : "(unset)");
  }
  set("INVOCATION_ID", invocation ? invocation->c_str() : nullptr);
  set("JOURNAL_STREAM", journal ? journal->c_str() : nullptr);
}

TEST_F(ServiceInstallTest, UnitFolderComesFromTheEnvironment) {
  EXPECT_EQ(ServiceUnitFolder(), dir_.path());
  ::unsetenv("TARVO_SYSTEMD_UNIT_DIR");
  EXPECT_EQ(ServiceUnitFolder(), "/etc/systemd/system");
  ::setenv("TARVO_SYSTEMD_UNIT_DIR", "", 1);
  EXPECT_EQ(ServiceUnitFolder(), "/etc/systemd/system");
}

TEST_F(ServiceInstallTest, InstallWritesTheUnit) {
  EXPECT_FALSE(ServiceExists("MainTarvoService"));
  std::string error;
  ASSERT_TRUE(InstallService(Registration(), &error)) << error;
  EXPECT_TRUE(ServiceExists("MainTarvoService"));
  EXPECT_EQ(dir_.Read("MainTarvoService.service"),
            "[Unit]\n"
            "Description=Tarvo Scale Server\n"
            "Wants=network-online.target\n"
            "After=network-online.target\n"
            "\n"
            "[Service]\n"
            "Type=simple\n"
            "ExecStart=/opt/tarvo/tarvo-scale-server\n"
            "Restart=on-failure\n"
            "\n"
            "[Install]\n"
            "WantedBy=multi-user.target\n");
  struct stat st;
  ASSERT_EQ(::stat(dir_.File("MainTarvoService.service").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0044, 0044u) << "systemd and operators must be able to read it";
}

TEST_F(ServiceInstallTest, InstallingTwiceFailsTheSecondTime) {
  std::string error;
  ASSERT_TRUE(InstallService(Registration(), &error)) << error;
  const std::string first = dir_.Read("MainTarvoService.service");
  EXPECT_FALSE(InstallService(Registration("/elsewhere/server"), &error));
  EXPECT_EQ(error, kExists);
  EXPECT_EQ(dir_.Read("MainTarvoService.service"), first);
}

TEST_F(ServiceInstallTest, UninstallRemovesTheUnit) {
  std::string error;
  ASSERT_TRUE(InstallService(Registration(), &error)) << error;
  ASSERT_TRUE(UninstallService("MainTarvoService", &error)) << error;
  EXPECT_FALSE(ServiceExists("MainTarvoService"));
  EXPECT_FALSE(::access(dir_.File("MainTarvoService.service").c_str(), F_OK) == 0);
  // And it can be installed again.
  EXPECT_TRUE(InstallService(Registration(), &error)) << error;
}

TEST_F(ServiceInstallTest, UninstallingAMissingUnitReportsTheError) {
  std::string error;
  EXPECT_FALSE(UninstallService("MainTarvoService", &error));
  EXPECT_EQ(error, kMissing);
  error.clear();
  EXPECT_FALSE(UninstallService("../MainTarvoService", &error));
  EXPECT_EQ(error, kMissing);
}

TEST_F(ServiceInstallTest, ExecutablePathsAreQuotedAndEscaped) {
  std::string error;
  ASSERT_TRUE(InstallService(Registration("/opt/my shop/100%/$tarvo"), &error)) << error;
  const std::string unit = dir_.Read("MainTarvoService.service");
  EXPECT_NE(unit.find("\nExecStart=\"/opt/my shop/100%%/$$tarvo\"\n"), std::string::npos) << unit;
}

TEST_F(ServiceInstallTest, RefusesTextThatWouldBreakTheUnitFile) {
  std::string error;
  EXPECT_FALSE(InstallService(Registration("/opt/x\nExecStartPre=/bin/evil"), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(InstallService({"a/b", "Tarvo Scale Server", "/opt/x"}, &error));
  EXPECT_FALSE(InstallService({"MainTarvoService", "Tarvo Scale Server", ""}, &error));
  EXPECT_FALSE(ServiceExists("MainTarvoService"));
}

TEST_F(ServiceInstallTest, CreatesAMissingUnitFolder) {
  ::setenv("TARVO_SYSTEMD_UNIT_DIR", dir_.File("units/system").c_str(), 1);
  std::string error;
  ASSERT_TRUE(InstallService(Registration(), &error)) << error;
  EXPECT_FALSE(dir_.Read("units/system/MainTarvoService.service").empty());
}

// Signals: the handlers are installed once for the whole test program.
class ControlRequestTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallControlHandlers(); }
  void SetUp() override {
    while (WaitControlRequest(0) != ControlRequest::kNone) {
    }
  }
};

TEST_F(ControlRequestTest, NothingArrivesWithoutASignal) {
  EXPECT_EQ(WaitControlRequest(0), ControlRequest::kNone);
  EXPECT_EQ(WaitControlRequest(30), ControlRequest::kNone);
}

TEST_F(ControlRequestTest, InterruptIsAStopRequestReturnedOnce) {
  ASSERT_EQ(::raise(SIGINT), 0);
  EXPECT_EQ(WaitControlRequest(0), ControlRequest::kStop);
  EXPECT_EQ(WaitControlRequest(0), ControlRequest::kNone);
}

TEST_F(ControlRequestTest, PowerFailureIsAShutdown) {
  ASSERT_EQ(::raise(SIGPWR), 0);
  ASSERT_EQ(::raise(SIGINT), 0);
  EXPECT_EQ(WaitControlRequest(0), ControlRequest::kShutdown);
  EXPECT_EQ(WaitControlRequest(0), ControlRequest::kStop);
  EXPECT_EQ(WaitControlRequest(0), ControlRequest::kNone);
}

TEST_F(ControlRequestTest, TerminateIsAStopWhileTheSystemRuns) {
  struct stat st;
  if (::stat("/run/systemd/system", &st) == 0) {
    GTEST_SKIP() << "systemd runs here; its state is not asked in tests";
  }
  ASSERT_EQ(::raise(SIGTERM), 0);
  EXPECT_EQ(WaitControlRequest(0), ControlRequest::kStop);
}

TEST_F(ControlRequestTest, ASignalFromAnotherThreadEndsTheWait) {
  // The sender blocks the signal itself, so it reaches another thread, and
  // sends it again until the wait ends: under ThreadSanitizer a handler runs
  // only at its thread's next intercepted call, and one signal was seen lost.
  std::atomic<bool> done{false};
  std::thread sender([&done] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    while (!done) {
      ::kill(::getpid(), SIGINT);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  EXPECT_EQ(WaitControlRequest(60000), ControlRequest::kStop);
  done = true;
  sender.join();
  while (WaitControlRequest(0) != ControlRequest::kNone) {
  }
}

}  // namespace
}  // namespace tarvo
