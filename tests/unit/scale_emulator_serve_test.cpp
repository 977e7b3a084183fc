// The emulator's request handling fed through an in-memory connection: the
// replies a client reads and what the scale holds afterwards, in memory and
// in its mirror folder.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/scale_emulator.h"
#include "emulator/scale_memory.h"
#include "scaledriver/protocol.h"
#include "support/memory_connection.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tarvo::emu {
namespace {

using scale::Op;

constexpr char kScale[] = "127.0.0.1";

std::string Request(Op op, const std::string& payload) {
  return scale::BuildFrame(static_cast<uint8_t>(op), payload);
}

// The replies of `out`, decoded in order.
std::vector<scale::Reply> Replies(const std::string& out) {
  std::vector<scale::Reply> replies;
  size_t at = 0;
  while (at + scale::kHeaderSize <= out.size()) {
    scale::FrameHeader header;
    EXPECT_EQ(scale::DecodeHeader(out.data() + at, &header), scale::HeaderStatus::kOk);
    scale::Reply reply;
    std::string error;
    EXPECT_TRUE(
        scale::DecodeReply(out.substr(at + scale::kHeaderSize, header.length), &reply, &error));
    replies.push_back(reply);
    at += scale::kHeaderSize + header.length;
  }
  EXPECT_EQ(at, out.size());
  return replies;
}

class ScaleEmulatorServeTest : public ::testing::Test {
 protected:
  ScaleEmulatorServeTest() {
    EmulatorOptions options;
    options.StateDir = dir_.path();
    options.Addresses = {kScale};
    options.Port = 0;
    emulator_ = std::make_unique<ScaleEmulator>(options);
  }

  void SetUp() override {
    std::string error;
    ASSERT_TRUE(emulator_->Start(&error)) << error;
  }

  std::vector<scale::Reply> Serve(const std::string& stream) {
    testing::MemoryConnection connection(stream);
    EXPECT_TRUE(emulator_->ServeConnection(kScale, connection));
    return Replies(connection.Output());
  }

  ScaleMemory Held() {
    ScaleMemory memory;
    EXPECT_TRUE(emulator_->Memory(kScale, &memory));
    return memory;
  }

  ScaleMemory Mirrored() {
    EXPECT_TRUE(testing::WaitUntil([&] { return emulator_->MirrorCurrent(); }, 10000));
    ScaleMemory memory;
    std::string error;
    EXPECT_TRUE(ScaleMirror(dir_.File(kScale)).Load(&memory, &error)) << error;
    return memory;
  }

  testing::TempDir dir_;
  std::unique_ptr<ScaleEmulator> emulator_;
};

TEST_F(ScaleEmulatorServeTest, AProductionDateIsKeptAsTheDayTheMirrorShows) {
  const struct {
    double sent;
    double kept;
  } cases[] = {{45000.0, 45000.0}, {45000.75, 45000.0}, {1.5, 1.0}, {0.0, 0.0}};
  std::vector<scale::PluRecord> plus;
  for (const auto& c : cases) {
    scale::PluRecord r;
    r.Number = static_cast<int32_t>(plus.size()) + 1;
    r.Name = "PLU";
    r.ProductionDate = c.sent;
    plus.push_back(r);
  }
  const std::vector<scale::Reply> replies = Serve(Request(Op::kSetPlus, scale::EncodePlus(plus)));
  ASSERT_EQ(replies.size(), 1u);
  ASSERT_EQ(replies[0].Code, scale::kResultOk) << replies[0].Message;

  const ScaleMemory held = Held();
  const ScaleMemory mirrored = Mirrored();
  for (size_t i = 0; i < plus.size(); ++i) {
    SCOPED_TRACE(cases[i].sent);
    EXPECT_EQ(held.Plus.at(plus[i].Number).ProductionDate, cases[i].kept);
    EXPECT_EQ(mirrored.Plus.at(plus[i].Number), held.Plus.at(plus[i].Number));
  }
}

TEST_F(ScaleEmulatorServeTest, EveryRequestGetsOneReplyWithAUtf8MessageAndChangesNothingRefused) {
  scale::PayloadWriter badName;
  badName.PutU16(1);
  badName.PutText("Paper\xFF\xFEType");
  badName.PutU8(0);
  badName.PutI32(3);
  const std::string stream = Request(Op::kGetInfo, "") + Request(Op::kSetSettings, badName.Take()) +
                             Request(static_cast<Op>(77), "") + Request(Op::kClear, "x");
  const std::vector<scale::Reply> replies = Serve(stream);
  ASSERT_EQ(replies.size(), 4u);
  EXPECT_EQ(replies[0].Code, scale::kResultOk);
  EXPECT_EQ(replies[1].Code, scale::kResultMalformed);
  EXPECT_EQ(replies[2].Code, scale::kResultUnknownOp);
  EXPECT_EQ(replies[3].Code, scale::kResultMalformed);
  const uint8_t requests[] = {1, 6, 77, 2};
  for (size_t i = 0; i < replies.size(); ++i) {
    std::string error;
    EXPECT_TRUE(scale::CheckReply(requests[i], replies[i], &error)) << error;
  }
  EXPECT_EQ(Held().Settings, scale::DefaultSettingValues());
  EXPECT_EQ(Mirrored().Settings, scale::DefaultSettingValues());
}

TEST_F(ScaleEmulatorServeTest, AnUnknownAddressIsNotServed) {
  testing::MemoryConnection connection(Request(Op::kGetInfo, ""));
  EXPECT_FALSE(emulator_->ServeConnection("127.0.0.2", connection));
  ScaleMemory memory;
  EXPECT_FALSE(emulator_->Memory("127.0.0.2", &memory));
  EXPECT_TRUE(connection.Output().empty());
}

}  // namespace
}  // namespace tarvo::emu
