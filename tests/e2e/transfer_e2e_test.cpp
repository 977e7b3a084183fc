// Files dropped into the import folder of the real service reach emulated
// scales on loopback addresses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <random>

#include "support/harness.h"

namespace tarvo::testing {
namespace {

using ::testing::HasSubstr;

const std::vector<std::string> kScales = {"127.0.0.101", "127.0.0.102", "127.0.0.103"};

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& c : out)
    c = static_cast<char>(gen() & 0xff);
  return out;
}

// A service against one emulator, with the workers' timers sped up.
class TransferTest : public ::testing::Test {
 protected:
  void StartAll(const std::vector<std::string>& emulated, const std::vector<std::string>& listed,
                const std::vector<std::string>& emuOptions = {}) {
    emu_ = std::make_unique<EmulatorProcess>(emulated, emuOptions);
    ASSERT_TRUE(emu_->ok());
    service_.WriteIni(ServiceIni(listed));
    ASSERT_TRUE(service_.StartAgainst(*emu_));
  }

  ServiceProcess service_;
  std::unique_ptr<EmulatorProcess> emu_;
};

TEST_F(TransferTest, LogoReachesEveryScaleAndANamedOneOnlyItsScale) {
  StartAll(kScales, kScales);
  const std::string logo = RandomBytes(5000, 1);
  service_.DropImportFile("logo.bmp", logo);
  ASSERT_TRUE(WaitUntil([&] { return emu_->ScaleFile("127.0.0.103", "logo.bmp") == logo; }, 30000));
  ASSERT_TRUE(service_.WaitQueueEmpty());
  for (const std::string& ip : kScales)
    EXPECT_EQ(emu_->ScaleFile(ip, "logo.bmp"), logo) << ip;

  const std::string second = RandomBytes(700, 2);
  service_.DropImportFile("logo#102.bmp", second);
  ASSERT_TRUE(
      WaitUntil([&] { return emu_->ScaleFile("127.0.0.102", "logo.bmp") == second; }, 30000));
  ASSERT_TRUE(service_.WaitQueueEmpty());
  EXPECT_EQ(emu_->ScaleFile("127.0.0.101", "logo.bmp"), logo);
  EXPECT_EQ(emu_->ScaleFile("127.0.0.103", "logo.bmp"), logo);
  const std::string journal = service_.Journal();
  EXPECT_THAT(journal,
              HasSubstr("IP=127.0.0.102 Operation=SetLogo     Status=0 File=logo#102.bmp"));
  ASSERT_TRUE(service_.Stop());
  EXPECT_EQ(service_.process().exit_code(), 0);
}

TEST_F(TransferTest, HotKeysFontAndAnOversizedLabel) {
  StartAll({"127.0.0.111"}, {"127.0.0.111"});
  std::string keys = "[HotKeys]\r\nVersion=1\r\nKey1=42\r\nKey224=7\r\nKey5=abc\r\n";
  service_.DropImportFile("keys.key", keys);
  const std::string font = RandomBytes(4096, 3);
  service_.DropImportFile("8x16.fnt", font);
  service_.DropImportFile("big.scr", std::string(200001, 'L'));
  ASSERT_TRUE(WaitUntil(
      [&] {
        return !emu_->ScaleFile("127.0.0.111", "font0.fnt").empty() &&
               !emu_->ScaleFile("127.0.0.111", "hotkeys.tsv").empty();
      },
      30000));
  ASSERT_TRUE(service_.WaitQueueEmpty());
  EXPECT_EQ(emu_->ScaleFile("127.0.0.111", "font0.fnt"), font);
  const std::string hotkeys = emu_->ScaleFile("127.0.0.111", "hotkeys.tsv");
  EXPECT_THAT(hotkeys, HasSubstr("1\t42\n"));
  EXPECT_THAT(hotkeys, HasSubstr("5\t0\n"));
  EXPECT_THAT(hotkeys, HasSubstr("224\t7\n"));
  EXPECT_EQ(std::count(hotkeys.begin(), hotkeys.end(), '\n'), 225);
  // The label is too big: set aside, journaled, never sent.
  EXPECT_EQ(emu_->ScaleFile("127.0.0.111", "label.scr"), "");
  EXPECT_THAT(service_.Log(), HasSubstr("Wrong size bin file."));
  EXPECT_THAT(service_.Journal(), HasSubstr("Operation=SetLabels   Status=4 File=big.scr"));
  EXPECT_EQ(service_.BadDataFiles(), 1u);
}

