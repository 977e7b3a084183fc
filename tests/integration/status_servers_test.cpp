// The live-log and the two status ports over real sockets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/log_server.h"
#include "net/stat_server.h"
#include "support/command_client.h"
#include "support/fake_service_host.h"
#include "support/wait.h"

namespace tarvo {
namespace {

using testing::CommandClient;
using testing::FakeServiceHost;
using testing::WaitUntil;
using Strings = std::vector<std::string>;

// The next `n` lines a client receives.
Strings ReadLines(CommandClient& client, size_t n) {
  Strings lines;
  std::string line;
  while (lines.size() < n && client.ReadLine(&line))
    lines.push_back(line);
  return lines;
}

TEST(LogServerTest, ClientsGetTheEventsLoggedSinceTheirLastPoll) {
  FakeServiceHost host;
  LogServer server(host, "127.0.0.1", 0, 5);
  ASSERT_TRUE(server.Activate());
  CommandClient client(server.Port());
  EXPECT_EQ(client.greeting(), "Hello! (\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82)");
  EXPECT_EQ(ReadLines(client, 2),
            (Strings{"This Tarvo log server.", "ServiceExecute: " + std::string(53, '*')}));
  ASSERT_TRUE(WaitUntil([&] { return host.LogClientCount == 1; }, 5000));

  // Level 0 reaches the client although the file takes level 5 only; a
  // Cyrillic text ("Весы" in Windows-1251) arrives as one "?" a letter.
  host.LogWrite("first", 0);
  host.LogWrite("\xC2\xE5\xF1\xFB 2", 5);
  client.Send("");
  EXPECT_EQ(ReadLines(client, 2),
            (Strings{"{0} [14:02:00.000] first", "{5} [14:02:00.000] ???? 2"}));
  EXPECT_EQ(host.LogFile().find("first"), std::string::npos);

  // Past the queue's five lines the oldest go, and the poll says so first.
  for (int i = 1; i <= 8; ++i)
    host.LogWrite("event " + std::to_string(i), 1);
  client.Send("any line polls");
  EXPECT_EQ(ReadLines(client, 6),
            (Strings{"{5} [14:02:00.000] LogServer: 3 lines dropped.", "{1} [14:02:00.000] event 4",
                     "{1} [14:02:00.000] event 5", "{1} [14:02:00.000] event 6",
                     "{1} [14:02:00.000] event 7", "{1} [14:02:00.000] event 8"}));

  client.Send("QUIT");
  EXPECT_EQ(ReadLines(client, 1), Strings{"ok"});
  EXPECT_TRUE(client.ClosedByServer());
  EXPECT_TRUE(WaitUntil([&] { return host.LogClientCount == 0; }, 5000));
  EXPECT_EQ(host.clients.Count(), 0u);
}

class StatServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<MScaleState> scales(2);
    scales[0].IP = "10.0.0.1";
    scales[0].State = 0;
    scales[0].Operation = 3;
    scales[0].StateTime = FakeServiceHost::StartTime();
    scales[1].IP = "10.0.0.2";
    host_.ServiceSettings().ReplaceScaleList(scales);
  }

  FakeServiceHost host_;
};

TEST_F(StatServerTest, KeywordsAnswerWholeAndWithoutCase) {
  StatServer server(host_, "127.0.0.1", 0);
  ASSERT_TRUE(server.Activate());
  host_.LogClientCount = 3;
  host_.CmdClientCount = 4;
  host_.CmdStatClientCount = 5;
  host_.retry_query_count = 2;
  host_.ExecuteStartTime = FakeServiceHost::StartTime().Days();
  host_.clock.Advance((26 * 3600 + 5 * 60) * 1000LL);

  CommandClient client(server.Port(), false);  // the port sends no greeting
  const struct {
    const char* line;
    Strings answer;
  } cases[] = {
      {"LogClient", {"3"}},    {"statclient", {"1"}}, {"TimeWork", {"26:05:00", ""}},
      {"ConfigClient", {"4"}}, {"SCALES", {"2"}},     {"CmdStatClient", {"5"}},
      {"RetryQuery", {"2"}},
  };
  for (const auto& c : cases) {
    // A line that is no keyword gets nothing: the next line read answers c.line.
    client.Send(std::string(c.line) + " ");
    client.Send(c.line);
    EXPECT_EQ(ReadLines(client, c.answer.size()), c.answer) << c.line;
  }
  client.Send("Quit");
  EXPECT_EQ(ReadLines(client, 1), Strings{"ok"});
  EXPECT_TRUE(client.ClosedByServer());
  EXPECT_TRUE(WaitUntil([&] { return host_.StatClientCount == 0; }, 5000));
  EXPECT_EQ(host_.log.TextsStartingWith("StatConnect: Stat client connected.").size(), 1u);
}

TEST(TimeWorkTest, HoursInTotalAndNothingBeforeTheLoopBegins) {
  const double start = 46363.0;
  const struct {
    double start;
    double seconds;
    const char* text;
  } cases[] = {
      {0, 5000, "00:00:00"},        {start, -60, "00:00:00"},  {start, 0, "00:00:00"},
      {start, 59.6, "00:01:00"},    {start, 3599, "00:59:59"}, {start, 93900, "26:05:00"},
      {start, 360000, "100:00:00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TimeWorkText(c.start, start + c.seconds / 86400.0), c.text) << c.seconds;
  }
}

TEST_F(StatServerTest, ScaleLastSendAnswersThreeLinesAndAReply) {
  StatCommandServer server(host_, "127.0.0.1", 0);
  ASSERT_TRUE(server.Activate());
  CommandClient client(server.Port());
  EXPECT_EQ(client.greeting(), "200 Hi, this Tarvo service!");
  const struct {
    const char* line;
    Strings reply;
  } cases[] = {
      {"ScaleLastSend 10.0.0.1", {"0", "3", "46363.5847222222", "200 Ok"}},
      {"scalelastsend  10.0.0.2 ", {"-1", "-1", "0", "200 Ok"}},
      {"ScaleLastSend 10.0.0.3", {"", "", "", "203 Scale not found"}},
      {"ScaleLastSend", {"", "", "", "204 Bad param"}},
      {"ScaleLastSend 10.0.0.1 10.0.0.2", {"", "", "", "204 Bad param"}},
      {"ScaleLastSend10.0.0.1", {"400-Unknown Command", "400 ScaleLastSend10.0.0.1"}},
      {"Quit", {"", "", "", "200"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(client.Exchange(c.line), c.reply) << c.line;
  EXPECT_TRUE(client.ClosedByServer());
  EXPECT_EQ(host_.log.TextsStartingWith("ServiceCmdStat: Receive command - ScaleLastSend.").size(),
            5u);
  EXPECT_TRUE(WaitUntil([&] { return host_.CmdStatClientCount == 0; }, 5000));
}

}  // namespace
}  // namespace tarvo
