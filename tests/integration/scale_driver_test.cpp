// The network scale driver, created through the automation registry as the
// service creates it, against a real emulator on loopback addresses.

#include "scaledriver/scale_driver.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "emulator/scale_emulator.h"
#include "emulator/scale_memory.h"
#include "platform/datetime.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tarvo {
namespace {

constexpr char kScale[] = "127.0.0.101";
constexpr char kOtherScale[] = "127.0.0.102";
constexpr char kNoScale[] = "127.0.0.103";  // nothing listens here

class ScaleDriverTest : public ::testing::Test {
 protected:
  void StartEmulator(emu::EmulatorOptions options = {}, int port = 0) {
    options.StateDir = dir_.path() + "/state";
    options.Addresses = {kScale, kOtherScale};
    options.Port = port;
    if (options.Serial.empty())
      options.Serial = "SN-0042";
    emulator_ = std::make_unique<emu::ScaleEmulator>(options);
    std::string error;
    ASSERT_TRUE(emulator_->Start(&error)) << error;
    setenv("TARVO_SCALE_PORT", std::to_string(emulator_->Port()).c_str(), 1);
  }

  // A driver made the way the service makes it.
  std::unique_ptr<AutomationObject> Driver(const std::string& ip = kScale) {
    AutomationRegistry registry;
    RegisterScaleDriver(registry);
    auto driver = registry.CreateOleObject(kScaleDriverProgId);
    driver->SetProperty("Driver_EnableShowProgress", false);
    driver->SetProperty("ClearAccountAfterUpload", true);
    driver->SetProperty("IPAddress", ip);
    return driver;
  }

  // A file of a scale's folder, once the emulator's mirror has caught up
  // with its memory.
  std::string State(const std::string& file, const std::string& ip = kScale) {
    if (emulator_ != nullptr) {
      EXPECT_TRUE(testing::WaitUntil([&] { return emulator_->MirrorCurrent(); }));
    }
    return dir_.Read("state/" + ip + "/" + file);
  }

  static int32_t LastError(AutomationObject& d) { return d.GetProperty("LastError").AsInt(); }
  static std::string LastErrorMessage(AutomationObject& d) {
    return d.GetProperty("LastErrorMessage").AsText();
  }

  // The rows of a mirror table, header excluded.
  std::vector<std::string> Rows(const std::string& file, const std::string& ip = kScale) {
    std::string text = State(file, ip);
    std::vector<std::string> rows;
    size_t start = text.find('\n') + 1;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      rows.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return rows;
  }

  void AddPlu(AutomationObject& d, int32_t number, const std::string& name, double price) {
    d.Invoke("AddPLUToBuffer");
    d.SetProperty("PLU_Number", number);
    d.SetProperty("PLU_Name", name);
    d.SetProperty("PLU_Price", price);
  }

