// The running service steered through its command port.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/command_client.h"
#include "support/harness.h"

namespace tarvo::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Strings = std::vector<std::string>;

size_t Occurrences(const std::string& text, const std::string& what, size_t from = 0) {
  size_t n = 0;
  for (size_t at = text.find(what, from); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

// The exchange of "SetHexFile": the name, one line of hexadecimal text per
// 16 bytes of `data`, the end line.
Strings HexUpload(const std::string& name, const std::string& data) {
  Strings lines = {"SetHexFile", name};
  static const char kDigits[] = "0123456789ABCDEF";
  for (size_t at = 0; at < data.size(); at += 16) {
    std::string line;
    for (size_t i = at; i < data.size() && i < at + 16; ++i) {
      const unsigned char byte = static_cast<unsigned char>(data[i]);
      line += kDigits[byte >> 4];
      line += kDigits[byte & 15];
    }
    lines.push_back(line);
  }
  lines.push_back("End.");
  return lines;
}

// Sends an upload and returns the lines of its last reply.
Strings Upload(CommandClient& client, const Strings& lines, int replies) {
  client.SendAll(lines);
  Strings last;
  for (int i = 0; i < replies; ++i)
    last = client.ReadReply();
  return last;
}

TEST(CommandServerE2ETest, ScalesFieldsAndAFileSentOverThePortReachBothScales) {
  const Strings scales = {"127.0.0.171", "127.0.0.172"};
  EmulatorProcess emulator(scales);
  ASSERT_TRUE(emulator.ok());
  ServiceProcess service;
  // A scale that is not there and a layout with number and name swapped: only
  // what arrives over the port makes the file load.
  service.WriteIni(ServiceIni({"127.0.0.179"}, {"SendThreadsCount=5"},
                              {"FieldNumber_Pos=2", "FieldName_Pos=1"}));
  ASSERT_TRUE(service.StartAgainst(emulator));

  CommandClient client(service.CommandPort());
  ASSERT_EQ(client.greeting(), "200 Hi, this Tarvo service!");
  EXPECT_EQ(
      Upload(client, {"SetScaleList", "Scale1=" + scales[0], "Scale2=" + scales[1], "End."}, 1),
      (Strings{"Scale list saved.", "200"}));
  EXPECT_EQ(Upload(client,
                   {"SetFieldsConfig", "FieldNumber_Pos=1", "FieldName_Pos=2", "FieldPrice_Pos=3",
                    "End."},
                   1),
            (Strings{"Fields config saved.", "200"}));
  EXPECT_EQ(client.Exchange("SetSettings SendThreadsCount=2"), (Strings{"Settings saved.", "200"}));
  EXPECT_EQ(client.Exchange("ReloadSettings"), (Strings{"Settings reloaded.", "200"}));
  ASSERT_TRUE(service.WaitForLog("ServiceExecute: Restart query threads.", 10000));
  ASSERT_TRUE(WaitUntil(
      [&] {
        const std::string log = service.Log();
        return Occurrences(log, "IntFunction: Create thread",
                           log.find("ServiceExecute: Restart query threads.")) == 2;
      },
      10000));

  const std::string goods = "1,Milk,1.50\r\n2,Bread,0.75\r\n";
  const Strings sent = HexUpload("goods.txt", goods);
  EXPECT_EQ(Upload(client, sent, static_cast<int>(sent.size())),
            (Strings{"File saved.", "200 OK"}));
  for (const std::string& ip : scales) {
    EXPECT_TRUE(WaitUntil(
        [&] {
          const std::string plus = emulator.ScaleFile(ip, "plus.tsv");
          return plus.find("\n1\tMilk\t") != std::string::npos &&
                 plus.find("\n2\tBread\t") != std::string::npos;
        },
        30000))
        << ip;
  }
  const std::string log = service.Log();
  const size_t reload = log.find("ServiceExecute: Reload settings.");
  ASSERT_NE(reload, std::string::npos);
  EXPECT_EQ(Occurrences(log, "IntFunction: Delete thread ", reload), 5u);
  EXPECT_EQ(Occurrences(log, "IntFunction: Create thread ", reload), 2u);
  EXPECT_THAT(log, HasSubstr("ServiceCmd: File \"goods.txt\" received."));
  EXPECT_TRUE(service.Stop());
}

TEST(CommandServerE2ETest, QueueDeletionServerRestartAndShutdownOnRequest) {
  const Strings scales = {"127.0.0.173"};
  EmulatorProcess emulator(scales);
  ASSERT_TRUE(emulator.ok());
  ServiceProcess service;
  service.WriteIni(ServiceIni(scales, {}, {"FieldNumber_Pos=1", "FieldName_Pos=2"}));
  ASSERT_TRUE(service.StartAgainst(emulator));
  emulator.Stop();

  // The scale is down: the command waits in the queue for its retry.
  CommandClient client(service.CommandPort());
  const Strings sent = HexUpload("goods.txt", "1,Milk,1.50\r\n");
  EXPECT_EQ(Upload(client, sent, static_cast<int>(sent.size())),
            (Strings{"File saved.", "200 OK"}));
  const auto queued = [&] {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(service.dir().File("Query"), ec)) {
      if (e.path().extension() == ".cmd")
        return true;
    }
    return false;
  };
  ASSERT_TRUE(WaitUntil(queued, 10000));
  EXPECT_EQ(client.Exchange("DeleteSendQueries"), Strings{"200"});
  EXPECT_TRUE(service.WaitQueueEmpty(10000));
  EXPECT_TRUE(service.WaitForLog("ServiceExecute: Delete send queries.", 5000));

  CommandClient bystander(service.CommandPort());
  EXPECT_EQ(client.Exchange("RestartTCPServers"), Strings{"200"});
  EXPECT_TRUE(client.ClosedByServer());
  EXPECT_TRUE(bystander.ClosedByServer());
  EXPECT_TRUE(WaitUntil(
      [&] {
        return CommandClient(service.CommandPort()).greeting() == "200 Hi, this Tarvo service!";
      },
      5000));

  const std::string ini = service.ReadIni();
  CommandClient last(service.CommandPort());
  EXPECT_EQ(last.Exchange("Shutdown"), Strings{"200"});
  ASSERT_TRUE(service.process().Wait(10000));
  EXPECT_EQ(service.process().exit_code(), 0);
  EXPECT_EQ(service.ReadIni(), ini) << "a shutdown saves nothing";
  const std::string log = service.Log();
  EXPECT_THAT(log, HasSubstr("ServiceExecute: Restart TCP Servers."));
  EXPECT_THAT(log, HasSubstr("ServiceExecute: Shutdown command."));
  EXPECT_THAT(log, Not(HasSubstr("ServiceStop: Service stop.")));
}

}  // namespace
}  // namespace tarvo::testing
