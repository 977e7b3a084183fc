// The emulator on real loopback sockets: bad input on a connection, the
// protocol rules, fault injection and restarts.

#include "emulator/scale_emulator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <thread>

#include "emulator/scale_memory.h"
#include "platform/socket.h"
#include "scaledriver/scale_driver.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tarvo::emu {
namespace {

using scale::Op;

constexpr char kScale[] = "127.0.0.111";

class ScaleEmulatorTest : public ::testing::Test {
 protected:
  EmulatorOptions Options() {
    EmulatorOptions options;
    options.StateDir = dir_.path();
    options.Addresses = {kScale};
    options.Port = 0;
    return options;
  }

  void Start(EmulatorOptions options) {
    emulator_ = std::make_unique<ScaleEmulator>(options);
    std::string error;
    ASSERT_TRUE(emulator_->Start(&error)) << error;
  }

  std::unique_ptr<TcpConnection> Connect() {
    std::string error;
    auto c = TcpConnect(kScale, emulator_->Port(), 2000, nullptr, &error);
    EXPECT_NE(c, nullptr) << error;
    if (c)
      c->SetTimeoutMillis(5000);
    return c;
  }

  // Sends one request on `c` and returns the decoded reply; Code -1 when no
  // reply frame came.
  scale::Reply Exchange(TcpConnection& c, uint8_t type, const std::string& payload,
                        uint8_t* replyType = nullptr) {
    scale::Reply reply;
    reply.Code = -1;
    if (!scale::WriteFrame(c, type, payload))
      return reply;
    scale::Frame frame;
    if (scale::ReadFrame(c, &frame) != scale::ReadStatus::kOk)
      return reply;
    if (replyType != nullptr)
      *replyType = frame.header.type;
    std::string error;
    scale::DecodeReply(frame.payload, &reply, &error);
    return reply;
  }

  scale::Reply Exchange(uint8_t type, const std::string& payload) {
    auto c = Connect();
    return Exchange(*c, type, payload);
  }

  static uint8_t T(Op op) { return static_cast<uint8_t>(op); }

  static std::string OnePlu(int32_t number) {
    scale::PluRecord r;
    r.Number = number;
    r.Name = "N" + std::to_string(number);
    r.Price = 1;
    return scale::EncodePlus({r});
  }

  // A file of the scale's folder, once the running emulator's mirror has
  // caught up with its memory.
  std::string State(const std::string& file) {
    if (emulator_ != nullptr) {
      EXPECT_TRUE(testing::WaitUntil([&] { return emulator_->MirrorCurrent(); }));
    }
    return dir_.Read(std::string(kScale) + "/" + file);
  }

  // True when the connection was closed by the emulator.
  static bool ClosedByPeer(TcpConnection& c) {
    char byte;
    return !c.ReadExact(&byte, 1) && !c.TimedOut();
  }