  testing::TempDir dir_;
  std::unique_ptr<emu::ScaleEmulator> emulator_;
};

TEST_F(ScaleDriverTest, TheProgIdCreatesTheNetworkDriverWithItsOptionsKept) {
  StartEmulator();
  AutomationRegistry registry;
  RegisterScaleDriver(registry);
  auto driver = registry.CreateOleObject("tarvodriver.tarvooledriver");
  ASSERT_NE(driver, nullptr);
  EXPECT_FALSE(driver->GetProperty("Driver_EnableShowProgress").AsBool());
  EXPECT_TRUE(driver->GetProperty("ClearAccountAfterUpload").AsBool());
  driver->SetProperty("ClearAccountAfterUpload", false);
  EXPECT_FALSE(driver->GetProperty("ClearAccountAfterUpload").AsBool());
  EXPECT_EQ(driver->GetProperty("IPAddress").AsText(), "");
  EXPECT_EQ(LastError(*driver), 0);
  EXPECT_EQ(registry.CreateOleObject(kScaleDriverProgId) == nullptr, false);
}

TEST_F(ScaleDriverTest, GetScaleSerialNumberAsksTheScale) {
  emu::EmulatorOptions options;
  options.Version = "EMU 2.5";
  StartEmulator(options);
  auto d = Driver();
  d->Invoke("GetScaleSerialNumber");
  EXPECT_EQ(LastError(*d), 0);
  EXPECT_EQ(LastErrorMessage(*d), "OK");
  EXPECT_EQ(d->GetProperty("SerialNumber").AsText(), "SN-0042");
  EXPECT_EQ(d->GetProperty("ScaleVersion").AsText(), "EMU 2.5");
  EXPECT_EQ(d->GetProperty("IPAddress").AsText(), kScale);

  d->SetProperty("IPAddress", std::string(kNoScale));
  d->Invoke("GetScaleSerialNumber");
  EXPECT_NE(LastError(*d), 0);
  EXPECT_EQ(d->GetProperty("SerialNumber").AsText(), "");
}

TEST_F(ScaleDriverTest, ABufferOfPlusAndMessagesReachesTheScaleWithEveryField) {
  StartEmulator();
  auto d = Driver();
  d->Invoke("ClearAllPLUAndMessages");
  ASSERT_EQ(LastError(*d), 0) << LastErrorMessage(*d);

  DateTimeParts date;
  date.year = 2024;
  date.month = 5;
  date.day = 17;
  d->Invoke("InitBufferPLU");
  // The puts in the order the service makes them.
  d->Invoke("AddPLUToBuffer");
  d->SetProperty("PLU_Number", 1501);
  d->SetProperty("PLU_Name", "Колбаса \"Докторская\"\tвес");
  d->SetProperty("PLU_AddCode", 22015);
  d->SetProperty("PLU_BarCodeType", 7);
  d->SetProperty("PLU_Price", 512.9);
  d->SetProperty("PLU_WeightUnit", 4);
  d->SetProperty("PLU_Dep", 2);
  d->SetProperty("PLU_Tare", 0.015);
  d->SetProperty("PLU_ShlefTime", -1);
  d->SetProperty("PLU_Label", 3);
  d->SetProperty("PLU_Rebate", 5);
  d->SetProperty("PLU_Message", 1);
  d->SetProperty("PLU_PackageType", 1);
  d->SetProperty("PLU_PackageWeight", 250.0);
  d->SetProperty("PLU_Tolerance", 4);
  d->SetProperty("PLU_ProductionDate", DateTime::FromParts(date));
  d->SetProperty("PLU_IcePercent", 2.5);
  // A record the caller leaves at the driver's defaults but for the musts.
  AddPlu(*d, 7, "Bread", 3);
  d->Invoke("SetAllPLU");
  ASSERT_EQ(LastError(*d), 0) << LastErrorMessage(*d);

  d->Invoke("InitBufferMessages");
  d->Invoke("AddMessageToBuffer");
  d->SetProperty("Message_CurrentNo", 1);
  for (int k = 1; k <= 16; ++k) {
    d->SetProperty("Message_Line" + std::to_string(k), k == 1 ? std::string("Состав: свинина")
                                                       : k == 16 ? std::string("end\\line")
                                                                 : std::string());
  }
  d->Invoke("UpdateAllMessages");
  ASSERT_EQ(LastError(*d), 0) << LastErrorMessage(*d);

  EXPECT_EQ(State("plus.tsv").substr(0, State("plus.tsv").find('\n')), emu::kPlusHeader);
  std::vector<std::string> plus = Rows("plus.tsv");
  ASSERT_EQ(plus.size(), 2u);
  EXPECT_EQ(plus[0], "7\tBread\t0\t0\t3\t4\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\t0");
  EXPECT_EQ(
      plus[1],
      "1501\tКолбаса \"Докторская\"\\tвес\t22015\t7\t512.9\t4\t2\t0.015\t-1\t3\t5\t1\t1\t250\t4"
      "\t2024-05-17\t2.5");
  std::vector<std::string> messages = Rows("messages.tsv");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "1\tСостав: свинина" + std::string(15, '\t') + "end\\\\line");
  // The other scale got nothing.
  EXPECT_TRUE(Rows("plus.tsv", kOtherScale).empty());
}

