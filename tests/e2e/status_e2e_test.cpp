// The running service watched through its live-log and status ports while
// one scale is served and another is down.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "support/command_client.h"
#include "support/harness.h"

namespace tarvo::testing {
namespace {

using Strings = std::vector<std::string>;

TEST(StatusE2ETest, MonitorsSeeTheLastResultOfEachScaleAndThePendingRetry) {
  const std::string up = "127.0.0.181", down = "127.0.0.182";
  EmulatorProcess emulator({up});
  ASSERT_TRUE(emulator.ok());
  ServiceProcess service;
  service.WriteIni(ServiceIni({up, down}));
  ASSERT_TRUE(service.StartAgainst(emulator));
  const int base = service.CommandPort();

  CommandClient live(base + 1);
  EXPECT_EQ(live.greeting(), "Hello! (\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82)");
  std::string line;
  ASSERT_TRUE(live.ReadLine(&line) && live.ReadLine(&line));

  service.DropImportFile("logo.bmp", std::string(300, 'L'));
  ASSERT_TRUE(service.WaitForLog("<" + up + "> Transfer success.", 30000));
  ASSERT_TRUE(service.WaitForLog("<" + down + "> Retry timer started.", 30000));

  CommandClient stat(base + 2, false);
  stat.Send("Scales");
  stat.Send("RetryQuery");
  stat.Send("LogClient");
  Strings answers(3);
  for (std::string& answer : answers)
    ASSERT_TRUE(stat.ReadLine(&answer));
  EXPECT_EQ(answers, (Strings{"2", "1", "1"}));

  CommandClient last(base + 3);
  const Strings served = last.Exchange("ScaleLastSend " + up);
  ASSERT_EQ(served.size(), 4u);
  EXPECT_EQ(served[0], "0");
  EXPECT_EQ(served[1], "6");  // the logo's command
  EXPECT_NEAR(std::atof(served[2].c_str()), Clock::Real()->LocalNow().Days(), 1.0 / 1440);
  EXPECT_EQ(served[3], "200 Ok");
  const Strings failed = last.Exchange("ScaleLastSend " + down);
  EXPECT_EQ(Strings(failed.begin(), failed.begin() + 2), (Strings{"2", "6"}));

  // One poll hands over what was logged since the client came, in the
  // short form.
  live.Send("");
  bool seen = false;
  while (!seen && live.ReadLine(&line))
    seen =
        line.find("} [") == 2 && line.find("<" + up + "> Transfer success.") != std::string::npos;
  EXPECT_TRUE(seen);
  EXPECT_TRUE(service.Stop());
}

}  // namespace
}  // namespace tarvo::testing
