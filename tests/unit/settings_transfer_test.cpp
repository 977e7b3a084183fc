#include "query/settings_transfer.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "support/worker_harness.h"

namespace tarvo {
namespace {

using testing::AutomationCall;

// The settings buffer keys in the order the scale expects them, with the
// place of the packed user barcode.
const std::vector<std::string>& KeyOrder() {
  static const std::vector<std::string> keys = {"PaperType",
                                                "LabelType",
                                                "BarCodeType",
                                                "DateFormat",
                                                "YearFormat",
                                                "PackageTolerance",
                                                "DecimalPosition",
                                                "TotalPricePrecision",
                                                "Rounding",
                                                "Message",
                                                "18BarCode",
                                                "AccountType",
                                                "PrintBackground",
                                                "PrintWeightUnitOfUnitPrice",
                                                "PrintTime",
                                                "PrintDiscountMark",
                                                "PrintWeightUnitOfWeight",
                                                "UseOriginalPriceOnBarcode",
                                                "UpdateTimeFromPCOnConnect",
                                                "AntiWind",
                                                "TotalPriceDiscount",
                                                "RebateTo23Dep",
                                                "NoGapLabel",
                                                "UseExtShelfTime",
                                                "AllowPrintZeroWeight",
                                                "PrintDirection",
                                                "DisplayBrightness",
                                                "LockSystemFunction",
                                                "LockAccountFunction",
                                                "LockPLUFunction",
                                                "LockDiscountFunction",
                                                "LockPriceFunction",
                                                "LockTareFunction",
                                                "OnlyPLUKey",
                                                "SystemPassword",
                                                "AccountPassword",
                                                "PLUPassword",
                                                "DiscountPassword",
                                                "PricePassword",
                                                "TarePassword",
                                                "En_50g",
                                                "En_g",
                                                "En_10g",
                                                "En_100g",
                                                "En_Kg",
                                                "En_Oz",
                                                "En_Lb",
                                                "En_500g",
                                                "En_600g",
                                                "En_PCS_g",
                                                "En_PCS_Kg",
                                                "En_PCS_Oz",
                                                "En_PCS_Lb",
                                                "UserBarCode",
                                                "AlignPLUName",
                                                "PrintTestLabel"};
  return keys;
}

bool IsTextKey(const std::string& key) {
  return key.size() > 8 && key.compare(key.size() - 8, 8, "Password") == 0;
}

class SettingsTransferTest : public testing::WorkerStepTest {
 protected:
  SettingsTransferTest() : WorkerStepTest(kCmdSetSettings) {
    worker->DataFileName = h.dir.File("svc1A2B.dat");
    h.DriverLog()->Set("LastError", int32_t{0});
  }

  void WriteData(const std::string& text) { h.dir.Write("svc1A2B.dat", text); }

  // Loads `section_body` as the "ScaleSettings" section (with Version=1
  // first) and clears the recorded calls.
  void LoadSection(const std::string& section_body) {
    WriteData("[ScaleSettings]\r\nVersion=1\r\n" + section_body);
    ASSERT_TRUE(LoadScaleSettingsFile(Step()));
    h.DriverLog()->ClearCalls();
  }

  std::vector<std::string> Calls() { return h.DriverLog()->CallStrings(); }

  std::vector<AutomationCall> RawCalls() {
    std::lock_guard<std::mutex> lock(h.DriverLog()->mu);
    return h.DriverLog()->calls;
  }

  // The value last written to `property`; empty when none was.
  Variant Written(const std::string& property) {
    Variant last;
    for (const AutomationCall& c : RawCalls()) {
      if (c.kind == AutomationCall::Kind::kSet && c.member == property)
        last = c.values.at(0);
    }
    return last;
  }