TEST_F(ScaleDriverTest, BatchesAddUpByNumberAndAClearEmptiesBothTables) {
  StartEmulator();
  auto d = Driver();
  for (int batch = 0; batch < 3; ++batch) {
    d->Invoke("InitBufferPLU");
    for (int i = 0; i < (batch < 2 ? 100 : 50); ++i) {
      AddPlu(*d, batch * 100 + i + 1, "P" + std::to_string(i), 1.5);
    }
    d->Invoke("SetAllPLU");
    ASSERT_EQ(LastError(*d), 0) << LastErrorMessage(*d);
  }
  d->Invoke("InitBufferMessages");
  d->Invoke("AddMessageToBuffer");
  d->SetProperty("Message_CurrentNo", 3);
  d->Invoke("UpdateAllMessages");
  std::vector<std::string> rows = Rows("plus.tsv");
  ASSERT_EQ(rows.size(), 250u);
  EXPECT_EQ(rows.front().substr(0, 5), "1\tP0\t");
  EXPECT_EQ(rows.back().substr(0, 8), "250\tP49\t");
  ASSERT_EQ(Rows("messages.tsv").size(), 1u);

  // An update replaces a PLU by its number.
  d->Invoke("InitBufferPLU");
  AddPlu(*d, 2, "Renamed", 9);
  d->Invoke("SetAllPLU");
  EXPECT_EQ(Rows("plus.tsv").size(), 250u);
  EXPECT_EQ(Rows("plus.tsv")[1].substr(0, 10), "2\tRenamed\t");

  d->Invoke("ClearAllPLUAndMessages");
  EXPECT_EQ(LastError(*d), 0);
  EXPECT_EQ(State("plus.tsv"), std::string(emu::kPlusHeader) + "\n");
  EXPECT_EQ(State("messages.tsv"), std::string(emu::kMessagesHeader) + "\n");
}

TEST_F(ScaleDriverTest, ABufferBeyondOneFrameGoesInSeveralRequestsAndAnOversizeRecordInNone) {
  StartEmulator();
  auto d = Driver();
  const size_t room = scale::kMaxRecordBytes - scale::EncodedSize(scale::PluRecord{});
  const size_t half = scale::kMaxRecordBytes / 2 - (scale::kMaxRecordBytes - room);
  // The name lengths of one buffer and the SetPlus requests it takes; 0: refused.
  const struct {
    std::vector<size_t> names;
    size_t requests;
  } cases[] = {
      {std::vector<size_t>(100, 50000), 2},  // 5 MB
      {{half, half, half}, 2},               // two records fill a request exactly
      {{half, half + 1}, 2},
      {{room}, 1},
      {{10, room + 1}, 0},
  };
  size_t sent = 0;
  for (const auto& c : cases) {
    d->Invoke("ClearAllPLUAndMessages");
    d->Invoke("InitBufferPLU");
    for (size_t i = 0; i < c.names.size(); ++i)
      AddPlu(*d, static_cast<int32_t>(i + 1), std::string(c.names[i], 'N'), 1.0);
    EXPECT_EQ(d->GetProperty("PLU_RecordFits").AsBool(), c.requests > 0);
    d->Invoke("SetAllPLU");
    EXPECT_EQ(LastError(*d), c.requests > 0 ? 0 : kErrRequestTooLarge) << LastErrorMessage(*d);
    const std::string log = State("operations.log");
    size_t setPlus = 0;
    for (size_t at = log.find("\tSetPlus\t0"); at != std::string::npos;
         at = log.find("\tSetPlus\t0", at + 1)) {
      ++setPlus;
    }
    EXPECT_EQ(setPlus - sent, c.requests) << c.names.size() << " records";
    sent = setPlus;
    EXPECT_EQ(Rows("plus.tsv").size(), c.requests > 0 ? c.names.size() : 0);
  }
  EXPECT_NE(LastErrorMessage(*d).find("PLU 2 takes"), std::string::npos) << LastErrorMessage(*d);
}

