// The command port over a real socket, against a settings record in a
// temporary folder.
#include "net/command_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/command_client.h"
#include "support/fake_service_host.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tarvo {
namespace {

using testing::CommandClient;
using testing::WaitUntil;
using Strings = std::vector<std::string>;

const std::string kRule(69, '*');

using TestHost = testing::FakeServiceHost;

class CommandServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Activate()); }

  int Port() const { return server_.Port(); }
  MServiceSettings& Settings() { return host_.ServiceSettings(); }
  std::string Ini() const { return host_.dir.Read("tarvo-scale-server.ini"); }
  void SetScales(const Strings& ips) {
    std::vector<MScaleState> scales(ips.size());
    for (size_t i = 0; i < ips.size(); ++i)
      scales[i].IP = ips[i];
    Settings().ReplaceScaleList(scales);
  }
  std::vector<std::string> Scales() {
    Strings ips;
    for (const MScaleState& scale : Settings().ScaleListCopy())
      ips.push_back(scale.IP);
    return ips;
  }
  // A fresh client that sends `lines` at once and reads `replies` exchanges.
  Strings Converse(const Strings& lines, int replies) {
    CommandClient client(Port());
    client.SendAll(lines);
    Strings got;
    for (int i = 0; i < replies; ++i) {
      for (const std::string& line : client.ReadReply())
        got.push_back(line);
    }
    return got;
  }

  TestHost host_;
  CommandServer server_{host_, "127.0.0.1", 0, CommandLimits{4096, 64 * 1024}};
};

TEST_F(CommandServerTest, GreetsMatchesWordsWithoutCaseAndClosesOnQuit) {
  CommandClient client(Port());
  EXPECT_EQ(client.greeting(), "200 Hi, this Tarvo service!");
  EXPECT_EQ(client.Exchange("Quitter"), (Strings{"400-Unknown Command", "400 Quitter"}));
  client.Send("");  // no reply: the next one is the version's
  EXPECT_EQ(client.Exchange("version"), (Strings{ProgramVersion() + " (R)", "200"}));
  EXPECT_EQ(client.Exchange("Caf\xC3\xA9 \xD0\x9F"),
            (Strings{"400-Unknown Command", "400 Caf?? ??"}));
  EXPECT_EQ(host_.CmdClientCount, 1);

  for (const char* quit : {"quit", "QUIT", "Quit"}) {
    CommandClient other(Port());
    EXPECT_EQ(other.Exchange(quit), Strings{"200"}) << quit;
    EXPECT_TRUE(other.ClosedByServer()) << quit;
  }
  EXPECT_TRUE(WaitUntil([&] { return host_.CmdClientCount == 1; }, 5000));
  EXPECT_EQ(host_.log.TextsStartingWith("ServiceCmd: Client connected.").size(), 4u);
  EXPECT_EQ(host_.log.TextsStartingWith("ServiceCmd: Client disconnected.").size(), 3u);
  EXPECT_EQ(host_.log.TextsStartingWith("ServiceCmd: Receive command - Quit.").size(), 3u);
  EXPECT_EQ(host_.log.TextsStartingWith("ServiceCmd: Receive command - Version.").size(), 1u);
}

TEST_F(CommandServerTest, ControlCommandsOnlyRaiseTheirRequest) {
  const struct {
    const char* command;
    std::atomic<bool>* flag;
  } cases[] = {
      {"Shutdown", &host_.ShutdownRequested},
      {"DeleteSendQueries", &host_.DeleteSendQueriesRequested},
      {"RestartQueryThreads", &host_.RestartQueryThreadsRequested},
      {"RestartTCPServers", &host_.RestartTCPServersRequested},
      {"SendAll", nullptr},
      {"SendPLUs x y", nullptr},
      {"SendMessages", nullptr},
      {"SendScaleSettings", nullptr},
  };
  std::atomic<bool>* all[] = {&host_.ShutdownRequested, &host_.DeleteSendQueriesRequested,
                              &host_.RestartQueryThreadsRequested,
                              &host_.RestartTCPServersRequested, &host_.ReloadSettingsRequested};
  CommandClient client(Port());
  for (const auto& c : cases) {
    EXPECT_EQ(client.Exchange(c.command), Strings{"200"}) << c.command;
    for (std::atomic<bool>* flag : all) {
      EXPECT_EQ(flag->load(), flag == c.flag) << c.command;
      *flag = false;
    }
  }
}

