// PLU files dropped into the import folder of the real service reach
// emulated scales: a full load, an update, and a file without a valid PLU.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/harness.h"

namespace tarvo::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::vector<std::string> kScales = {"127.0.0.111", "127.0.0.112"};

// Number, name, price and two message lines per PLU line.
std::string Ini() {
  std::string text =
      "[GlobalSettings]\r\nMaxLogLevelEvent=0\r\nImportInterval=1\r\n[ListScales]\r\n";
  for (size_t i = 0; i < kScales.size(); ++i)
    text += "Scale" + std::to_string(i + 1) + "=" + kScales[i] + "\r\n";
  return text +
         "[FieldsConfig]\r\nFieldNumber_Pos=1\r\nFieldName_Pos=2\r\nFieldPrice_Pos=3\r\n"
         "FieldMessageString1_Pos=4\r\nFieldMessageString2_Pos=5\r\n";
}

// The rows of a mirror file without its header.
std::vector<std::string> Rows(const std::string& tsv) {
  std::vector<std::string> rows;
  size_t start = tsv.find('\n');
  while (start != std::string::npos && start + 1 < tsv.size()) {
    const size_t end = tsv.find('\n', start + 1);
    rows.push_back(tsv.substr(start + 1, end - start - 1));
    start = end;
  }
  return rows;
}

// The first three columns of a plus.tsv row: number, name, add code.
std::string Head(const std::string& row) {
  size_t at = 0;
  for (int i = 0; i < 2 && at != std::string::npos; ++i)
    at = row.find('\t', at + 1);
  return row.substr(0, at);
}

class PLUTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    emu_ = std::make_unique<EmulatorProcess>(kScales);
    ASSERT_TRUE(emu_->ok());
    service_.WriteIni(Ini());
    service_.Start(
        {{"TARVO_SCALE_PORT", std::to_string(emu_->port())}, {"TARVO_TIMER_SCALE", "0.01"}});
    ASSERT_TRUE(service_.WaitForLog("ServiceExecute: Execute begining.", 10000));
  }

  void TearDown() override {
    EXPECT_TRUE(service_.Stop());
    EXPECT_EQ(service_.process().exit_code(), 0);
  }

  // Waits until the import and query folders hold nothing but folders.
  bool WaitQueueEmpty() {
    return WaitUntil(
        [&] {
          for (const char* folder : {"Import", "Query"}) {
            std::error_code ec;
            for (const auto& e :
                 std::filesystem::directory_iterator(service_.dir().File(folder), ec)) {
              if (!e.is_directory())
                return false;
            }
          }
          return true;
        },
        30000);
  }

  std::vector<std::string> PLUHeads(const std::string& ip) {
    std::vector<std::string> heads;
    for (const std::string& row : Rows(emu_->ScaleFile(ip, "plus.tsv")))
      heads.push_back(Head(row));
    return heads;
  }

  std::string Journal() {
    std::string all;
    for (const auto& e : std::filesystem::directory_iterator(service_.dir().File("Log"))) {
      const std::string name = e.path().filename().string();
      if (name != "tarvo-scale-server.log")
        all += service_.dir().Read("Log/" + name);
    }
    return all;
  }

  ServiceProcess service_;
  std::unique_ptr<EmulatorProcess> emu_;
};

TEST_F(PLUTransferTest, FullLoadThenUpdateReachEveryScale) {
  // Line 3 is bad; the name of PLU 3 is Windows-1251 text.
  service_.DropImportFile("goods.txt",
                          "1,\"Milk, 2.5%\",1.20,Keep cold,\r\n"
                          "2,Kefir,0.95,,Bio\r\n"
                          "bad line\r\n"
                          "3,\xD1\xFB\xF0,7.5\r\n");
  ASSERT_TRUE(WaitUntil([&] { return PLUHeads(kScales[1]).size() == 3; }, 30000));
  ASSERT_TRUE(WaitQueueEmpty());
  for (const std::string& ip : kScales) {
    EXPECT_EQ(PLUHeads(ip), (std::vector<std::string>{"1\tMilk, 2.5%", "2\tKefir",
                                                      "3\t\xD0\xA1\xD1\x8B\xD1\x80"}))
        << ip;
    const std::vector<std::string> messages = Rows(emu_->ScaleFile(ip, "messages.tsv"));
    ASSERT_EQ(messages.size(), 2u) << ip;  // PLU 3 has no message column
    EXPECT_EQ(messages[0], "1\tKeep cold" + std::string(15, '\t'));
    EXPECT_EQ(messages[1], "2\t\tBio" + std::string(14, '\t'));
  }
  const std::string log = service_.Log();
  EXPECT_THAT(log, HasSubstr("<127.0.0.111> Bad PLU string. String No: 3."));
  EXPECT_THAT(log, HasSubstr("<127.0.0.112> Loaded:3 PLUs."));
  EXPECT_THAT(log, HasSubstr("<127.0.0.111> Clear data in scale."));
  EXPECT_THAT(log, HasSubstr("<127.0.0.112> Send PLUs (%3)."));
  EXPECT_THAT(Journal(), HasSubstr("IP=127.0.0.111 Operation=SetPLUs     Status=0 File=goods.txt"));

  // An update changes PLU 2, adds PLU 4 and keeps the rest.
  service_.DropImportFile("update#112.txu", "2,Kefir 1%,0.99\r\n4,Tea,3\r\n");
  ASSERT_TRUE(WaitUntil([&] { return PLUHeads(kScales[1]).size() == 4; }, 30000));
  ASSERT_TRUE(WaitQueueEmpty());
  EXPECT_EQ(PLUHeads(kScales[1]),
            (std::vector<std::string>{"1\tMilk, 2.5%", "2\tKefir 1%", "3\t\xD0\xA1\xD1\x8B\xD1\x80",
                                      "4\tTea"}));
  EXPECT_EQ(PLUHeads(kScales[0]).size(), 3u);
  EXPECT_THAT(Journal(),
              HasSubstr("IP=127.0.0.112 Operation=UpdatePLUs  Status=0 File=update#112.txu"));
}

TEST_F(PLUTransferTest, FileWithoutValidPLUGoesToBadAndSendsNothing) {
  service_.DropImportFile("broken#111.plu", "0,No number,1\r\n5,,1\r\n6,No price,0\r\n");
  ASSERT_TRUE(WaitQueueEmpty());
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::error_code ec;
        for (const auto& e :
             std::filesystem::directory_iterator(service_.dir().File("Query/Bad"), ec)) {
          if (e.path().extension() == ".dat")
            return true;
        }
        return false;
      },
      30000));
  const std::string log = service_.Log();
  EXPECT_THAT(log, HasSubstr("<127.0.0.111> Loaded:0 PLUs."));
  EXPECT_THAT(log, HasSubstr("<127.0.0.111> Error load file. No or bad data in input file."));
  EXPECT_THAT(log, Not(HasSubstr("Clear data in scale.")));
  EXPECT_THAT(log, HasSubstr("Set scale state: ip=127.0.0.111 state=4"));
  EXPECT_THAT(log, Not(HasSubstr("Set scale state: ip=127.0.0.111 state=6")));
  EXPECT_THAT(Journal(),
              HasSubstr("IP=127.0.0.111 Operation=SetPLUs     Status=4 File=broken#111.plu"));
  EXPECT_TRUE(emu_->ScaleFile(kScales[0], "plus.tsv").empty() ||
              Rows(emu_->ScaleFile(kScales[0], "plus.tsv")).empty());
}

}  // namespace
}  // namespace tarvo::testing