TEST_F(ScaleDriverTest, SettingsReadBackAsTheScaleHoldsThemAndAreSentWhole) {
  StartEmulator();
  auto d = Driver();
  d->Invoke("InitBufferSettings");
  ASSERT_EQ(LastError(*d), 0) << LastErrorMessage(*d);
  const scale::SettingValues fresh = scale::DefaultSettingValues();
  for (size_t i = 0; i < scale::SettingKeys().size(); ++i) {
    const scale::SettingKey& key = scale::SettingKeys()[i];
    Variant v = d->GetProperty(std::string("Settings_") + key.Name);
    if (key.Kind == scale::SettingKind::kInt) {
      ASSERT_EQ(v.type(), Variant::Type::kInt) << key.Name;
      EXPECT_EQ(v.AsInt(), fresh[i].Int) << key.Name;
    } else {
      ASSERT_EQ(v.type(), Variant::Type::kText) << key.Name;
      EXPECT_EQ(v.AsText(), fresh[i].Text) << key.Name;
    }
  }

  // What a settings file with PrintTime=0, a password and a user barcode does.
  d->SetProperty("Settings_PrintTime", 0);
  d->SetProperty("Settings_SystemPassword", std::string("1234"));
  d->SetProperty("Settings_UserBarCode", std::string("35540000000a"));
  d->Invoke("SetSettings");
  ASSERT_EQ(LastError(*d), 0) << LastErrorMessage(*d);
  std::string ini = State("settings.ini");
  EXPECT_NE(ini.find("\nPrintTime=0\n"), std::string::npos);
  EXPECT_NE(ini.find("\nSystemPassword=1234\n"), std::string::npos);
  EXPECT_NE(ini.find("\nUserBarCode=35540000000A\n"), std::string::npos);
  EXPECT_NE(ini.find("\nDecimalPosition=2\n"), std::string::npos);

  // A later load starts from the scale's values, not the driver's defaults.
  auto other = Driver();
  other->Invoke("InitBufferSettings");
  EXPECT_EQ(other->GetProperty("Settings_PrintTime").AsInt(), 0);
  EXPECT_EQ(other->GetProperty("settings_systempassword").AsText(), "1234");
  EXPECT_EQ(other->GetProperty("Settings_UserBarCode").AsText(), "35540000000A");
}

TEST_F(ScaleDriverTest, SetSettingsSendsNothingUnlessTheSettingsWereReadFromThatScale) {
  StartEmulator();
  auto d = Driver();
  d->Invoke("SetSettings");
  EXPECT_EQ(LastError(*d), kErrSettingsNotLoaded);

  d->SetProperty("IPAddress", std::string(kNoScale));
  d->Invoke("InitBufferSettings");
  EXPECT_EQ(LastError(*d), kErrConnectRefused);
  d->SetProperty("IPAddress", std::string(kScale));
  d->Invoke("SetSettings");
  EXPECT_EQ(LastError(*d), kErrSettingsNotLoaded);
  EXPECT_NE(LastErrorMessage(*d).find("refused"), std::string::npos) << LastErrorMessage(*d);

  d->SetProperty("IPAddress", std::string(kOtherScale));
  d->Invoke("InitBufferSettings");
  ASSERT_EQ(LastError(*d), 0);
  d->SetProperty("IPAddress", std::string(kScale));
  d->Invoke("SetSettings");
  EXPECT_EQ(LastError(*d), kErrSettingsNotLoaded);
  EXPECT_EQ(State("operations.log").find("SetSettings"), std::string::npos);
}

TEST_F(ScaleDriverTest, HotKeysGoAsAWholeTable) {
  StartEmulator();
  auto d = Driver();
  d->Invoke("InitBufferHotKey");
  d->Invoke("SetHotKeyValue", {Variant(1), Variant(1501)});
  d->Invoke("SetHotKeyValue", {Variant(224), Variant(7)});
  d->Invoke("SetHotKeys");
  ASSERT_EQ(LastError(*d), 0) << LastErrorMessage(*d);
  std::vector<std::string> rows = Rows("hotkeys.tsv");
  ASSERT_EQ(rows.size(), 224u);
  EXPECT_EQ(rows[0], "1\t1501");
  EXPECT_EQ(rows[1], "2\t0");
  EXPECT_EQ(rows[223], "224\t7");

  d->Invoke("InitBufferHotKey");  // empties the table again
  d->Invoke("SetHotKeys");
  EXPECT_EQ(Rows("hotkeys.tsv")[0], "1\t0");
}