TEST_F(CommandServerTest, ReloadSettingsReadsAllThreeSectionsAndAsksForTheRestart) {
  host_.dir.Write("tarvo-scale-server.ini",
                  "[GlobalSettings]\r\nImportInterval=45\r\n[ListScales]\r\nScale1=10.0.0.7\r\n"
                  "[FieldsConfig]\r\nFieldNumber_Pos=3\r\nFieldName_Pos=4\r\n");
  CommandClient client(Port());
  EXPECT_EQ(client.Exchange("ReloadSettings"), (Strings{"Settings reloaded.", "200"}));
  EXPECT_TRUE(host_.ReloadSettingsRequested);
  const MSettingsValues values = Settings().Snapshot();
  EXPECT_EQ(values.ImportInterval, 45);
  EXPECT_EQ(values.FieldsConfig[0].Pos, 3);
  EXPECT_EQ(Scales(), Strings{"10.0.0.7"});
}

TEST_F(CommandServerTest, SettingsAreListedChangedAndRemoved) {
  CommandClient client(Port());
  const Strings list = Settings().GlobalSettingsCopy();
  ASSERT_EQ(list.size(), 18u);
  Strings expected = {kRule, std::string(21, ' ') + "Tarvo Service Configuration", "", "Count=18",
                      ""};
  expected.insert(expected.end(), list.begin(), list.end());
  expected.push_back(kRule);
  expected.push_back("200");
  EXPECT_EQ(client.Exchange("GetAllSettings"), expected);

  const struct {
    const char* line;
    Strings reply;
    const char* iniHas;
    const char* iniLacks;
  } cases[] = {
      {"SetSettings ImportInterval=30", {"Settings saved.", "200"}, "ImportInterval=30", nullptr},
      {"SetSettings Foo=1", {"201 Value not found. (Foo...1)"}, nullptr, "Foo"},
      {"SetSettings ImportSimpleSeparator=a=b c",
       {"Settings saved.", "200"},
       "ImportSimpleSeparator=a=b c",
       nullptr},
      {"SetSettings JournalsPath=", {"Settings saved.", "200"}, nullptr, "JournalsPath"},
      {"SetSettings ImportInterval",
       {"201 Value not found. (...ImportInterval)"},
       nullptr,
       nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(client.Exchange(c.line), c.reply) << c.line;
    if (c.iniHas != nullptr) {
      EXPECT_NE(Ini().find(c.iniHas), std::string::npos) << c.line;
    }
    if (c.iniLacks != nullptr) {
      EXPECT_EQ(Ini().find(c.iniLacks), std::string::npos) << c.line;
    }
  }
  EXPECT_EQ(Settings().GlobalSettingsCopy().size(), 17u);
  // Stored, not applied: the running value changes at the next load.
  EXPECT_EQ(Settings().Snapshot().ImportInterval, 20);
}

TEST_F(CommandServerTest, ASettingsFileThatCannotBeWrittenIsNotReportedSaved) {
  std::filesystem::remove(host_.dir.File("tarvo-scale-server.ini"));
  std::filesystem::create_directory(host_.dir.File("tarvo-scale-server.ini"));
  CommandClient client(Port());
  EXPECT_EQ(client.Exchange("SetSettings ImportInterval=31"), Strings{"500 Error save settings."});
  client.SendAll({"SetScaleList", "Scale1=10.0.0.1", "End."});
  EXPECT_EQ(client.ReadReply(), Strings{"500 Error save scale list."});
  client.SendAll({"SetFieldsConfig", "FieldName_Pos=2", "End."});
  EXPECT_EQ(client.ReadReply(), Strings{"500 Error save fields config."});
  EXPECT_EQ(host_.log.Texts(5),
            (Strings{"ServiceCmd: Error save settings.", "ServiceCmd: Error save scale list.",
                     "ServiceCmd: Error save fields config."}));
}

TEST_F(CommandServerTest, ScaleListUploadReplacesTheListOnlyWhenItEnds) {
  // After a failure the rest of the upload is read as commands.
  const struct {
    Strings lines;
    int exchanges;
    Strings reply;
    Strings scales;
  } cases[] = {
      {{"Scale1=10.0.0.1", "Scale2=10.0.0.2", "End."},
       1,
       {"Scale list saved.", "200"},
       {"10.0.0.1", "10.0.0.2"}},
      {{"THE END."}, 1, {"Scale list saved.", "200"}, {}},
      {{"Scale1=10.0.0.1", "Scale2=192.168.1.300", "Scale3=10.0.0.3", "End."},
       3,
       {"500 Bad scale IP.", "400-Unknown Command", "400 Scale3=10.0.0.3", "400-Unknown Command",
        "400 End."},
       {"10.0.0.9"}},
      {{"=10.0.0.1", "End."},
       2,
       {"500 Bad set command.", "400-Unknown Command", "400 End."},
       {"10.0.0.9"}},
      {{"Scale1=", "End."},
       2,
       {"500 Bad set command.", "400-Unknown Command", "400 End."},
       {"10.0.0.9"}},
      {{"Scale1=10.0.0.1", ""}, 1, {"500 Error set scale list."}, {"10.0.0.9"}},
  };
  for (const auto& c : cases) {
    SetScales({"10.0.0.9"});
    Strings lines = {"SetScaleList"};
    lines.insert(lines.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(Converse(lines, c.exchanges), c.reply) << c.lines[0];
    EXPECT_EQ(Scales(), c.scales) << c.lines[0];
  }
  EXPECT_EQ(host_.log.TextsStartingWith("ServiceCmd: Error receive list scales. Wrong IP.").size(),
            1u);

  SetScales({"10.0.0.1", "10.0.0.2"});
  CommandClient client(Port());
  EXPECT_EQ(client.Exchange("GetScaleList"),
            (Strings{kRule, std::string(21, ' ') + "Tarvo Service Scale List", "",
                     "Scale1=10.0.0.1", "Scale2=10.0.0.2", kRule, "200"}));
}

TEST_F(CommandServerTest, FieldsConfigUploadStartsFromNothingAndChecksEveryKey) {
  const struct {
    Strings lines;
    std::string reply;
    int namePos;  // FieldName's Pos afterwards; the number field keeps 1 on failure
  } cases[] = {
      {{"FIELDName_Pos=2", "FieldNumber_DefVal=7", "End."}, "Fields config saved.", 2},
      {{"Fieldname_Pos=2"}, "500 Wrong param.", 5},
      {{"FieldName_Color=2"}, "500 Wrong param.", 5},
      {{"FieldName_Pos="}, "500 Wrong param.", 5},
      {{"Name_Pos=2"}, "500 Wrong param.", 5},
      {{"=2"}, "500 Bad set command.", 5},
      {{"FieldName_Pos=abc"}, "500 'abc' is not a valid integer value", 5},
      {{""}, "500 Error set scale list.", 5},
  };
  for (const auto& c : cases) {
    std::array<MFieldConfig, kPLUFieldCount> fields{};
    fields[0].Pos = 1;
    fields[1].Pos = 5;
    Settings().ReplaceFieldsConfig(fields);
    Strings lines = {"SetFieldsConfig"};
    lines.insert(lines.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(Converse(lines, 1)[0], c.reply) << c.lines[0];
    const MSettingsValues values = Settings().Snapshot();
    EXPECT_EQ(values.FieldsConfig[1].Pos, c.namePos) << c.lines[0];
    EXPECT_EQ(values.FieldsConfig[0].Pos, c.namePos == 2 ? 0 : 1) << c.lines[0];
  }
  EXPECT_EQ(Settings().Snapshot().FieldsConfig[0].DefVal, "");
  EXPECT_EQ(host_.log.TextsStartingWith("ServiceCmdReload: 'abc' is not a valid integer value"),
            Strings{"ServiceCmdReload: 'abc' is not a valid integer value"});
  EXPECT_EQ(host_.log.TextsStartingWith("FieldConfigRcv: FIELDName_Pos=2").size(), 1u);

  Converse({"SetFieldsConfig", "FieldNumber_DefVal=7", "FieldName_PosEnd=12", "End."}, 1);
  EXPECT_NE(Ini().find("FieldName_PosEnd=12"), std::string::npos);
  CommandClient client(Port());
  const Strings listing = client.Exchange("GetFieldsConfig");
  ASSERT_EQ(listing.size(), 3u + 4 * kPLUFieldCount + 2);
  EXPECT_EQ(listing[1], std::string(21, ' ') + "Tarvo Service Fields Config");
  EXPECT_EQ(Strings(listing.begin() + 3, listing.begin() + 11),
            (Strings{"FieldNumber_DefVal=7", "FieldNumber_Pos=0", "FieldNumber_PosHome=0",
                     "FieldNumber_PosEnd=0", "FieldName_DefVal=", "FieldName_Pos=0",
                     "FieldName_PosHome=0", "FieldName_PosEnd=12"}));
  EXPECT_EQ(listing.back(), "200");
}

TEST_F(CommandServerTest, HexFileLandsWholeInTheImportFolderUnderAPlainNameOnly) {
  const std::string import = Settings().Snapshot().ImportPath;
  // Each conversation ends with "Quit"; `reply` is what the server sends.
  const Strings refusedReply = {"500 Bad file name.",
                                "400-Unknown Command",
                                "400 41",
                                "400-Unknown Command",
                                "400 End.",
                                "200"};
  const struct {
    std::string name;
    Strings data;
    Strings reply;
  } cases[] = {
      {"goods.txt",
       {"4D5A9", "0a0B"},
       {"200 OK", "200 OK", "200 OK", "200 OK", "File saved.", "200 OK", "200"}},
      {"weekend.txt", {"41"}, {"200 OK", "200 OK", "200 OK", "File saved.", "200 OK", "200"}},
      {"../x", {"41"}, refusedReply},
      {"/tmp/x", {"41"}, refusedReply},
      {"C:x", {"41"}, refusedReply},
      {"sub\\x", {"41"}, refusedReply},
      {"..", {"41"}, refusedReply},
      {"tab\tx", {"41"}, refusedReply},
      {"bad.txt",
       {"414G"},
       {"200 OK", "500 '$4G' is not a valid integer value", "400-Unknown Command", "400 End.",
        "200"}},
      {"",
       {"41"},
       {"500 Error receive file.", "400-Unknown Command", "400 41", "400-Unknown Command",
        "400 End.", "200"}},
  };
  for (const auto& c : cases) {
    Strings lines = {"SetHexFile ignored params", c.name};
    lines.insert(lines.end(), c.data.begin(), c.data.end());
    lines.push_back("End.");
    lines.push_back("Quit");
    CommandClient client(Port());
    client.SendAll(lines);
    Strings got;
    std::string line;
    while (client.ReadLine(&line))
      got.push_back(line);
    EXPECT_EQ(got, c.reply) << c.name;
  }
  EXPECT_EQ(host_.dir.Read("Import/goods.txt"), "MZ\n\x0b");
  const Strings refused = host_.log.TextsStartingWith("ServiceCmd: Error receive file. Bad file");
  EXPECT_EQ(refused.size(), 6u);
  EXPECT_EQ(refused[0], "ServiceCmd: Error receive file. Bad file name <../x>.");
  EXPECT_EQ(
      host_.log.TextsStartingWith("ServiceCmdReload: '$4G' is not a valid integer value").size(),
      1u);
  // Only the two whole files: nothing outside, no temporary file left.
  Strings names;
  for (const auto& entry : std::filesystem::directory_iterator(import))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Strings{"goods.txt", "weekend.txt"}));
  EXPECT_FALSE(std::filesystem::exists(host_.dir.File("x")));
  EXPECT_EQ(host_.log.TextsStartingWith("ServiceCmd: File \"goods.txt\" received."),
            Strings{"ServiceCmd: File \"goods.txt\" received."});
}

TEST_F(CommandServerTest, AnUploadCutShortOrTooLongChangesNothing) {
  {
    CommandClient client(Port());
    client.SendAll({"SetHexFile", "cut.txt", "41"});
    EXPECT_EQ(client.ReadReply(), Strings{"200 OK"});
  }
  {
    CommandClient client(Port());
    client.SendAll({"SetScaleList", "Scale1=10.0.0.1"});
  }
  EXPECT_TRUE(WaitUntil([&] { return host_.CmdClientCount == 0; }, 5000));

  // 64 KiB of upload text at most in this server: 40 KiB of data passes the
  // line limit line by line, the whole does not.
  CommandClient big(Port());
  big.Send("SetHexFile");
  big.Send("big.txt");
  Strings lines(20, std::string(4000, 'A'));
  big.SendAll(lines);
  std::string line, last;
  while (big.ReadLine(&line))
    last = line;
  EXPECT_EQ(last, "500 Upload too large.");

  CommandClient longLine(Port());
  longLine.Send(std::string(5000, 'x'));
  EXPECT_EQ(longLine.ReadReply(), Strings{"500 Line too long."});
  EXPECT_TRUE(longLine.ClosedByServer());

  EXPECT_TRUE(Scales().empty());
  EXPECT_FALSE(std::filesystem::exists(host_.dir.File("Import/cut.txt")));
  EXPECT_FALSE(std::filesystem::exists(host_.dir.File("Import/big.txt")));
  EXPECT_EQ(host_.log.TextsStartingWith("ServiceCmdReload: Connection closed.").size(), 2u);
}

TEST_F(CommandServerTest, TheFiftyFirstClientIsRefusedUntilASlotFrees) {
  std::vector<std::unique_ptr<CommandClient>> clients;
  for (int i = 0; i < kMaxServerConnections; ++i) {
    clients.push_back(std::make_unique<CommandClient>(Port()));
    ASSERT_EQ(clients.back()->greeting(), "200 Hi, this Tarvo service!") << i;
  }
  CommandClient refused(Port());
  EXPECT_EQ(refused.greeting(), "300 Too many connections. Try again later.");
  EXPECT_TRUE(refused.ClosedByServer());
  EXPECT_EQ(host_.CmdClientCount, kMaxServerConnections);

  clients.front()->Exchange("Quit");
  EXPECT_TRUE(WaitUntil(
      [&] { return CommandClient(Port()).greeting() == "200 Hi, this Tarvo service!"; }, 5000));
}

}  // namespace
}  // namespace tarvo
