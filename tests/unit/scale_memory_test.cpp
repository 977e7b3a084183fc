#include "emulator/scale_memory.h"

#include <gtest/gtest.h>

#include "platform/datetime.h"
#include "support/temp_dir.h"

namespace tarvo::emu {
namespace {

using scale::MessageRecord;
using scale::PluRecord;

double Date(int y, int m, int d) {
  DateTimeParts p;
  p.year = y;
  p.month = m;
  p.day = d;
  return DateTime::FromParts(p).Days();
}

TEST(MirrorTextTest, NumbersUseFifteenDigitsAPointAndNoTrailingZeros) {
  EXPECT_EQ(FormatNumber(12.5), "12.5");
  EXPECT_EQ(FormatNumber(3), "3");
  EXPECT_EQ(FormatNumber(0.105), "0.105");
  EXPECT_EQ(FormatNumber(0.1 + 0.2), "0.3");  // 15 significant digits hide the binary tail
  EXPECT_EQ(FormatNumber(-0.0), "0");
  EXPECT_EQ(FormatNumber(-7.25), "-7.25");
  EXPECT_EQ(FormatNumber(123456789012.345), "123456789012.345");
}

TEST(MirrorTextTest, DatesAreIsoOrEmpty) {
  EXPECT_EQ(FormatDate(0), "");
  EXPECT_EQ(FormatDate(Date(2024, 3, 9)), "2024-03-09");
  EXPECT_EQ(FormatDate(Date(2024, 3, 9) + 0.75), "2024-03-09");  // the time is not shown
}

TEST(MirrorTextTest, EscapingRoundTripsAndRefusesStrayBackslashes) {
  const std::string raw = "a\\b\tc\rd\ne";
  EXPECT_EQ(EscapeText(raw), "a\\\\b\\tc\\rd\\ne");
  std::string back;
  ASSERT_TRUE(UnescapeText(EscapeText(raw), &back));
  EXPECT_EQ(back, raw);
  EXPECT_FALSE(UnescapeText("a\\x", &back));
  EXPECT_FALSE(UnescapeText("ends\\", &back));
  EXPECT_FALSE(UnescapeText("raw\ttab", &back));
}

TEST(MirrorFilesTest, PlusTableHasTheHeaderAndOneRowPerPluAscending) {
  std::map<int32_t, PluRecord> plus;
  EXPECT_EQ(FormatPlus(plus), std::string(kPlusHeader) + "\n");
  PluRecord a;
  a.Number = 20;
  a.Name = "Хлеб\t\"белый\"";
  a.Price = 12.5;
  a.WeightUnit = 4;
  a.Tare = 0.105;
  a.ShelfTime = -1;
  a.Message = 2;
  a.PackageWeight = 3;
  a.ProductionDate = Date(2023, 12, 31);
  a.IcePercent = 1.5;
  PluRecord b;
  b.Number = 3;
  b.Name = "B";
  plus[a.Number] = a;
  plus[b.Number] = b;
  EXPECT_EQ(FormatPlus(plus),
            std::string(kPlusHeader) +
                "\n"
                "3\tB\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\t0\n"
                "20\tХлеб\\t\"белый\"\t0\t0\t12.5\t4\t0\t0.105\t-1\t0\t0\t2\t0\t3\t0\t"
                "2023-12-31\t1.5\n");
  std::map<int32_t, PluRecord> back;
  std::string error;
  ASSERT_TRUE(ParsePlus(FormatPlus(plus), &back, &error)) << error;
  EXPECT_EQ(back, plus);
}

TEST(MirrorFilesTest, MessagesTableHasSixteenLineColumns) {
  EXPECT_EQ(std::string(kMessagesHeader).substr(0, 13), "No\tLine1\tLine");
  std::map<int32_t, MessageRecord> messages;
  MessageRecord m;
  m.No = 1;
  m.Lines[0] = "Состав: мука";
  m.Lines[15] = "last\nline";
  messages[1] = m;
  std::string text = FormatMessages(messages);
  std::string row = text.substr(text.find('\n') + 1);
  EXPECT_EQ(row, "1\tСостав: мука" + std::string(14, '\t') + "\tlast\\nline\n");
  std::map<int32_t, MessageRecord> back;
  std::string error;
  ASSERT_TRUE(ParseMessages(text, &back, &error)) << error;
  EXPECT_EQ(back, messages);
}

TEST(MirrorFilesTest, SettingsFileListsEveryKeyInTableOrder) {
  scale::SettingValues values = scale::DefaultSettingValues();
  values[scale::FindSettingKey("SystemPassword")].Text = "12=34";
  std::string text = FormatSettings(values);
  EXPECT_EQ(text.substr(0, 33), "[Settings]\nPaperType=0\nLabelType=");
  EXPECT_NE(text.find("\nSystemPassword=12=34\n"), std::string::npos);
  EXPECT_NE(text.find("\nEn_PCS_Lb=0\nUserBarCode=000000000000\nAlignPLUName=0\n"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 17), "PrintTestLabel=0\n");

  scale::SettingValues back = scale::DefaultSettingValues();
  back[0].Int = 99;
  std::string error;
  ASSERT_TRUE(ParseSettings(text, &back, &error)) << error;
  EXPECT_EQ(back, values);
}

TEST(MirrorFilesTest, SettingsParserKeepsValuesTheFileDoesNotNameAndRefusesBadOnes) {
  scale::SettingValues values = scale::DefaultSettingValues();
  std::string error;
  ASSERT_TRUE(ParseSettings("[Settings]\nprinttime=0\n", &values, &error)) << error;
  EXPECT_EQ(values[scale::FindSettingKey("PrintTime")].Int, 0);
  EXPECT_EQ(values[scale::FindSettingKey("DecimalPosition")].Int, 2);
  EXPECT_FALSE(ParseSettings("[Settings]\nPrintTime=yes\n", &values, &error));
  EXPECT_NE(error.find("line 2"), std::string::npos);
  EXPECT_FALSE(ParseSettings("[Settings]\nVolume=3\n", &values, &error));
  EXPECT_FALSE(ParseSettings("[Settings]\nUserBarCode=12\n", &values, &error));
  EXPECT_FALSE(ParseSettings("PrintTime=1\n", &values, &error));
}

TEST(MirrorFilesTest, HotKeysTableHas224Rows) {
  scale::HotKeyTable keys{};
  keys[0] = 100;
  keys[223] = 7;
  std::string text = FormatHotKeys(keys);
  EXPECT_EQ(text.substr(0, 20), "Key\tValue\n1\t100\n2\t0\n");
  EXPECT_EQ(text.substr(text.size() - 6), "224\t7\n");
  scale::HotKeyTable back{};
  std::string error;
  ASSERT_TRUE(ParseHotKeys(text, &back, &error)) << error;
  EXPECT_EQ(back, keys);
  EXPECT_FALSE(ParseHotKeys("Key\tValue\n1\t1\n", &back, &error));
}

TEST(MirrorFilesTest, ParsersRefuseWhatTheFormattersNeverWrite) {
  std::map<int32_t, PluRecord> plus;
  std::string error;
  const std::string header = std::string(kPlusHeader) + "\n";
  EXPECT_FALSE(ParsePlus("", &plus, &error));
  EXPECT_FALSE(ParsePlus("Number\n", &plus, &error));
  EXPECT_FALSE(ParsePlus(header + "1\tA\n", &plus, &error));
  EXPECT_FALSE(
      ParsePlus(header + "1\tA\t0\t0\t1,5\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\t0\n", &plus, &error));
  EXPECT_FALSE(ParsePlus(header + "1\tA\t0\t0\t1\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t2023-02-30\t0\n",
                         &plus, &error));
  const std::string row = "5\tA\t0\t0\t1\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\t0\n";
  EXPECT_FALSE(ParsePlus(header + row + row, &plus, &error));
  EXPECT_NE(error.find("line 3"), std::string::npos);
  EXPECT_FALSE(ParsePlus(header + row.substr(0, row.size() - 1), &plus, &error));
}

class ScaleMirrorTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  ScaleMirror mirror_{dir_.path() + "/127.0.0.5"};
};

TEST_F(ScaleMirrorTest, AFreshScaleWritesHeadersAndDefaultSettingsOnly) {
  ScaleMemory memory;
  ASSERT_TRUE(mirror_.WriteAll(memory));
  EXPECT_EQ(dir_.Read("127.0.0.5/plus.tsv"), std::string(kPlusHeader) + "\n");
  EXPECT_EQ(dir_.Read("127.0.0.5/messages.tsv"), std::string(kMessagesHeader) + "\n");
  EXPECT_EQ(dir_.Read("127.0.0.5/settings.ini"), FormatSettings(scale::DefaultSettingValues()));
  EXPECT_EQ(dir_.Read("127.0.0.5/hotkeys.tsv"), "");
}

TEST_F(ScaleMirrorTest, LoadReadsBackEverythingTheMirrorWrote) {
  ScaleMemory memory;
  PluRecord p;
  p.Number = 9;
  p.Name = "x";
  p.Price = 1.25;
  memory.Plus[9] = p;
  MessageRecord m;
  m.No = 4;
  m.Lines[2] = "three";
  memory.Messages[4] = m;
  memory.Settings[scale::FindSettingKey("PrintTime")].Int = 0;
  memory.HotKeys.emplace();
  (*memory.HotKeys)[5] = 9;
  ASSERT_TRUE(mirror_.WriteAll(memory));
  ASSERT_TRUE(mirror_.WriteLabel(std::string("LBL\0\x01", 5)));
  ASSERT_TRUE(mirror_.WriteFont(12, "FONT"));
  ASSERT_TRUE(mirror_.WriteLogo("BMP"));
  dir_.Write("127.0.0.5/fontx.fnt", "not a font of ours");

  ScaleMemory back;
  std::string error;
  ASSERT_TRUE(mirror_.Load(&back, &error)) << error;
  EXPECT_EQ(back.Plus, memory.Plus);
  EXPECT_EQ(back.Messages, memory.Messages);
  EXPECT_EQ(back.Settings, memory.Settings);
  EXPECT_EQ(back.HotKeys, memory.HotKeys);
  EXPECT_EQ(back.Label, std::string("LBL\0\x01", 5));
  EXPECT_EQ(back.Logo, "BMP");
  ASSERT_EQ(back.Fonts.size(), 1u);
  EXPECT_EQ(back.Fonts[12], "FONT");
}

TEST_F(ScaleMirrorTest, LoadOfAMissingFolderGivesAFreshScale) {
  ScaleMemory back;
  std::string error;
  ASSERT_TRUE(mirror_.Load(&back, &error)) << error;
  EXPECT_TRUE(back.Plus.empty());
  EXPECT_EQ(back.Settings, scale::DefaultSettingValues());
  EXPECT_FALSE(back.HotKeys.has_value());
}

TEST_F(ScaleMirrorTest, LoadNamesTheDamagedFile) {
  dir_.Write("127.0.0.5/messages.tsv", "garbage\n");
  ScaleMemory back;
  std::string error;
  EXPECT_FALSE(mirror_.Load(&back, &error));
  EXPECT_NE(error.find("messages.tsv"), std::string::npos);
}

TEST_F(ScaleMirrorTest, OperationsLogGetsOneTabSeparatedLinePerOperation) {
  ASSERT_TRUE(mirror_.WriteAll(ScaleMemory()));
  mirror_.LogOperation("SetPlus", 0);
  mirror_.LogOperation("Clear", 7);
  std::string log = dir_.Read("127.0.0.5/operations.log");
  size_t first = log.find('\n');
  ASSERT_NE(first, std::string::npos);
  std::string line = log.substr(0, first);
  // yyyy-mm-dd hh:nn:ss.zzz <TAB> operation <TAB> code
  ASSERT_EQ(line.size(), 23u + 1 + 7 + 1 + 1);
  EXPECT_EQ(line[4], '-');
  EXPECT_EQ(line[10], ' ');
  EXPECT_EQ(line.substr(23), "\tSetPlus\t0");
  EXPECT_EQ(log.substr(first + 1 + 23), "\tClear\t7\n");
}

}  // namespace
}  // namespace tarvo::emu