TEST_F(ScaleDriverTest, LabelFontAndLogoFilesArriveByteForByte) {
  StartEmulator();
  std::string label(200000, '\0');
  for (size_t i = 0; i < label.size(); ++i)
    label[i] = static_cast<char>(i % 251);
  dir_.Write("in/Этикетка.scr", label);
  dir_.Write("in/font.fnt", "FONTDATA");
  dir_.Write("in/logo.bmp", "BM\x01\x02");
  auto d = Driver();
  d->Invoke("SetLabelFile", {Variant(dir_.File("in/Этикетка.scr"))});
  ASSERT_EQ(LastError(*d), 0) << LastErrorMessage(*d);
  d->Invoke("SetFontFile", {Variant(dir_.File("in/font.fnt")), Variant(3)});
  ASSERT_EQ(LastError(*d), 0) << LastErrorMessage(*d);
  d->Invoke("SetLogoFile", {Variant(dir_.File("in/logo.bmp"))});
  ASSERT_EQ(LastError(*d), 0) << LastErrorMessage(*d);
  EXPECT_EQ(State("label.scr"), label);
  EXPECT_EQ(State("font3.fnt"), "FONTDATA");
  EXPECT_EQ(State("logo.bmp"), "BM\x01\x02");

  d->Invoke("SetLabelFile", {Variant(dir_.File("in/missing.scr"))});
  EXPECT_EQ(LastError(*d), kErrFileRead);
  EXPECT_NE(LastErrorMessage(*d).find("missing.scr"), std::string::npos);
}

TEST_F(ScaleDriverTest, AScaleThatIsDownGivesAnErrorCodeForEverySendAndNoException) {
  StartEmulator();
  auto d = Driver(kNoScale);
  const std::vector<std::pair<std::string, std::vector<Variant>>> sends = {
      {"GetScaleSerialNumber", {}}, {"ClearAllPLUAndMessages", {}}, {"SetAllPLU", {}},
      {"UpdateAllMessages", {}},    {"InitBufferSettings", {}},     {"SetHotKeys", {}},
  };
  for (const auto& [method, args] : sends) {
    d->SetProperty("IPAddress", std::string(kScale));
    d->Invoke("GetScaleSerialNumber");
    ASSERT_EQ(LastError(*d), 0);
    d->SetProperty("IPAddress", std::string(kNoScale));
    EXPECT_NO_THROW(d->Invoke(method, args)) << method;
    EXPECT_EQ(LastError(*d), kErrConnectRefused) << method;
    EXPECT_NE(LastErrorMessage(*d).find(std::string(kNoScale) + ":"), std::string::npos)
        << LastErrorMessage(*d);
  }
  dir_.Write("in/label.scr", "L");
  d->Invoke("SetLabelFile", {Variant(dir_.File("in/label.scr"))});
  EXPECT_EQ(LastError(*d), kErrConnectRefused);

  d->SetProperty("IPAddress", std::string());
  d->Invoke("ClearAllPLUAndMessages");
  EXPECT_EQ(LastError(*d), kErrConnectFailed);
  d->SetProperty("IPAddress", std::string("scale-7"));
  d->Invoke("ClearAllPLUAndMessages");
  EXPECT_EQ(LastError(*d), kErrConnectFailed);
}

TEST_F(ScaleDriverTest, AScaleSwitchedOffAndOnIsReachedAgainBySameDriver) {
  StartEmulator();
  const int port = emulator_->Port();
  auto d = Driver();
  d->Invoke("ClearAllPLUAndMessages");
  ASSERT_EQ(LastError(*d), 0);
  emulator_->Stop();
  d->Invoke("ClearAllPLUAndMessages");
  EXPECT_EQ(LastError(*d), kErrConnectRefused) << LastErrorMessage(*d);

  StartEmulator({}, port);
  d->Invoke("ClearAllPLUAndMessages");
  EXPECT_EQ(LastError(*d), 0) << LastErrorMessage(*d);
  emulator_->Stop();  // closes the connection the driver keeps
  StartEmulator({}, port);
  d->Invoke("InitBufferPLU");
  AddPlu(*d, 3, "Again", 1);
  d->Invoke("SetAllPLU");
  EXPECT_EQ(LastError(*d), 0) << LastErrorMessage(*d);
  EXPECT_EQ(Rows("plus.tsv").size(), 1u);
  // The request reached the scale once.
  std::string log = State("operations.log");
  EXPECT_EQ(log.find("\tSetPlus\t"), log.rfind("\tSetPlus\t"));
}

