// The running service's four ports under abuse: connection storms, garbage,
// endless lines, uploads cut short and a live-log client that never polls.
// The service must stay up, keep serving, lose nothing and give its memory
// back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "support/command_client.h"
#include "support/harness.h"

namespace tarvo::testing {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // freed memory is held back on purpose
#else
constexpr bool kSanitized = false;
#endif

// Resident memory of process `pid` in KiB; 0 when unknown.
long ResidentKiB(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:" && status >> value)
      return value;
  }
  return 0;
}

bool Send(int port, const std::string& bytes) {
  auto c = TcpConnect("127.0.0.1", port, 5000);
  return c != nullptr && c->WriteAll(bytes.data(), bytes.size());
}

TEST(AbuseE2ETest, TheServiceStaysUpServesAndGivesItsMemoryBack) {
  ServiceProcess service;
  service.WriteIni(ServiceIni({"127.0.0.199"}));
  service.Start();
  ASSERT_TRUE(service.WaitForLog("ServiceExecute: Execute begining.", 10000));
  const int base = service.CommandPort();
  const int pid = service.process().pid();
  {
    CommandClient warm(base);
    warm.Exchange("GetAllSettings");
  }
  const long before = ResidentKiB(pid);

  // A live-log client that never polls while everything below is logged.
  CommandClient deaf(base + 1);
  ASSERT_TRUE(deaf.ok());

  // 1,000 connections come and go on each port, 5,000 on the command port,
  // whose two log lines each overflow the deaf client's queue.
  for (int port = base; port < base + 4; ++port) {
    for (int i = 0; i < (port == base ? 5000 : 1000); ++i)
      ASSERT_TRUE(TcpConnect("127.0.0.1", port, 5000) != nullptr) << port << " " << i;
  }

  // Garbage: random bytes with NULs, line breaks and non-ASCII on every port.
  std::mt19937 random(7);
  for (int port = base; port < base + 4; ++port) {
    for (int i = 0; i < 20; ++i) {
      std::string bytes(4096, '\0');
      for (char& b : bytes)
        b = static_cast<char>(random() % 7 == 0 ? '\n' : random());
      Send(port, bytes);
    }
  }

  // A 10 MB line without an end on every port; each closes the connection
  // (the command port after a 500 reply, which the integration test reads).
  const std::string endless(10 * 1024 * 1024, 'x');
  for (int port = base; port < base + 4; ++port)
    Send(port, endless);

  // Uploads without an end line, their clients gone.
  Send(base, "SetHexFile\r\ncut.txt\r\n4142\r\n");
  Send(base, "SetScaleList\r\nScale1=10.0.0.1\r\n");

  // Everything still answers, the counters are back, nothing was written.
  CommandClient stat(base + 2, false);
  EXPECT_TRUE(WaitUntil(
      [&] {
        stat.Send("ConfigClient");
        stat.Send("CmdStatClient");
        stat.Send("LogClient");
        std::string config, cmdStat, log;
        return stat.ReadLine(&config) && stat.ReadLine(&cmdStat) && stat.ReadLine(&log) &&
               config == "0" && cmdStat == "0" && log == "1";
      },
      20000));
  CommandClient after(base);
  EXPECT_EQ(after.Exchange("GetScaleList").size(), 6u);  // the one scale, untouched
  EXPECT_FALSE(std::filesystem::exists(service.dir().File("Import/cut.txt")));

  // The deaf client's queue stopped at its cap; its poll says what it lost.
  deaf.Send("");
  std::string line;
  ASSERT_TRUE(deaf.ReadLine(&line));
  ASSERT_TRUE(deaf.ReadLine(&line));  // the rest of the greeting
  ASSERT_TRUE(deaf.ReadLine(&line));
  EXPECT_NE(line.find("LogServer: "), std::string::npos) << line;

  if (!kSanitized) {
    const long now = ResidentKiB(pid);
    EXPECT_LT(now, before + 32 * 1024) << "KiB before " << before << ", after " << now;
  }
  EXPECT_TRUE(service.Stop());
  EXPECT_EQ(service.process().exit_code(), 0);
}

// Every port holds 50 clients; the 51st is turned away (the command ports
// say why) and served again as soon as one of the 50 leaves.
TEST(AbuseE2ETest, FiftyIdleClientsHoldEveryPortUntilOneLeaves) {
  ServiceProcess service;
  service.WriteIni(ServiceIni({"127.0.0.199"}));
  service.Start();
  ASSERT_TRUE(service.WaitForLog("ServiceExecute: Execute begining.", 10000));
  const int base = service.CommandPort();
  const auto served = [&](int port, CommandClient& c) {
    if (port == base + 2) {  // the status keywords answer one line each
      std::string line;
      c.Send("StatClient");
      return c.ReadLine(&line) && !line.empty();
    }
    return c.ok() && c.greeting().rfind("300", 0) != 0;
  };
  for (int port = base; port < base + 4; ++port) {
    SCOPED_TRACE(port - base);
    const bool greeted = port != base + 2;
    std::vector<std::unique_ptr<CommandClient>> idle;
    for (int i = 0; i < 50; ++i) {
      idle.push_back(std::make_unique<CommandClient>(port, greeted));
      ASSERT_TRUE(served(port, *idle.back())) << i;
    }
    CommandClient refused(port, greeted);
    if (port == base || port == base + 3) {
      EXPECT_EQ(refused.greeting(), "300 Too many connections. Try again later.");
    }
    EXPECT_TRUE(refused.ClosedByServer());

    idle.erase(idle.begin());
    EXPECT_TRUE(WaitUntil(
        [&] {
          CommandClient again(port, greeted);
          return served(port, again);
        },
        10000));
  }
  EXPECT_TRUE(service.Stop());
  EXPECT_EQ(service.process().exit_code(), 0);
}

}  // namespace
}  // namespace tarvo::testing
