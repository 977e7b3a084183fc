// A scale settings file dropped into the import folder of the real service
// changes exactly the settings it names on the emulated scales.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "support/harness.h"

namespace tarvo::testing {
namespace {

using ::testing::HasSubstr;

// name -> value of an emulated scale's settings.ini.
std::map<std::string, std::string> ScaleSettings(const std::string& text) {
  std::map<std::string, std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    const size_t eq = line.find('=');
    if (eq != std::string::npos)
      out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

class SettingsTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    emu_ = std::make_unique<EmulatorProcess>(std::vector<std::string>{kScale});
    ASSERT_TRUE(emu_->ok());
    before_ = ScaleSettings(emu_->ScaleFile(kScale, "settings.ini"));
    ASSERT_FALSE(before_.empty());
    service_.WriteIni(ServiceIni({kScale}));
    ASSERT_TRUE(service_.StartAgainst(*emu_));
  }

  static constexpr char kScale[] = "127.0.0.151";
  ServiceProcess service_;
  std::unique_ptr<EmulatorProcess> emu_;
  std::map<std::string, std::string> before_;
};

TEST_F(SettingsTransferTest, OnlyTheNamedSettingsChange) {
  ASSERT_EQ(before_["PrintTime"], "1");
  service_.DropImportFile("shop.ini",
                          "[ScaleSettings]\r\nVersion=1\r\nprinttime=0\r\n"
                          "SystemPassword=0042\r\nUserBarCodeField1=1\r\n"
                          "UserBarCodeFieldLength1=5\r\nUserBarCodeFieldShift1=2\r\n"
                          "UserBarCodeField2=3\r\nUserBarCodeFieldLength2=4\r\n");
  ASSERT_TRUE(WaitUntil([&] { return service_.Journal().find("SetSettings") != std::string::npos; },
                        30000));
  ASSERT_TRUE(service_.WaitQueueEmpty());
  // The emulator mirrors its settings shortly after the request.
  ASSERT_TRUE(WaitUntil(
      [&] { return ScaleSettings(emu_->ScaleFile(kScale, "settings.ini"))["PrintTime"] == "0"; },
      10000));
  std::map<std::string, std::string> after = ScaleSettings(emu_->ScaleFile(kScale, "settings.ini"));
  EXPECT_EQ(after["PrintTime"], "0");
  EXPECT_EQ(after["SystemPassword"], "0042") << "a password is text: its leading zeros stay";
  EXPECT_EQ(after["UserBarCode"], "355400000000");
  after["PrintTime"] = before_["PrintTime"];
  after["SystemPassword"] = before_["SystemPassword"];
  after["UserBarCode"] = before_["UserBarCode"];
  EXPECT_EQ(after, before_) << "every other setting is as the scale had it";
  EXPECT_THAT(service_.Journal(),
              HasSubstr("IP=127.0.0.151 Operation=SetSettings Status=0 File=shop.ini"));
}

TEST_F(SettingsTransferTest, WrongVersionsAreSetAsideBeforeAnyDriverCall) {
  service_.DropImportFile("v2.ini", "[ScaleSettings]\r\nVersion=2\r\nPrintTime=0\r\n");
  service_.DropImportFile("vx.ini", "[ScaleSettings]\r\nVersion=x\r\nPrintTime=0\r\n");
  service_.DropImportFile("none.ini", "[ScaleSettings]\r\nPrintTime=0\r\n");
  ASSERT_TRUE(WaitUntil([&] { return service_.BadDataFiles() == 3; }, 30000)) << service_.Log();
  ASSERT_TRUE(service_.WaitQueueEmpty());
  const std::string journal = service_.Journal();
  for (const char* name : {"v2.ini", "vx.ini", "none.ini"}) {
    EXPECT_THAT(journal, HasSubstr(std::string("Operation=SetSettings Status=4 File=") + name));
  }
  EXPECT_THAT(service_.Log(), HasSubstr("Wrong settings version."));
  EXPECT_EQ(ScaleSettings(emu_->ScaleFile(kScale, "settings.ini")), before_);
  // The scale was asked for its serial number only: no settings exchange.
  const std::string ops = emu_->ScaleFile(kScale, "operations.log");
  EXPECT_THAT(ops, ::testing::Not(HasSubstr("Settings")));
}

TEST_F(SettingsTransferTest, ABadValueFailsTheSendAndIsRetried) {
  service_.DropImportFile("bad.ini", "[ScaleSettings]\r\nVersion=1\r\nPrintTime=yes\r\n");
  ASSERT_TRUE(service_.WaitForLog("Retry timer started.", 30000)) << service_.Log();
  EXPECT_THAT(service_.Journal(), HasSubstr("Operation=SetSettings Status=5 File=bad.ini"));
  EXPECT_EQ(ScaleSettings(emu_->ScaleFile(kScale, "settings.ini")), before_);
  EXPECT_EQ(service_.BadDataFiles(), 0u) << "a send failure is not a bad file";
  // The command stays queued and is tried again.
  ASSERT_TRUE(service_.WaitForLog("Retry send PLU data.", 30000));
  EXPECT_FALSE(service_.WaitQueueEmpty(500));
}

}  // namespace
}  // namespace tarvo::testing