TEST_F(ScaleDriverTest, AnInjectedErrorCodeComesBackAsLastError) {
  emu::EmulatorOptions options;
  options.ErrorAfter = 1;
  options.ErrorCode = 42;
  StartEmulator(options);
  auto d = Driver();
  d->Invoke("ClearAllPLUAndMessages");
  EXPECT_EQ(LastError(*d), 0);
  d->Invoke("InitBufferPLU");
  AddPlu(*d, 1, "A", 1);
  d->Invoke("SetAllPLU");
  EXPECT_EQ(LastError(*d), 42);
  EXPECT_NE(LastErrorMessage(*d).find("injected error"), std::string::npos);
  EXPECT_TRUE(Rows("plus.tsv").empty());
  EXPECT_NE(State("operations.log").find("\tSetPlus\t42\n"), std::string::npos);

  // Each scale counts on its own, and success clears the error.
  d->SetProperty("IPAddress", std::string(kOtherScale));
  d->Invoke("SetAllPLU");
  EXPECT_EQ(LastError(*d), 0);
  EXPECT_EQ(LastErrorMessage(*d), "OK");
}

TEST_F(ScaleDriverTest, DataTheScaleRefusesIsAnErrorAnswerAndChangesNothing) {
  StartEmulator();
  auto d = Driver();
  d->Invoke("InitBufferPLU");
  AddPlu(*d, 5, "Good", 1);
  AddPlu(*d, 0, "Bad number", 1);
  d->Invoke("SetAllPLU");
  EXPECT_EQ(LastError(*d), scale::kResultInvalidData);
  EXPECT_NE(LastErrorMessage(*d).find("PLU 0"), std::string::npos) << LastErrorMessage(*d);
  EXPECT_TRUE(Rows("plus.tsv").empty());

  d->Invoke("InitBufferMessages");
  d->Invoke("AddMessageToBuffer");  // message number left at 0
  d->Invoke("UpdateAllMessages");
  EXPECT_EQ(LastError(*d), scale::kResultInvalidData);
}

TEST_F(ScaleDriverTest, ASlowScaleRunsIntoTheReplyTimeout) {
  emu::EmulatorOptions options;
  options.DelayMs = 2000;
  StartEmulator(options);
  ScaleDriverOptions driverOptions;
  driverOptions.Port = emulator_->Port();
  driverOptions.ReplyTimeoutMs = 100;
  ScaleDriver d(driverOptions);
  d.SetProperty("IPAddress", std::string(kScale));
  d.Invoke("GetScaleSerialNumber");
  EXPECT_EQ(LastError(d), kErrReplyTimeout);
  EXPECT_NE(LastErrorMessage(d).find("100 ms"), std::string::npos);
}

TEST_F(ScaleDriverTest, DefaultsAreReportedWithTheirTypes) {
  StartEmulator();
  auto d = Driver();
  EXPECT_EQ(d->GetProperty("PLU_Message_Def"), Variant(-1));
  EXPECT_EQ(d->GetProperty("PLU_WeightUnit_Def"), Variant(4));
  EXPECT_EQ(d->GetProperty("PLU_Number_Def"), Variant(0));
  EXPECT_EQ(d->GetProperty("PLU_Name_Def"), Variant(""));
  EXPECT_EQ(d->GetProperty("PLU_Price_Def"), Variant(0.0));
  EXPECT_EQ(d->GetProperty("PLU_PackageWeight_Def"), Variant(0.0));
  EXPECT_EQ(d->GetProperty("PLU_IcePercent_Def"), Variant(0.0));
  EXPECT_EQ(d->GetProperty("plu_shlefTime_def"), Variant(0));
  EXPECT_THROW(d->GetProperty("PLU_ProductionDate_Def"), AutomationError);

  // A new record starts from the defaults, with "no message" as number 0.
  d->Invoke("InitBufferPLU");
  d->Invoke("AddPLUToBuffer");
  EXPECT_EQ(d->GetProperty("PLU_Message"), Variant(0));
  EXPECT_EQ(d->GetProperty("PLU_WeightUnit"), Variant(4));
  d->SetProperty("plu_price", 5);  // an integer is a fine price
  EXPECT_EQ(d->GetProperty("PLU_PRICE"), Variant(5.0));
  d->SetProperty("PLU_Number", 12.0);  // so is a whole double for an integer
  EXPECT_EQ(d->GetProperty("PLU_Number"), Variant(12));
}

