#include "query/file_transfers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/worker_harness.h"

namespace tarvo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class FileTransfersTest : public testing::WorkerStepTest {
 protected:
  FileTransfersTest() : WorkerStepTest(kCmdSetLabel) {}

  // Writes the command's data file and points the worker at it.
  void Data(const std::string& contents) {
    h.dir.Write("Query/svc00A1.dat", contents);
    worker->DataFileName = h.dir.File("Query/svc00A1.dat");
  }
};

TEST_F(FileTransfersTest, LabelOfTheLargestSizePasses) {
  Data(std::string(200000, 'L'));
  EXPECT_TRUE(LoadLabelFile(Step()));
  EXPECT_EQ(worker->FileData.size(), 200000u);
  EXPECT_EQ(State(), 0);
  EXPECT_EQ(h.LevelOf("File svc00A1.dat loaded."), 1);
}

TEST_F(FileTransfersTest, LabelOfWrongSizeIsRefused) {
  for (size_t size : {size_t{200001}, size_t{0}, size_t{5000000}}) {
    h.ClearLines();
    Data(std::string(size, 'L'));
    EXPECT_FALSE(LoadLabelFile(Step())) << size;
    EXPECT_EQ(State(), 4) << size;
    EXPECT_THAT(h.Texts(),
                ElementsAre("Wrong size bin file.", "Set scale state: ip=10.0.0.5 state=4"))
        << size;
    EXPECT_EQ(h.Lines()[0].level, 5);
  }
  EXPECT_TRUE(h.Invokes().empty());
}

TEST_F(FileTransfersTest, UnreadableLabelGivesStateThreeAndTheMessage) {
  worker->DataFileName = h.dir.File("Query/missing.dat");
  EXPECT_FALSE(LoadLabelFile(Step()));
  EXPECT_EQ(State(), 3);
  ASSERT_EQ(h.Lines().size(), 2u);
  EXPECT_THAT(h.Texts()[1], HasSubstr("missing.dat"));
  EXPECT_EQ(h.Lines()[1].level, 5);
}

TEST_F(FileTransfersTest, LabelSendPassesTheDataPath) {
  Data("label");
  EXPECT_TRUE(SendLabelFile(Step()));
  EXPECT_THAT(h.Invokes(), ElementsAre("call SetLabelFile('" + worker->DataFileName + "')"));
  EXPECT_EQ(State(), 0);
  EXPECT_EQ(h.LevelOf("File svc00A1.dat sended."), 1);
}

TEST_F(FileTransfersTest, DriverErrorAfterASendGivesStateTwo) {
  Data("label");
  h.DriverLog()->Set("LastError", Variant(int32_t{12}));
  h.DriverLog()->Set("LastErrorMessage", Variant("Scale does not answer"));
  EXPECT_FALSE(SendLabelFile(Step()));
  EXPECT_EQ(State(), 2);
  EXPECT_EQ(h.LevelOf("CommError <12> - Scale does not answer"), 5);
  EXPECT_EQ(h.Count("File svc00A1.dat sended."), 0);
}

TEST_F(FileTransfersTest, ExceptionDuringASendGivesStateFive) {
  Data("logo");
  h.DriverLog()->failing.insert("SetLogoFile");
  EXPECT_FALSE(SendLogoFile(Step()));
  EXPECT_EQ(State(), 5);
  EXPECT_EQ(h.LevelOf("Fake failure in SetLogoFile"), 5);
}

TEST_F(FileTransfersTest, HotKeysWithOnlyAVersionSend224Zeros) {
  Data("[HotKeys]\r\nVersion=1\r\n");
  ASSERT_TRUE(LoadHotKeysFile(Step()));
  EXPECT_THAT(worker->ValueList, ElementsAre("Version=1"));
  EXPECT_EQ(h.LevelOf("File svc00A1.dat loaded."), 1);
  EXPECT_TRUE(SendHotKeys(Step()));
  std::vector<std::string> expected = {"call InitBufferHotKey()"};
  for (int k = 1; k <= 224; ++k)
    expected.push_back("call SetHotKeyValue(" + std::to_string(k) + ",0)");
  expected.push_back("call SetHotKeys()");
  EXPECT_EQ(h.Invokes(), expected);
  EXPECT_EQ(State(), 0);
}

