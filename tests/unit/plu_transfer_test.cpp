// The PLU send step against a recording driver: the exact member sequence,
// the batches of 100, the error checks and the scale states.

#include "query/plu_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/structdefines.h"
#include "common/textnames.h"
#include "query/plu_parser.h"
#include "scaledriver/scale_driver.h"
#include "support/worker_harness.h"

namespace tarvo {
namespace {

using testing::FakeAutomationLog;
using Strings = std::vector<std::string>;

class SendPLUDataTest : public ::testing::Test, protected testing::StepHarness {
 protected:
  void SetUp() override {
    driverLog->Set("IPAddress", "10.0.0.5");
    driverLog->Set("LastError", 0);
    driverLog->Set("LastErrorMessage", "OK");
  }

  void AddPLUs(int count) {
    for (int i = 0; i < count; ++i) {
      MPLUData plu;
      plu.Number = static_cast<int32_t>(plus.size()) + 1;
      plu.Name = "PLU " + std::to_string(plu.Number);
      plu.Price = 1.5;
      plus.push_back(plu);
    }
  }
  void AddMessages(int count) {
    for (int i = 0; i < count; ++i) {
      MMessage message;
      message.SetLine(1, "Message " + std::to_string(messages.size() + 1));
      messages.push_back(message);
    }
  }

  Strings Calls() { return driverLog->CallStrings(); }
  int CountCalls(const std::string& call) {
    const Strings calls = Calls();
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
  }