TEST_F(ScaleDriverTest, ABoundPropertyReadsAsItsName) {
  auto d = Driver();  // no exchange with a scale: nothing needs the emulator
  try {
    d->GetIdOfName("PLU_Colour");
    ADD_FAILURE() << "an unknown member was bound";
  } catch (const AutomationError& e) {
    EXPECT_NE(std::string(e.what()).find("PLU_Colour"), std::string::npos) << e.what();
  }
  const std::vector<std::string> names = {
      "IPAddress",  "plu_price_def", "PLU_Message_Def", "PLU_Name_Def",      "PLU_WeightUnit_Def",
      "PLU_Number", "LastError",     "Message_Line16",  "Settings_PrintTime"};
  std::vector<int32_t> ids;
  for (const std::string& name : names)
    ids.push_back(d->GetIdOfName(name));
  EXPECT_EQ(d->GetIdOfName("IPAddress"), ids[0]);  // bound once, however often asked
  // Whatever GetProperty gives, or raises, for the name.
  auto expectSameRead = [&](const std::string& when) {
    for (size_t i = 0; i < names.size(); ++i) {
      std::string byName, byId;
      try {
        byName = d->GetProperty(names[i]).AsText();
      } catch (const AutomationError& e) {
        byName = std::string("raised: ") + e.what();
      }
      try {
        byId = d->GetPropertyById(ids[i]).AsText();
      } catch (const AutomationError& e) {
        byId = std::string("raised: ") + e.what();
      }
      EXPECT_EQ(byId, byName) << names[i] << " " << when;
    }
  };
  expectSameRead("at first");
  EXPECT_EQ(d->GetPropertyById(ids[0]), Variant(std::string(kScale)));
  EXPECT_EQ(d->GetPropertyById(ids[2]), Variant(-1));

  d->SetProperty("IPAddress", std::string(kOtherScale));
  d->Invoke("InitBufferPLU");
  d->Invoke("AddPLUToBuffer");
  d->SetProperty("PLU_Number", 77);
  d->Invoke("InitBufferMessages");
  d->Invoke("AddMessageToBuffer");
  d->SetProperty("Message_Line16", "last line");
  expectSameRead("after setting");
  EXPECT_EQ(d->GetPropertyById(ids[0]), Variant(std::string(kOtherScale)));
  EXPECT_EQ(d->GetPropertyById(ids[5]), Variant(77));
  EXPECT_EQ(d->GetPropertyById(ids[7]), Variant("last line"));

  const int32_t method = d->GetIdOfName("SetAllPLU");  // a method reads as it does by name
  EXPECT_THROW(d->GetPropertyById(method), AutomationError);
  for (int32_t bad : {-1, method + 1, 1 << 30})
    EXPECT_THROW(d->GetPropertyById(bad), AutomationError) << bad;
}

// The misuse and the member it names.
struct Misuse {
  std::function<void(AutomationObject&)> call;
  std::string member;
};