TEST_F(TransferTest, ADownScaleIsRetriedUntilItAnswers) {
  // 127.0.0.122 is listed but nobody serves it yet.
  StartAll({"127.0.0.121"}, {"127.0.0.121", "127.0.0.122"});
  const std::string logo = RandomBytes(1000, 4);
  service_.DropImportFile("logo.bmp", logo);
  ASSERT_TRUE(service_.WaitForLog("Retry timer started.", 30000)) << service_.Log();
  EXPECT_THAT(service_.Journal(),
              HasSubstr("IP=127.0.0.122 Operation=SetLogo     Status=2 File=logo.bmp"));
  // The scale that answers is served meanwhile.
  EXPECT_TRUE(WaitUntil([&] { return emu_->ScaleFile("127.0.0.121", "logo.bmp") == logo; }, 30000));
  // The command for the down scale stays queued.
  EXPECT_FALSE(service_.WaitQueueEmpty(1000));

  EmulatorProcess late({"127.0.0.122"}, {}, emu_->port());
  ASSERT_TRUE(late.ok());
  ASSERT_TRUE(WaitUntil([&] { return late.ScaleFile("127.0.0.122", "logo.bmp") == logo; }, 60000))
      << service_.Log();
  ASSERT_TRUE(service_.WaitQueueEmpty());
  EXPECT_THAT(service_.Journal(),
              HasSubstr("IP=127.0.0.122 Operation=SetLogo     Status=0 File=logo.bmp"));
}

TEST_F(TransferTest, CommandsForOneScaleNeverOverlap) {
  StartAll({"127.0.0.131", "127.0.0.132"}, {"127.0.0.131", "127.0.0.132"}, {"--delay-ms", "300"});
  for (int i = 0; i < 4; ++i) {
    service_.DropImportFile("logo" + std::to_string(i) + ".bmp", RandomBytes(100, 10 + i));
  }
  ASSERT_TRUE(service_.WaitQueueEmpty(60000));
  const std::string journal = service_.Journal();
  for (const std::string ip : {"127.0.0.131", "127.0.0.132"}) {
    for (int i = 0; i < 4; ++i) {
      EXPECT_THAT(journal, HasSubstr("IP=" + ip + " Operation=SetLogo     Status=0 File=logo" +
                                     std::to_string(i) + ".bmp"));
    }
  }
  // The log is written in order: per scale, each "Work with scale" is
  // followed by that command's success before the next one begins.
  const std::string log = service_.Log();
  for (const std::string ip : {"127.0.0.131", "127.0.0.132"}) {
    const std::string begin = "Work with scale " + ip + ".";
    const std::string end = "<" + ip + "> Transfer success.";
    int open = 0, done = 0;
    for (size_t at = 0;;) {
      const size_t b = log.find(begin, at), e = log.find(end, at);
      if (b == std::string::npos && e == std::string::npos)
        break;
      if (b < e) {
        EXPECT_EQ(open, 0) << "two commands at " << ip << " at once";
        ++open;
        at = b + 1;
      } else {
        --open;
        ++done;
        at = e + 1;
      }
    }
    EXPECT_EQ(done, 4) << ip;
  }
  // Both scales were served at the same time by different workers.
  EXPECT_LT(log.find("Work with scale 127.0.0.132."), log.find("<127.0.0.131> Transfer success."));
}

TEST_F(TransferTest, QueuedCommandsSurviveAKill) {
  // The scale is down while the files are queued and claimed.
  StartAll({"127.0.0.141"}, {"127.0.0.141", "127.0.0.142"});
  const std::string logo = RandomBytes(2000, 5);
  service_.DropImportFile("logo.bmp", logo);
  ASSERT_TRUE(service_.WaitForLog("Retry timer started.", 30000));
  service_.process().Signal(SIGKILL);
  ASSERT_TRUE(service_.process().Wait(5000));
  // A file accepted after the kill is not lost either.
  service_.DropImportFile("logo#142.bmp", logo);

  EmulatorProcess late({"127.0.0.142"}, {}, emu_->port());
  ASSERT_TRUE(late.ok());
  ASSERT_TRUE(service_.StartAgainst(*emu_));
  ASSERT_TRUE(service_.WaitQueueEmpty(60000)) << service_.Log();
  EXPECT_EQ(late.ScaleFile("127.0.0.142", "logo.bmp"), logo);
  EXPECT_THAT(service_.Log(), HasSubstr("ServiceExecute: Delete file <"));
  const std::string ops = late.ScaleFile("127.0.0.142", "operations.log");
  EXPECT_GE(std::count(ops.begin(), ops.end(), '\n'), 2) << ops;
}

}  // namespace
}  // namespace tarvo::testing