  bool Called(const std::string& method) {
    for (const AutomationCall& c : RawCalls()) {
      if (c.kind == AutomationCall::Kind::kInvoke && c.member == method)
        return true;
    }
    return false;
  }
};

// ---- Load step -------------------------------------------------------------

TEST_F(SettingsTransferTest, LoadKeepsTheSectionLinesOnly) {
  WriteData(
      "[Other]\r\nPrintTime=9\r\n"
      "[ScaleSettings]\r\nVersion=1\r\n; a comment\r\nPrintTime=1\r\nSystemPassword=a=b\r\n"
      "[More]\r\nPaperType=2\r\n");
  worker->ValueList = {"Stale=1"};

  EXPECT_TRUE(LoadScaleSettingsFile(Step()));
  EXPECT_EQ(worker->ValueList,
            (std::vector<std::string>{"Version=1", "PrintTime=1", "SystemPassword=a=b"}));
  EXPECT_TRUE(h.Logged("File svc1A2B.dat loaded.", 1));
  EXPECT_EQ(worker->Status, kStateSuccess);
  EXPECT_EQ(State(), kStateSuccess);
}

TEST_F(SettingsTransferTest, LoadAcceptsVersionsUpToOneInAnyLetterCase) {
  for (const char* line : {"Version=1", "Version=0", "Version=-3", "version=1", "VERSION= 1"}) {
    SCOPED_TRACE(line);
    WriteData(std::string("[scalesettings]\r\n") + line + "\r\n");
    EXPECT_TRUE(LoadScaleSettingsFile(Step()));
    EXPECT_EQ(State(), kStateSuccess);
  }
}

TEST_F(SettingsTransferTest, LoadRefusesAWrongVersionBeforeAnyDriverCall) {
  const char* const files[] = {
      "[ScaleSettings]\r\nVersion=2\r\nPrintTime=1\r\n",
      "[ScaleSettings]\r\nVersion=one\r\n",
      "[ScaleSettings]\r\nVersion=\r\n",
      "[ScaleSettings]\r\nVersion\r\n",
      "[ScaleSettings]\r\nPrintTime=1\r\n",
      "[Settings]\r\nVersion=1\r\n",
      "",
  };
  for (const char* text : files) {
    SCOPED_TRACE(text);
    WriteData(text);
    h.ClearLines();
    h.DriverLog()->ClearCalls();
    h.settings.ScaleList[0].State = -1;

    EXPECT_FALSE(LoadScaleSettingsFile(Step()));
    EXPECT_TRUE(h.Logged("Wrong settings version.", 5));
    EXPECT_EQ(State(), kStateBadData);
    // Only the address read that records the state reaches the driver.
    for (const std::string& call : Calls())
      EXPECT_EQ(call, "get IPAddress");
  }
}

TEST_F(SettingsTransferTest, LoadOfAMissingFileIsAWrongVersion) {
  worker->DataFileName = h.dir.File("missing.dat");
  EXPECT_FALSE(LoadScaleSettingsFile(Step()));
  EXPECT_TRUE(h.Logged("Wrong settings version.", 5));
  EXPECT_EQ(State(), kStateBadData);
  EXPECT_TRUE(worker->ValueList.empty());
}

TEST_F(SettingsTransferTest, LoadOfAnUnreadableFileSetsStateThree) {
  h.dir.Write("folder.dat/inside", "x");  // a folder where the data file should be
  worker->DataFileName = h.dir.File("folder.dat");
  EXPECT_FALSE(LoadScaleSettingsFile(Step()));
  EXPECT_EQ(State(), kStateUnreadable);
  EXPECT_TRUE(h.LoggedContaining("folder.dat", 5));
}

// ---- Send step: order and values --------------------------------------------

// With only a Version, every setting goes back with the value the driver
// reported, read right before it is written, in buffer order.
TEST_F(SettingsTransferTest, SendReadsThenWritesEverySettingInOrder) {
  int32_t n = 100;
  for (const std::string& key : KeyOrder()) {
    if (key == "UserBarCode")
      continue;
    if (IsTextKey(key)) {
      h.DriverLog()->Set("Settings_" + key, std::string("pw-") + key);
    } else {
      h.DriverLog()->Set("Settings_" + key, n++);
    }
  }
  LoadSection("");

  ASSERT_TRUE(SendScaleSettings(Step()));

  std::vector<std::string> expected = {"call InitBufferSettings()"};
  n = 100;
  for (const std::string& key : KeyOrder()) {
    const std::string property = "Settings_" + key;
    if (key == "UserBarCode") {
      expected.push_back("set " + property + "='000000000000'");
    } else if (IsTextKey(key)) {
      expected.push_back("get " + property);
      expected.push_back("set " + property + "='pw-" + key + "'");
    } else {
      expected.push_back("get " + property);
      expected.push_back("set " + property + "=" + std::to_string(n++));
    }
  }
  expected.push_back("call SetSettings()");
  expected.push_back("get LastError");
  std::vector<std::string> calls = Calls();
  // The state record reads the address after the send.
  while (!calls.empty() && calls.back() == "get IPAddress")
    calls.pop_back();
  EXPECT_EQ(calls, expected);

  // Types follow the key, not the driver's value.
  EXPECT_EQ(Written("Settings_PrintTime").type(), Variant::Type::kInt);
  EXPECT_EQ(Written("Settings_TarePassword").type(), Variant::Type::kText);
  EXPECT_TRUE(h.Logged("File svc1A2B.dat sended.", 1));
  EXPECT_EQ(State(), kStateSuccess);
}

TEST_F(SettingsTransferTest, SendWritesTheFileValuesTypedByKey) {
  h.DriverLog()->Set("Settings_PrintTime", int32_t{0});
  h.DriverLog()->Set("Settings_PaperType", std::string("7"));  // a driver answering in text
  h.DriverLog()->Set("Settings_SystemPassword", std::string("old"));
  h.DriverLog()->Set("Settings_PLUPassword", int32_t{1234});
  LoadSection(
      "printtime=1\r\nDISPLAYBRIGHTNESS = 3\r\nSystemPassword=\xCA\xEB\xFE\xF7\r\n"
      "pricepassword= 42 \r\n18barcode=-5\r\n");

  ASSERT_TRUE(SendScaleSettings(Step()));
  EXPECT_EQ(Written("Settings_PrintTime"), Variant(int32_t{1}));
  EXPECT_EQ(Written("Settings_DisplayBrightness"), Variant(int32_t{3}));
  EXPECT_EQ(Written("Settings_18BarCode"), Variant(int32_t{-5}));
  EXPECT_EQ(Written("Settings_PaperType"), Variant(int32_t{7}));
  // ANSI text from the file reaches the driver as UTF-8; the value is all
  // of the line after "=" (the line itself is trimmed).
  EXPECT_EQ(Written("Settings_SystemPassword"), Variant(std::string("Ключ")));
  EXPECT_EQ(Written("Settings_PricePassword"), Variant(std::string(" 42")));
  // A text key the file does not name keeps the driver's value, as text.
  EXPECT_EQ(Written("Settings_PLUPassword"), Variant(std::string("1234")));
}

TEST_F(SettingsTransferTest, ALineWithoutEqualsSignNamesNoSetting) {
  h.DriverLog()->Set("Settings_PrintTime", int32_t{4});
  h.DriverLog()->Set("Settings_TarePassword", std::string("keep"));
  LoadSection("PrintTime\r\nTarePassword\r\n");

  ASSERT_TRUE(SendScaleSettings(Step()));
  EXPECT_EQ(Written("Settings_PrintTime"), Variant(int32_t{4}));
  EXPECT_EQ(Written("Settings_TarePassword"), Variant(std::string("keep")));
}

// A failed send is retried from the same list without a new load: the
// retry must read the scale's values again, not reuse those of the first
// attempt.
TEST_F(SettingsTransferTest, ARetriedSendReadsTheDriverAgain) {
  h.DriverLog()->Set("Settings_PaperType", int32_t{1});
  h.DriverLog()->Set("LastError", int32_t{7});
  LoadSection("PrintTime=1\r\n");
  const std::vector<std::string> loaded = worker->ValueList;

  EXPECT_FALSE(SendScaleSettings(Step()));
  EXPECT_EQ(worker->ValueList, loaded);

  h.DriverLog()->Set("Settings_PaperType", int32_t{2});
  h.DriverLog()->Set("LastError", int32_t{0});
  h.DriverLog()->ClearCalls();
  ASSERT_TRUE(SendScaleSettings(Step()));
  EXPECT_EQ(Written("Settings_PaperType"), Variant(int32_t{2}));
  EXPECT_EQ(Written("Settings_PrintTime"), Variant(int32_t{1}));
}

// ---- Send step: failures ----------------------------------------------------

TEST_F(SettingsTransferTest, ANonNumericIntValueFailsBeforeSetSettings) {
  LoadSection("PrintTime=yes\r\n");

  EXPECT_FALSE(SendScaleSettings(Step()));
  EXPECT_FALSE(Called("SetSettings"));
  EXPECT_EQ(State(), kStateSendFailed);
  EXPECT_TRUE(h.LoggedContaining("'yes'", 5));
  // Settings before the bad one are in the buffer; none after it.
  EXPECT_FALSE(Written("Settings_PrintBackground").IsEmpty());
  EXPECT_TRUE(Written("Settings_PrintTime").IsEmpty());
  EXPECT_TRUE(Written("Settings_PrintDiscountMark").IsEmpty());
}

TEST_F(SettingsTransferTest, ANonNumericBarcodePartFailsBeforeSetSettings) {
  LoadSection("UserBarCodeFieldShift3=x\r\n");
  EXPECT_FALSE(SendScaleSettings(Step()));
  EXPECT_FALSE(Called("SetSettings"));
  EXPECT_TRUE(Written("Settings_UserBarCode").IsEmpty());
  EXPECT_EQ(State(), kStateSendFailed);
}

TEST_F(SettingsTransferTest, ADriverValueThatIsNoNumberFailsTheSend) {
  h.DriverLog()->Set("Settings_Rounding", std::string("up"));
  LoadSection("");
  EXPECT_FALSE(SendScaleSettings(Step()));
  EXPECT_FALSE(Called("SetSettings"));
  EXPECT_EQ(State(), kStateSendFailed);
}

TEST_F(SettingsTransferTest, AnAutomationErrorFailsTheSend) {
  LoadSection("");
  h.DriverLog()->failing.insert("Settings_NoGapLabel");
  EXPECT_FALSE(SendScaleSettings(Step()));
  EXPECT_FALSE(Called("SetSettings"));
  EXPECT_EQ(State(), kStateSendFailed);
  EXPECT_TRUE(h.Logged("Fake failure in Settings_NoGapLabel", 5));
}

TEST_F(SettingsTransferTest, ADriverErrorAfterSetSettingsIsACommError) {
  LoadSection("");
  h.DriverLog()->Set("LastError", int32_t{-3});
  h.DriverLog()->Set("LastErrorMessage", std::string("Нет связи"));

  EXPECT_FALSE(SendScaleSettings(Step()));
  EXPECT_TRUE(Called("SetSettings"));
  // The log is ANSI text.
  EXPECT_TRUE(h.Logged("CommError <-3> - \xCD\xE5\xF2 \xF1\xE2\xFF\xE7\xE8", 5));
  EXPECT_EQ(State(), kStateDriverError);
  EXPECT_FALSE(h.LoggedContaining("sended", 1));
}

// ---- User barcode packing ---------------------------------------------------

struct BarCodeCase {
  const char* lines;
  const char* text;
};

TEST_F(SettingsTransferTest, UserBarCodePacking) {
  const BarCodeCase cases[] = {
      // Type 1 packs shift + 1 in the high nibble, the others their code.
      {"UserBarCodeField1=1\r\nUserBarCodeFieldLength1=5\r\nUserBarCodeFieldShift1=2\r\n"
       "UserBarCodeField2=3\r\nUserBarCodeFieldLength2=4\r\n",
       "355400000000"},
      {"UserBarCodeField1=1\r\nUserBarCodeFieldLength1=5\r\nUserBarCodeFieldShift1=2\r\n",
       "350000000000"},
      {"UserBarCodeField1=1\r\nUserBarCodeFieldLength1=3\r\n", "130000000000"},
      // A shift counts only for type 1.
      {"UserBarCodeField2=3\r\nUserBarCodeFieldLength2=4\r\nUserBarCodeFieldShift2=9\r\n",
       "005400000000"},
      // Length 0 gives a zero byte whatever the type and shift.
      {"UserBarCodeField1=5\r\nUserBarCodeFieldShift1=3\r\nUserBarCodeField6=10\r\n"
       "UserBarCodeFieldLength6=0\r\n",
       "000000000000"},
      // Types 2..10 map to 4..12; any other type to 0.
      {"UserBarCodeField3=2\r\nUserBarCodeFieldLength3=1\r\nUserBarCodeField4=10\r\n"
       "UserBarCodeFieldLength4=15\r\nUserBarCodeField5=11\r\nUserBarCodeFieldLength5=3\r\n"
       "UserBarCodeField6=0\r\nUserBarCodeFieldLength6=2\r\n",
       "000041CF0302"},
      // Only the low eight bits count.
      {"userbarcodefield1=1\r\nuserbarcodefieldlength1=2\r\nuserbarcodefieldshift1=15\r\n",
       "020000000000"},
      {"UserBarCodeField1=1\r\nUserBarCodeFieldLength1=1\r\n"
       "UserBarCodeFieldShift1=2147483647\r\nUserBarCodeField2=4\r\n"
       "UserBarCodeFieldLength2=-1\r\n",
       "01FF00000000"},
  };
  for (const BarCodeCase& c : cases) {
    SCOPED_TRACE(c.lines);
    LoadSection(c.lines);
    ASSERT_TRUE(SendScaleSettings(Step()));
    EXPECT_EQ(Written("Settings_UserBarCode"), Variant(std::string(c.text)));
  }
}

TEST_F(SettingsTransferTest, UserBarCodeIsOnlyWritten) {
  h.DriverLog()->Set("Settings_UserBarCode", std::string("FFFFFFFFFFFF"));
  LoadSection("");
  ASSERT_TRUE(SendScaleSettings(Step()));
  for (const std::string& call : Calls())
    EXPECT_NE(call, "get Settings_UserBarCode");
  EXPECT_EQ(Written("Settings_UserBarCode"), Variant(std::string("000000000000")));
}

}  // namespace
}  // namespace tarvo