  // Makes LastError `error` from the `n`-th call of `method` on (1-based).
  void FailFrom(const std::string& method, int n, int error) {
    auto count = std::make_shared<int>(0);
    driverLog->onInvoke = [=](const std::string& name, FakeAutomationLog& log) {
      if (name == method && ++*count >= n) {
        log.Set("LastError", error);
        log.Set("LastErrorMessage", "Scale does not answer");
      }
    };
  }
};

const Strings kErrorCheck = {"get LastError", "get LastErrorMessage", "get IPAddress"};

Strings Concat(std::initializer_list<Strings> parts) {
  Strings out;
  for (const Strings& part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

// --- The member sequence -----------------------------------------------------

TEST_F(SendPLUDataTest, FullLoadSendsClearPLUsAndMessagesInThisExactOrder) {
  MPLUData plu;
  plu.Number = 42;
  plu.Name = "\xCC\xEE\xEB\xEE\xEA\xEE";  // ANSI text, sent as UTF-8
  plu.AddCode = 2000042;
  plu.BarCodeType = 22;
  plu.Price = 12.5;
  plu.WeightUnit = 4;
  plu.Dep = 3;
  plu.Tare = 0.25;
  plu.IcePercent = 2.0;
  plu.ShlefTime = -1;
  plu.ProductionDate = DateTime::FromParts({2026, 12, 7});
  plu.Tolerance = 5;
  plu.Message = 0;
  plu.Label = 2;
  plu.Rebate = 10;
  plu.PackageWeight = 500;
  plu.PackageType = 1;
  plus.push_back(plu);
  MMessage message;
  message.SetLine(1, "Keep cold");
  message.SetLine(3, "\xCC");
  messages.push_back(message);

  ASSERT_TRUE(SendPLUData(context));

  Strings messageLines;
  for (int k = 1; k <= 16; ++k) {
    const std::string text = k == 1 ? "Keep cold" : k == 3 ? "\xD0\x9C" : "";
    messageLines.push_back("set Message_Line" + std::to_string(k) + "='" + text + "'");
  }
  const Strings expected = Concat({
      {"get IPAddress", "call ClearAllPLUAndMessages()"},
      kErrorCheck,
      {"call InitBufferPLU()",
       "call AddPLUToBuffer()",
       "set PLU_Number=42",
       "set PLU_Name='\xD0\x9C\xD0\xBE\xD0\xBB\xD0\xBE\xD0\xBA\xD0\xBE'",
       "set PLU_AddCode=2000042",
       "set PLU_BarCodeType=22",
       "set PLU_Price=12.5",
       "set PLU_WeightUnit=4",
       "set PLU_Dep=3",
       "set PLU_Tare=0.25",
       "set PLU_ShlefTime=-1",
       "set PLU_Label=2",
       "set PLU_Rebate=10",
       "set PLU_Message=1",
       "set PLU_PackageType=1",
       "set PLU_PackageWeight=500",
       "set PLU_Tolerance=5",
       "set PLU_ProductionDate=date:2026-12-07",
       "set PLU_IcePercent=2",
       "call SetAllPLU()",
       "get IPAddress"},
      kErrorCheck,
      {"call InitBufferMessages()", "call AddMessageToBuffer()", "set Message_CurrentNo=1"},
      messageLines,
      {"call UpdateAllMessages()", "get IPAddress"},
      kErrorCheck,
  });
  EXPECT_EQ(Calls(), expected);
  EXPECT_EQ(states, std::vector<int32_t>{kStateSuccess});
}

TEST_F(SendPLUDataTest, PropertiesCarryTheirAutomationTypes) {
  AddPLUs(1);
  ASSERT_TRUE(SendPLUData(context));
  std::lock_guard<std::mutex> lock(driverLog->mu);
  for (const testing::AutomationCall& call : driverLog->calls) {
    if (call.kind != testing::AutomationCall::Kind::kSet)
      continue;
    const Variant::Type type = call.values.at(0).type();
    if (call.member == "PLU_Name") {
      EXPECT_EQ(type, Variant::Type::kText);
    } else if (call.member == "PLU_Price" || call.member == "PLU_Tare" ||
               call.member == "PLU_PackageWeight" || call.member == "PLU_IcePercent") {
      EXPECT_EQ(type, Variant::Type::kDouble) << call.member;
    } else {
      EXPECT_EQ(type, Variant::Type::kInt) << call.member;
    }
  }
}

TEST_F(SendPLUDataTest, LogLinesOfASend) {
  AddPLUs(1);
  AddMessages(1);
  ASSERT_TRUE(SendPLUData(context));
  EXPECT_EQ(Texts(1), (Strings{
                          "<10.0.0.5> Clear data in scale.",
                          "<10.0.0.5> Error state: <0>. Text: OK.",
                          "<10.0.0.5> Send PLUs (%1).",
                          "<10.0.0.5> Error state: <0>. Text: OK.",
                          "<10.0.0.5> Send Messages (%1).",
                          "<10.0.0.5> Error state: <0>. Text: OK.",
                      }));
  const Strings details = Texts(0);
  ASSERT_EQ(details.size(), 16u);
  EXPECT_EQ(details[0], "Prepare message1: Message 1");
  EXPECT_EQ(details[15], "Prepare message16: ");
}

TEST_F(SendPLUDataTest, UpdateDoesNotClear) {
  context.Operation = kCmdUpdatePLU;
  AddPLUs(1);
  ASSERT_TRUE(SendPLUData(context));
  EXPECT_EQ(CountCalls("call ClearAllPLUAndMessages()"), 0);
  EXPECT_EQ(driverLog->Invokes().front(), "call InitBufferPLU()");
  for (const std::string& text : Texts())
    EXPECT_EQ(text.find("Clear data"), std::string::npos);
}

TEST_F(SendPLUDataTest, MessageIsSentAsIndexPlusOne) {
  AddPLUs(2);
  plus[0].Message = 4;
  plus[1].Message = -1;  // a driver default with no message
  ASSERT_TRUE(SendPLUData(context));
  EXPECT_EQ(CountCalls("set PLU_Message=5"), 1);
  EXPECT_EQ(CountCalls("set PLU_Message=0"), 1);
}

TEST_F(SendPLUDataTest, ProductionDateOnlyWhenSet) {
  AddPLUs(2);
  plus[1].ProductionDate = DateTime::FromParts({2027, 1, 31});
  ASSERT_TRUE(SendPLUData(context));
  EXPECT_EQ(CountCalls("set PLU_ProductionDate=date:2027-01-31"), 1);
  EXPECT_EQ(CountCalls("set PLU_IcePercent=0"), 2);
  int dates = 0;
  for (const std::string& call : Calls())
    dates += call.rfind("set PLU_ProductionDate", 0) == 0 ? 1 : 0;
  EXPECT_EQ(dates, 1);
}

// --- Batches -----------------------------------------------------------------

TEST_F(SendPLUDataTest, TwoHundredFiftyPLUsGoInTwoFullBatchesAndOneOfFifty) {
  AddPLUs(250);
  ASSERT_TRUE(SendPLUData(context));
  EXPECT_EQ(TextsStartingWith("<10.0.0.5> Send PLUs"),
            (Strings{"<10.0.0.5> Send PLUs (0/2).", "<10.0.0.5> Send PLUs (1/2).",
                     "<10.0.0.5> Send PLUs (%50)."}));
  // Each batch is opened, filled with at most 100 records in list order and closed.
  std::vector<int> batchSizes;
  int32_t next = 1;
  for (const std::string& call : Calls()) {
    if (call == "call InitBufferPLU()") {
      batchSizes.push_back(0);
    } else if (call == "call AddPLUToBuffer()") {
      ++batchSizes.back();
    } else if (call.rfind("set PLU_Number=", 0) == 0) {
      EXPECT_EQ(call, "set PLU_Number=" + std::to_string(next++));
    }
  }
  EXPECT_EQ(batchSizes, (std::vector<int>{100, 100, 50}));
  EXPECT_EQ(CountCalls("call SetAllPLU()"), 3);
  EXPECT_TRUE(TextsStartingWith("<10.0.0.5> Send Messages").empty());
  EXPECT_EQ(CountCalls("call InitBufferMessages()"), 0);
}

TEST_F(SendPLUDataTest, TwoHundredPLUsGiveOnlyFullBatches) {
  AddPLUs(200);
  ASSERT_TRUE(SendPLUData(context));
  EXPECT_EQ(TextsStartingWith("<10.0.0.5> Send PLUs"),
            (Strings{"<10.0.0.5> Send PLUs (0/2).", "<10.0.0.5> Send PLUs (1/2)."}));
  EXPECT_EQ(CountCalls("call SetAllPLU()"), 2);
}

TEST_F(SendPLUDataTest, MessagesFollowInTheirOwnBatches) {
  AddPLUs(200);
  AddMessages(150);
  ASSERT_TRUE(SendPLUData(context));
  EXPECT_EQ(TextsStartingWith("<10.0.0.5> Send Messages"),
            (Strings{"<10.0.0.5> Send Messages (0/1).", "<10.0.0.5> Send Messages (%50)."}));
  EXPECT_EQ(CountCalls("call UpdateAllMessages()"), 2);
  EXPECT_EQ(CountCalls("call AddMessageToBuffer()"), 150);
  EXPECT_EQ(CountCalls("set Message_CurrentNo=150"), 1);
  EXPECT_EQ(CountCalls("set Message_Line1='Message 150'"), 1);
  // Every PLU is sent before the first message.
  const Strings invokes = driverLog->Invokes();
  const auto lastPLU = std::find(invokes.rbegin(), invokes.rend(), "call SetAllPLU()");
  const auto firstMessage = std::find(invokes.begin(), invokes.end(), "call InitBufferMessages()");
  EXPECT_LT(std::distance(invokes.begin(), lastPLU.base()),
            std::distance(invokes.begin(), firstMessage) + 1);
}

TEST_F(SendPLUDataTest, ErrorStateIsCheckedAfterTheClearAndEveryBatch) {
  AddPLUs(250);
  AddMessages(150);
  ASSERT_TRUE(SendPLUData(context));
  // 1 clear + 3 PLU batches + 2 message batches.
  EXPECT_EQ(TextsStartingWith("<10.0.0.5> Error state:").size(), 6u);
  EXPECT_EQ(CountCalls("get LastError"), 6);
}

// --- Failures ------------------------------------------------------------------

TEST_F(SendPLUDataTest, ErrorAfterTheClearStopsBeforeAnyPLU) {
  AddPLUs(10);
  FailFrom("ClearAllPLUAndMessages", 1, 17);
  EXPECT_FALSE(SendPLUData(context));
  EXPECT_EQ(driverLog->Invokes(), Strings{"call ClearAllPLUAndMessages()"});
  EXPECT_EQ(Texts().back(), "<10.0.0.5> Error state: <17>. Text: Scale does not answer.");
  EXPECT_EQ(states, std::vector<int32_t>{kStateDriverError});
}

TEST_F(SendPLUDataTest, ErrorAfterABatchEndsTheSendThere) {
  AddPLUs(250);
  AddMessages(5);
  FailFrom("SetAllPLU", 2, 3);
  EXPECT_FALSE(SendPLUData(context));
  EXPECT_EQ(CountCalls("call SetAllPLU()"), 2);
  EXPECT_EQ(CountCalls("call InitBufferMessages()"), 0);
  EXPECT_EQ(TextsStartingWith("<10.0.0.5> Send PLUs").back(), "<10.0.0.5> Send PLUs (1/2).");
  EXPECT_EQ(states, std::vector<int32_t>{kStateDriverError});
}

TEST_F(SendPLUDataTest, ErrorInTheMessageBatch) {
  AddPLUs(3);
  AddMessages(3);
  FailFrom("UpdateAllMessages", 1, 9);
  EXPECT_FALSE(SendPLUData(context));
  EXPECT_EQ(states, std::vector<int32_t>{kStateDriverError});
}

TEST_F(SendPLUDataTest, NonIntegerErrorCountsAsError) {
  AddPLUs(1);
  driverLog->Set("LastError", "busy");
  EXPECT_FALSE(SendPLUData(context));
  EXPECT_EQ(states, std::vector<int32_t>{kStateDriverError});
}

TEST_F(SendPLUDataTest, StopRequestEndsTheSendAfterTheCurrentBatch) {
  AddPLUs(250);
  driverLog->onInvoke = [this](const std::string& name, FakeAutomationLog&) {
    if (name == "SetAllPLU")
      terminated = true;
  };
  EXPECT_FALSE(SendPLUData(context));
  EXPECT_EQ(CountCalls("call SetAllPLU()"), 1);
  EXPECT_EQ(TextsStartingWith("<10.0.0.5> Error state:").size(), 2u);
  EXPECT_TRUE(states.empty());
}

TEST_F(SendPLUDataTest, ExceptionEndsTheSendSilentlyWithStateUnchanged) {
  AddPLUs(150);
  driverLog->failing.insert("PLU_Tare");
  EXPECT_FALSE(SendPLUData(context));
  EXPECT_EQ(CountCalls("call AddPLUToBuffer()"), 1);
  EXPECT_EQ(CountCalls("call SetAllPLU()"), 0);
  EXPECT_EQ(Texts().back(), "<10.0.0.5> Error state: <0>. Text: OK.");  // after the clear
  EXPECT_TRUE(states.empty());
}

TEST_F(SendPLUDataTest, MissingDriverFails) {
  AddPLUs(1);
  context.Driver = nullptr;
  EXPECT_FALSE(SendPLUData(context));
  EXPECT_TRUE(Lines().empty());
  EXPECT_TRUE(states.empty());
}

// --- The check before the send ------------------------------------------------

TEST_F(SendPLUDataTest, CheckNamesEveryRecordTheDriverCannotSend) {
  ScaleDriver network;  // buffer work only: the check sends nothing
  network.SetProperty("IPAddress", std::string("10.0.0.5"));
  context.Driver = &network;
  AddPLUs(250);
  AddMessages(3);
  EXPECT_TRUE(CheckPLUData(context));
  EXPECT_TRUE(states.empty());

  // Cyrillic ANSI letters take two bytes each: this name fits only as ANSI.
  plus[119].Name = std::string(scale::kMaxRecordBytes / 2, '\xCC');
  plus[4].Message = 1;
  messages[1].SetLine(16, std::string(scale::kMaxRecordBytes, 'm'));
  EXPECT_FALSE(CheckPLUData(context));
  EXPECT_EQ(Texts(5), (Strings{"<10.0.0.5> PLU 120 is too large to send to the scale.",
                               "<10.0.0.5> Message 2 of PLU 5 is too large to send to the scale.",
                               "<10.0.0.5> Data refused: 2 record(s) too large for the scale. "
                               "Nothing was sent."}));
  EXPECT_EQ(states, std::vector<int32_t>{kStateBadData});
}

// --- Through the worker --------------------------------------------------------

class PLUStepsThroughWorkerTest : public testing::WorkerStepTest {
 protected:
  PLUStepsThroughWorkerTest() : WorkerStepTest(kCmdUpdatePLU) {}
};

TEST_F(PLUStepsThroughWorkerTest, LoadAndSendUseTheWorkersDriverListsAndLog) {
  h.settings.ImportEncodingWindows = true;
  h.settings.ImportSimpleSeparator = ";";
  h.settings.FieldsConfig[kFieldNumber].Pos = 1;
  h.settings.FieldsConfig[kFieldName].Pos = 2;
  h.settings.FieldsConfig[kFieldPrice].Pos = 3;
  h.settings.FieldsConfig[kFieldMessageString1].Pos = 4;
  h.DriverLog()->Set("LastError", 0);
  h.dir.Write("plu.dat", "1;Milk;2.5;Fresh\r\n2;Kefir;1.5;Cold\r\nbad\r\n");
  worker->DataFileName = h.dir.File("plu.dat");

  ASSERT_TRUE(LoadPLUFile(Step(), h.settings.Snapshot()));
  EXPECT_EQ(worker->PLUList.size(), 2u);
  EXPECT_EQ(worker->MessageList.size(), 2u);
  EXPECT_EQ(worker->FieldSeparator, ';');
  EXPECT_EQ(h.Count("<10.0.0.5> Bad PLU string. String No: 3."), 1);
  EXPECT_EQ(State(), kStateSuccess);

  ASSERT_TRUE(SendPLUData(Step()));
  EXPECT_EQ(h.Count("<10.0.0.5> Send PLUs (%2)."), 1);
  EXPECT_EQ(h.Count("<10.0.0.5> Send Messages (%2)."), 1);
  const std::vector<std::string> invokes = h.Invokes();
  EXPECT_EQ(std::count(invokes.begin(), invokes.end(), "call AddPLUToBuffer()"), 2);
  EXPECT_EQ(std::count(invokes.begin(), invokes.end(), "call ClearAllPLUAndMessages()"), 0);
}

}  // namespace
}  // namespace tarvo