  testing::TempDir dir_;
  std::unique_ptr<ScaleEmulator> emulator_;
};

TEST_F(ScaleEmulatorTest, OneConnectionCarriesManyRequestsAndRepliesCarryTheRequestType) {
  Start(Options());
  auto c = Connect();
  uint8_t type = 0;
  EXPECT_EQ(Exchange(*c, T(Op::kSetPlus), OnePlu(1), &type).Code, 0);
  EXPECT_EQ(type, T(Op::kSetPlus) | scale::kReplyFlag);
  EXPECT_EQ(Exchange(*c, T(Op::kSetPlus), OnePlu(2)).Code, 0);
  scale::Reply info = Exchange(*c, T(Op::kGetInfo), "", &type);
  EXPECT_EQ(type, T(Op::kGetInfo) | scale::kReplyFlag);
  std::string serial, version, error;
  ASSERT_TRUE(scale::DecodeInfo(info.Body, &serial, &version, &error)) << error;
  EXPECT_EQ(serial, std::string("EMU-") + kScale);
  EXPECT_EQ(version, "TarvoEmu 1.0");
  EXPECT_EQ(State("plus.tsv").substr(State("plus.tsv").find('\n') + 1, 3), "1\tN");
}

TEST_F(ScaleEmulatorTest, UnknownOperationsAndUnexpectedPayloadsAreAnsweredAndTheConnectionStays) {
  Start(Options());
  auto c = Connect();
  EXPECT_EQ(Exchange(*c, 0x42, "").Code, scale::kResultUnknownOp);
  EXPECT_EQ(Exchange(*c, T(Op::kClear) | scale::kReplyFlag, "").Code, scale::kResultUnknownOp);
  scale::Reply r = Exchange(*c, T(Op::kClear), "unexpected");
  EXPECT_EQ(r.Code, scale::kResultMalformed);
  EXPECT_NE(r.Message.find("Clear"), std::string::npos);
  EXPECT_EQ(Exchange(*c, T(Op::kSetPlus), OnePlu(1) + "x").Code, scale::kResultMalformed);
  EXPECT_EQ(Exchange(*c, T(Op::kClear), "").Code, 0);
  std::string log = State("operations.log");
  EXPECT_NE(log.find("\tUnknown\t3\n"), std::string::npos);
  EXPECT_NE(log.find("\tClear\t1\n"), std::string::npos);
  EXPECT_NE(log.find("\tClear\t0\n"), std::string::npos);
}

TEST_F(ScaleEmulatorTest, AnotherProtocolVersionGetsAVersionErrorThenTheConnectionCloses) {
  Start(Options());
  auto c = Connect();
  std::string frame = scale::BuildFrame(T(Op::kGetInfo), "");
  frame[4] = 2;
  ASSERT_TRUE(c->WriteAll(frame.data(), frame.size()));
  scale::Frame reply;
  ASSERT_EQ(scale::ReadFrame(*c, &reply), scale::ReadStatus::kOk);
  EXPECT_EQ(reply.header.version, scale::kProtocolVersion);
  scale::Reply decoded;
  std::string error;
  ASSERT_TRUE(scale::DecodeReply(reply.payload, &decoded, &error));
  EXPECT_EQ(decoded.Code, scale::kResultBadVersion);
  EXPECT_TRUE(ClosedByPeer(*c));
}

TEST_F(ScaleEmulatorTest, BadInputClosesOnlyThatConnection) {
  Start(Options());
  auto idle = Connect();  // open and silent throughout
  auto stalled = Connect();
  std::string half = scale::BuildFrame(T(Op::kSetPlus), OnePlu(9));
  ASSERT_TRUE(stalled->WriteAll(half.data(), half.size() / 2));  // stops mid-frame

  auto garbage = Connect();
  ASSERT_TRUE(garbage->WriteAll("GET / HTTP/1.0\r\n\r\n", 18));
  EXPECT_TRUE(ClosedByPeer(*garbage));

  auto oversized = Connect();
  std::string header = scale::BuildFrame(T(Op::kSetLabel), "").substr(0, scale::kHeaderSize);
  header[8] = '\x7F';  // announces about 2 GB
  ASSERT_TRUE(oversized->WriteAll(header.data(), header.size()));
  EXPECT_TRUE(ClosedByPeer(*oversized));

  auto reserved = Connect();
  std::string frame = scale::BuildFrame(T(Op::kGetInfo), "");
  frame[7] = 1;
  ASSERT_TRUE(reserved->WriteAll(frame.data(), frame.size()));
  EXPECT_TRUE(ClosedByPeer(*reserved));

  auto truncated = Connect();
  ASSERT_TRUE(truncated->WriteAll(half.data(), half.size() - 1));
  truncated.reset();

  EXPECT_EQ(Exchange(T(Op::kSetPlus), OnePlu(5)).Code, 0);
  EXPECT_EQ(Exchange(*idle, T(Op::kGetInfo), "").Code, 0);
  std::string plus = State("plus.tsv");
  EXPECT_EQ(plus.find("\n9\t"), std::string::npos);
  EXPECT_NE(plus.find("\n5\tN5\t"), std::string::npos);
}

TEST_F(ScaleEmulatorTest, SurvivesAFuzzOfRandomFramesAndStillServes) {
  Start(Options());
  std::mt19937 random(20240517);
  auto byte = [&] { return static_cast<char>(random() & 0xFF); };
  auto bytes = [&](size_t n) {
    std::string s(n, '\0');
    for (char& ch : s)
      ch = byte();
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    auto c = Connect();
    ASSERT_NE(c, nullptr);
    c->SetTimeoutMillis(2000);
    std::string out;
    switch (round % 6) {
      case 0:  // noise
        out = bytes(scale::kHeaderSize + random() % 64);
        break;
      case 1: {  // a valid header, a random type and a random payload
        out = scale::BuildFrame(static_cast<uint8_t>(random() % 16), bytes(random() % 300));
        break;
      }
      case 2: {  // a known request with a damaged payload
        std::string payload = round % 12 == 2 ? OnePlu(1 + round) : scale::EncodeHotKeys({});
        for (int flips = 0; flips < 3; ++flips)
          payload[random() % payload.size()] = byte();
        out = scale::BuildFrame(static_cast<uint8_t>(round % 12 == 2 ? 3 : 7), payload);
        break;
      }
      case 3: {  // cut short anywhere
        std::string frame = scale::BuildFrame(T(Op::kSetMessages), bytes(200));
        out = frame.substr(0, random() % frame.size());
        break;
      }
      case 4: {  // an announced length far beyond the payload sent
        out = scale::BuildFrame(T(Op::kSetLogo), bytes(10)).substr(0, scale::kHeaderSize);
        out[8] = byte();
        out[9] = byte();
        out += bytes(10);
        break;
      }
      case 5: {  // a header with random version and reserved bytes
        out = scale::BuildFrame(T(Op::kGetSettings), "");
        out[4] = byte();
        out[6] = byte();
        break;
      }
    }
    c->WriteAll(out.data(), out.size());
    // Read whatever comes back until the emulator answers or closes; a
    // frame that waits for more bytes is simply abandoned.
    if (round % 6 != 3 && round % 6 != 4) {
      scale::Frame reply;
      scale::ReadFrame(*c, &reply);
    }
  }
  // The scale still serves, and its settings are intact.
  auto c = Connect();
  EXPECT_EQ(Exchange(*c, T(Op::kSetPlus), OnePlu(77)).Code, 0);
  scale::Reply settings = Exchange(*c, T(Op::kGetSettings), "");
  ASSERT_EQ(settings.Code, 0);
  std::vector<scale::SettingChange> all;
  std::string error;
  ASSERT_TRUE(scale::DecodeSettings(settings.Body, &all, &error)) << error;
  ASSERT_EQ(all.size(), scale::SettingKeys().size());
  for (const scale::SettingChange& s : all) {
    EXPECT_EQ(s.Value, scale::DefaultSettingValues()[s.Key]) << scale::SettingKeys()[s.Key].Name;
  }
  EXPECT_NE(State("plus.tsv").find("\n77\tN77\t"), std::string::npos);
}

TEST_F(ScaleEmulatorTest, ErrorInjectionCountsEveryOperationOfEachScale) {
  EmulatorOptions options = Options();
  options.ErrorAfter = 2;
  options.ErrorCode = 17;
  Start(options);
  EXPECT_EQ(Exchange(T(Op::kGetInfo), "").Code, 0);
  EXPECT_EQ(Exchange(T(Op::kSetPlus), OnePlu(1)).Code, 0);
  scale::Reply third = Exchange(T(Op::kSetPlus), OnePlu(2));
  EXPECT_EQ(third.Code, 17);
  EXPECT_EQ(Exchange(T(Op::kClear), "").Code, 17);
  std::string plus = State("plus.tsv");
  EXPECT_NE(plus.find("\n1\t"), std::string::npos);
  EXPECT_EQ(plus.find("\n2\t"), std::string::npos);
  std::string log = State("operations.log");
  EXPECT_NE(log.find("\tGetInfo\t0\n"), std::string::npos);
  EXPECT_NE(log.find("\tSetPlus\t17\n"), std::string::npos);
  EXPECT_NE(log.find("\tClear\t17\n"), std::string::npos);
}

TEST_F(ScaleEmulatorTest, ARestartKeepsWhatTheScaleHeld) {
  Start(Options());
  std::vector<scale::SettingChange> change = {{scale::FindSettingKey("PrintTime"), {0, ""}}};
  ASSERT_EQ(Exchange(T(Op::kSetPlus), OnePlu(31)).Code, 0);
  ASSERT_EQ(Exchange(T(Op::kSetSettings), scale::EncodeSettings(change)).Code, 0);
  ASSERT_EQ(Exchange(T(Op::kSetFont), scale::EncodeFont(2, "F2")).Code, 0);
  emulator_->Stop();

  Start(Options());
  scale::Reply settings = Exchange(T(Op::kGetSettings), "");
  std::vector<scale::SettingChange> all;
  std::string error;
  ASSERT_TRUE(scale::DecodeSettings(settings.Body, &all, &error)) << error;
  EXPECT_EQ(all[scale::FindSettingKey("PrintTime")].Value.Int, 0);
  ASSERT_EQ(Exchange(T(Op::kSetPlus), OnePlu(32)).Code, 0);
  std::string plus = State("plus.tsv");
  EXPECT_NE(plus.find("\n31\t"), std::string::npos);
  EXPECT_NE(plus.find("\n32\t"), std::string::npos);
  EXPECT_EQ(State("font2.fnt"), "F2");
}

TEST_F(ScaleEmulatorTest, TheMirrorCatchesUpWithRequestsFromSeveralConnections) {
  Start(Options());
  constexpr int kPerConnection = 150;
  std::vector<std::thread> senders;
  for (int t = 0; t < 2; ++t) {
    senders.emplace_back([&, t] {
      auto c = Connect();
      for (int i = 1; i <= kPerConnection; ++i)
        EXPECT_EQ(Exchange(*c, T(Op::kSetPlus), OnePlu(t * 1000 + i)).Code, 0);
    });
  }
  for (auto& s : senders)
    s.join();
  // No change made while a mirror write was under way is missing.
  const std::string plus = State("plus.tsv");
  for (int t = 0; t < 2; ++t) {
    for (int i = 1; i <= kPerConnection; ++i) {
      const std::string row = "\n" + std::to_string(t * 1000 + i) + "\tN";
      ASSERT_NE(plus.find(row), std::string::npos) << row;
    }
  }
}

TEST_F(ScaleEmulatorTest, WhileTheMirrorCannotBeWrittenTableChangesAreRefused) {
  Start(Options());
  auto c = Connect();
  // The scale's folder becomes a plain file: no mirror can be written there.
  std::filesystem::rename(dir_.File(kScale), dir_.File("saved"));
  dir_.Write(kScale, "not a folder");
  EXPECT_EQ(Exchange(*c, T(Op::kSetPlus), OnePlu(1)).Code, 0);
  scale::Reply refused;
  ASSERT_TRUE(testing::WaitUntil(
      [&] { return (refused = Exchange(*c, T(Op::kSetPlus), OnePlu(2))).Code != 0; }, 5000));
  EXPECT_EQ(refused.Code, scale::kResultStorageError);
  EXPECT_NE(refused.Message.find("cannot store the data"), std::string::npos) << refused.Message;
  EXPECT_EQ(Exchange(*c, T(Op::kClear), "").Code, scale::kResultStorageError);
  EXPECT_EQ(Exchange(*c, T(Op::kGetInfo), "").Code, 0);

  // Once the folder is back, the mirror is written and changes are taken again.
  std::filesystem::remove(dir_.File(kScale));
  std::filesystem::rename(dir_.File("saved"), dir_.File(kScale));
  ASSERT_TRUE(
      testing::WaitUntil([&] { return Exchange(*c, T(Op::kSetPlus), OnePlu(3)).Code == 0; }, 5000));
  const std::string plus = State("plus.tsv");
  EXPECT_NE(plus.find("\n1\tN1\t"), std::string::npos) << "the refused clear changed nothing";
  EXPECT_NE(plus.find("\n3\tN3\t"), std::string::npos);
}

TEST_F(ScaleEmulatorTest, ADamagedStateFolderStopsTheStartAndIsLeftAlone) {
  dir_.Write(std::string(kScale) + "/plus.tsv", "not a table\n");
  ScaleEmulator emulator(Options());
  std::string error;
  EXPECT_FALSE(emulator.Start(&error));
  EXPECT_NE(error.find("plus.tsv"), std::string::npos) << error;
  EXPECT_EQ(State("plus.tsv"), "not a table\n");
}

TEST_F(ScaleEmulatorTest, AnAddressThatCannotBeBoundStopsTheStart) {
  EmulatorOptions options = Options();
  options.Addresses = {kScale, "192.0.2.1"};  // not an address of this machine
  ScaleEmulator emulator(options);
  std::string error;
  EXPECT_FALSE(emulator.Start(&error));
  EXPECT_NE(error.find("192.0.2.1"), std::string::npos) << error;
  std::string connectError;
  EXPECT_EQ(TcpConnect(kScale, emulator.Port(), 2000, nullptr, &connectError), nullptr);

  options.Addresses = {kScale, kScale};
  ScaleEmulator twice(options);
  EXPECT_FALSE(twice.Start(&error));
}

TEST_F(ScaleEmulatorTest, StopEndsAPendingDelayedAnswer) {
  EmulatorOptions options = Options();
  options.DelayMs = 3600000;
  Start(options);
  auto c = Connect();
  ASSERT_TRUE(scale::WriteFrame(*c, T(Op::kGetInfo), ""));
  ASSERT_TRUE(testing::WaitUntil(
      [&] { return State("operations.log").find("GetInfo") != std::string::npos; }, 5000));
  emulator_->Stop();  // returns although the answer was due in an hour
  scale::Frame reply;
  EXPECT_NE(scale::ReadFrame(*c, &reply), scale::ReadStatus::kOk);
}

TEST(EmulatorArgsTest, ParsesTheCommandLine) {
  EmulatorOptions o;
  std::string error;
  ASSERT_TRUE(ParseEmulatorArgs(
      {"--state", "/tmp/s", "--port", "6000", "--serial", "S1", "--scale-version", "V",
       "--error-after", "3", "--error-code", "9", "--delay-ms", "50", "127.0.0.5", "127.0.0.6"},
      5001, &o, &error))
      << error;
  EXPECT_EQ(o.StateDir, "/tmp/s");
  EXPECT_EQ(o.Port, 6000);
  EXPECT_EQ(o.Serial, "S1");
  EXPECT_EQ(o.Version, "V");
  EXPECT_EQ(o.ErrorAfter, 3);
  EXPECT_EQ(o.ErrorCode, 9);
  EXPECT_EQ(o.DelayMs, 50);
  EXPECT_EQ(o.Addresses, (std::vector<std::string>{"127.0.0.5", "127.0.0.6"}));

  ASSERT_TRUE(ParseEmulatorArgs({"--state", "d", "127.0.0.5"}, 5123, &o, &error));
  EXPECT_EQ(o.Port, 5123);
  EXPECT_EQ(o.ErrorAfter, -1);

  EXPECT_FALSE(ParseEmulatorArgs({"127.0.0.5"}, 5001, &o, &error));  // no --state
  EXPECT_FALSE(ParseEmulatorArgs({"--state", "d"}, 5001, &o, &error));
  EXPECT_FALSE(ParseEmulatorArgs({"--state", "d", "--port", "70000", "ip"}, 5001, &o, &error));
  EXPECT_FALSE(ParseEmulatorArgs({"--state", "d", "--error-after", "1", "ip"}, 5001, &o, &error));
  EXPECT_FALSE(ParseEmulatorArgs({"--state", "d", "--error-after", "1", "--error-code", "0", "ip"},
                                 5001, &o, &error));
  EXPECT_FALSE(ParseEmulatorArgs(
      {"--state", "d", "--error-after", "1", "--error-code", "1000", "ip"}, 5001, &o, &error));
  EXPECT_FALSE(ParseEmulatorArgs({"--state", "d", "--delay", "1", "ip"}, 5001, &o, &error));
  EXPECT_FALSE(ParseEmulatorArgs({"--state", "d", "ip", "--port"}, 5001, &o, &error));
}

}  // namespace
}  // namespace tarvo::emu