TEST_F(FileTransfersTest, HotKeyValuesByKeyNumber) {
  Data(
      "[Other]\r\nKey2=99\r\n"
      "[HotKeys]\r\nversion=0\r\nKey1=42\r\nkey7=3\r\nKey5=abc\r\nKey224=-8\r\nKey225=1\r\n");
  ASSERT_TRUE(LoadHotKeysFile(Step()));
  ASSERT_TRUE(SendHotKeys(Step()));
  const std::vector<std::string> calls = h.Invokes();
  ASSERT_EQ(calls.size(), 226u);
  EXPECT_EQ(calls[1], "call SetHotKeyValue(1,42)");
  EXPECT_EQ(calls[2], "call SetHotKeyValue(2,0)");
  EXPECT_EQ(calls[5], "call SetHotKeyValue(5,0)");
  EXPECT_EQ(calls[7], "call SetHotKeyValue(7,3)");
  EXPECT_EQ(calls[224], "call SetHotKeyValue(224,-8)");
  EXPECT_EQ(calls[225], "call SetHotKeys()");
}

TEST_F(FileTransfersTest, HotKeysOfAWrongVersionAreRefused) {
  for (const char* section : {"Version=2\r\nKey1=1\r\n", "Key1=1\r\n", "Version=new\r\n"}) {
    h.ClearLines();
    Data(std::string("[HotKeys]\r\n") + section);
    EXPECT_FALSE(LoadHotKeysFile(Step())) << section;
    EXPECT_EQ(State(), 4) << section;
    EXPECT_THAT(h.Texts(),
                ElementsAre("Set scale state: ip=10.0.0.5 state=4", "Wrong hotkeys version."))
        << section;
    EXPECT_EQ(h.Lines()[1].level, 5);
  }
  EXPECT_TRUE(h.Invokes().empty());
}

TEST_F(FileTransfersTest, HotKeysDriverErrorAfterTheWholeTable) {
  Data("[HotKeys]\r\nVersion=1\r\n");
  ASSERT_TRUE(LoadHotKeysFile(Step()));
  h.DriverLog()->Set("LastError", Variant(int32_t{3}));
  EXPECT_FALSE(SendHotKeys(Step()));
  EXPECT_EQ(h.Invokes().size(), 226u);
  EXPECT_EQ(State(), 2);
  EXPECT_EQ(h.LevelOf("CommError <3> - "), 5);
}

TEST_F(FileTransfersTest, FontWithoutANumberIsRefusedSilently) {
  Data("font");
  worker->FontNumber = -1;
  h.ClearLines();
  EXPECT_FALSE(LoadFontFile(Step()));
  EXPECT_TRUE(h.Lines().empty());
  EXPECT_EQ(State(), -1);
  EXPECT_TRUE(h.DriverLog()->calls.empty());
}

TEST_F(FileTransfersTest, FontIsSentWithItsNumber) {
  Data("font");
  worker->FontNumber = 4;
  EXPECT_TRUE(LoadFontFile(Step()));
  EXPECT_EQ(h.LevelOf("File svc00A1.dat loaded."), 1);
  EXPECT_TRUE(SendFontFile(Step()));
  EXPECT_THAT(h.Invokes(), ElementsAre("call SetFontFile('" + worker->DataFileName + "',4)"));
  EXPECT_EQ(State(), 0);
}

TEST_F(FileTransfersTest, EmptyFontOrLogoIsRefusedAsAnEmptyLabelIs) {
  Data("");
  worker->FontNumber = 0;
  for (auto load : {&LoadFontFile, &LoadLogoFile}) {
    h.ClearLines();
    EXPECT_FALSE(load(Step()));
    EXPECT_EQ(State(), 4);
    EXPECT_THAT(h.Texts(),
                ElementsAre("Wrong size bin file.", "Set scale state: ip=10.0.0.5 state=4"));
  }
  EXPECT_TRUE(h.Invokes().empty());
}

TEST_F(FileTransfersTest, LogoIsPassedThrough) {
  Data("any bytes");
  EXPECT_TRUE(LoadLogoFile(Step()));
  EXPECT_TRUE(SendLogoFile(Step()));
  EXPECT_THAT(h.Invokes(), ElementsAre("call SetLogoFile('" + worker->DataFileName + "')"));
  EXPECT_THAT(h.Texts(),
              ElementsAre("File svc00A1.dat loaded.", "Set scale state: ip=10.0.0.5 state=0",
                          "File svc00A1.dat sended.", "Set scale state: ip=10.0.0.5 state=0"));
  EXPECT_EQ(h.settings.ScaleList[0].Operation, 3);
}

TEST_F(FileTransfersTest, CyrillicPathReachesTheDriverAsUtf8) {
  worker->DataFileName = "/q/\xCC\xE5\xF2\xEA\xE0.dat";  // "Метка" in Windows-1251
  EXPECT_TRUE(SendLabelFile(Step()));
  EXPECT_THAT(h.Invokes(),
              ElementsAre("call SetLabelFile('/q/\xD0\x9C\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB0.dat')"));
}

}  // namespace
}  // namespace tarvo