TEST_F(ScaleDriverTest, MisuseRaisesAnErrorNamingTheMember) {
  StartEmulator();
  auto d = Driver();
  const std::vector<Misuse> cases = {
      {[](AutomationObject& o) { o.GetProperty("PLU_Colour"); }, "PLU_Colour"},
      {[](AutomationObject& o) { o.SetProperty("Volume", 3); }, "Volume"},
      {[](AutomationObject& o) { o.Invoke("SendEverything"); }, "SendEverything"},
      {[](AutomationObject& o) { o.SetProperty("LastError", 0); }, "LastError"},
      {[](AutomationObject& o) { o.SetProperty("PLU_Price_Def", 1.0); }, "PLU_Price_Def"},
      {[](AutomationObject& o) { o.SetProperty("PLU_RecordFits", true); }, "PLU_RecordFits"},
      {[](AutomationObject& o) { o.GetProperty("Message_RecordFits"); }, "Message_RecordFits"},
      {[](AutomationObject& o) { o.SetProperty("PLU_Number", 1); }, "PLU_Number"},
      {[](AutomationObject& o) { o.SetProperty("Message_Line1", ""); }, "Message_Line1"},
      {[](AutomationObject& o) { o.GetProperty("Message_Line17"); }, "Message_Line17"},
      {[](AutomationObject& o) { o.SetProperty("Settings_PrintTime", "1"); }, "Settings_PrintTime"},
      {[](AutomationObject& o) { o.SetProperty("Settings_SystemPassword", 1234); },
       "Settings_SystemPassword"},
      {[](AutomationObject& o) { o.SetProperty("Settings_UserBarCode", "35"); },
       "Settings_UserBarCode"},
      {[](AutomationObject& o) { o.SetProperty("Settings_Volume", 1); }, "Settings_Volume"},
      {[](AutomationObject& o) { o.SetProperty("IPAddress", 127); }, "IPAddress"},
      {[](AutomationObject& o) { o.SetProperty("ClearAccountAfterUpload", 1); },
       "ClearAccountAfterUpload"},
      {[](AutomationObject& o) {
         o.Invoke("SetHotKeyValue", {Variant(0), Variant(1)});
       },
       "SetHotKeyValue"},
      {[](AutomationObject& o) {
         o.Invoke("SetHotKeyValue", {Variant(225), Variant(1)});
       },
       "SetHotKeyValue"},
      {[](AutomationObject& o) { o.Invoke("SetHotKeyValue", {Variant(1)}); }, "SetHotKeyValue"},
      {[](AutomationObject& o) {
         o.Invoke("SetFontFile", {Variant("f"), Variant(-1)});
       },
       "SetFontFile"},
      {[](AutomationObject& o) { o.Invoke("SetLabelFile", {Variant(5)}); }, "SetLabelFile"},
      {[](AutomationObject& o) { o.Invoke("SetAllPLU", {Variant(5)}); }, "SetAllPLU"},
  };
  for (const Misuse& m : cases) {
    try {
      m.call(*d);
      ADD_FAILURE() << m.member << " did not raise";
    } catch (const AutomationError& e) {
      EXPECT_NE(std::string(e.what()).find(m.member), std::string::npos) << e.what();
    }
  }

  d->Invoke("InitBufferPLU");
  d->Invoke("AddPLUToBuffer");
  d->Invoke("AddMessageToBuffer");
  const std::vector<Misuse> typed = {
      {[](AutomationObject& o) { o.SetProperty("PLU_Number", "12"); }, "PLU_Number"},
      {[](AutomationObject& o) { o.SetProperty("PLU_Number", 1.5); }, "PLU_Number"},
      {[](AutomationObject& o) { o.SetProperty("PLU_Price", "1.5"); }, "PLU_Price"},
      {[](AutomationObject& o) { o.SetProperty("PLU_Name", 5); }, "PLU_Name"},
      {[](AutomationObject& o) { o.SetProperty("PLU_Name", std::string("\xCF\xF0")); }, "PLU_Name"},
      {[](AutomationObject& o) { o.SetProperty("PLU_ProductionDate", "2024-01-01"); },
       "PLU_ProductionDate"},
      {[](AutomationObject& o) { o.SetProperty("Message_CurrentNo", Variant()); },
       "Message_CurrentNo"},
  };
  for (const Misuse& m : typed) {
    try {
      m.call(*d);
      ADD_FAILURE() << m.member << " did not raise";
    } catch (const AutomationError& e) {
      EXPECT_NE(std::string(e.what()).find(m.member), std::string::npos) << e.what();
    }
  }
  // None of it reached the scale.
  EXPECT_EQ(State("operations.log"), "");
}

}  // namespace
}  // namespace tarvo
