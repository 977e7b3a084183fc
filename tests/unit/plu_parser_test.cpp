// The PLU load step: the loader around the line parser.

#include "query/plu_parser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/structdefines.h"
#include "common/textnames.h"
#include "platform/system_formats.h"
#include "support/fake_automation.h"
#include "support/plu_line_fixture.h"
#include "support/temp_dir.h"
#include "support/worker_harness.h"

namespace tarvo {
namespace {

using testing::FakeAutomationObject;
using testing::PLULineTest;
using testing::TempDir;

class LoadPLUFileTest : public PLULineTest {
 protected:
  void SetUp() override {
    PLULineTest::SetUp();
    driverLog->Set("IPAddress", "10.0.0.5");
    PlaceBasic();
    context.DataFileName = dir.File("base.dat");
  }

  bool Load(const std::string& contents) {
    dir.Write("base.dat", contents);
    return LoadPLUFile(context, settings);
  }

  TempDir dir;
};

TEST_F(LoadPLUFileTest, LogsTheLoadAndSkipsBadLinesByNumber) {
  ASSERT_TRUE(Load("1,Milk,2.5\r\n\r\nbad\r\n0,Nothing,1\r\n2,Kefir,1.5\r\n"));
  const std::string path = dir.File("base.dat");
  EXPECT_EQ(Texts(), (std::vector<std::string>{
                         "<10.0.0.5> Load data from " + path + ".",
                         "<10.0.0.5> File loaded. 5 lines.",
                         "<10.0.0.5> Delimiter field mode. ",
                         "<10.0.0.5> Bad PLU string. String No: 2.",
                         "<10.0.0.5> Bad PLU string. String No: 3.",
                         "<10.0.0.5> Bad PLU string. String No: 4.",
                         "<10.0.0.5> Loaded:2 PLUs.",
                     }));
  EXPECT_EQ(LevelOf("<10.0.0.5> Bad PLU string. String No: 2."), 5);
  EXPECT_EQ(LevelOf("<10.0.0.5> Loaded:2 PLUs."), 1);
  EXPECT_EQ(states, std::vector<int32_t>{kStateSuccess});
  ASSERT_EQ(plus.size(), 2u);
  EXPECT_EQ(plus[1].Name, "Kefir");
  EXPECT_EQ(separator, ',');
}

TEST_F(LoadPLUFileTest, FixedModeIsAnnounced) {
  settings.ImportFileFixField = true;
  PlaceFixed(kFieldNumber, 1, 3, 1);
  PlaceFixed(kFieldName, 4, 9, 2);
  PlaceFixed(kFieldPrice, 10, 13, 3);
  ASSERT_TRUE(Load("  1Milk  2.50\n"));
  EXPECT_EQ(Texts().at(2), "<10.0.0.5> Fix field mode. ");
  EXPECT_EQ(plus.at(0).Name, "Milk");
}

TEST_F(LoadPLUFileTest, EmptyFileLoadsNothing) {
  EXPECT_FALSE(Load(""));
  EXPECT_EQ(Texts(),
            (std::vector<std::string>{"<10.0.0.5> Load data from " + dir.File("base.dat") + "."}));
  EXPECT_EQ(states, std::vector<int32_t>{kStateBadData});
}

TEST_F(LoadPLUFileTest, FileWithoutValidPLUIsRefused) {
  EXPECT_FALSE(Load("x\r\n0,Milk,1\r\n"));
  EXPECT_EQ(Texts().back(), "<10.0.0.5> Loaded:0 PLUs.");
  EXPECT_EQ(states, std::vector<int32_t>{kStateBadData});
  EXPECT_TRUE(plus.empty());
}

TEST_F(LoadPLUFileTest, UnreadableFileRaises) {
  context.DataFileName = dir.File("missing.dat");
  EXPECT_THROW(LoadPLUFile(context, settings), std::exception);
  EXPECT_EQ(states, std::vector<int32_t>{kStateUnreadable});
}

TEST_F(LoadPLUFileTest, EveryLineBreakEndsALineAndAFinalOneAddsNoLine) {
  ASSERT_TRUE(Load("1,A,1\r2,B,1\n3,C,1\r\n\n4,D,1"));
  EXPECT_EQ(Texts().at(1), "<10.0.0.5> File loaded. 5 lines.");
  EXPECT_EQ(Texts().at(3), "<10.0.0.5> Bad PLU string. String No: 4.");
  EXPECT_EQ(plus.size(), 4u);
  ClearLines();
  ASSERT_TRUE(Load("1,A,1\n"));
  EXPECT_EQ(Texts().at(1), "<10.0.0.5> File loaded. 1 lines.");
}

TEST_F(LoadPLUFileTest, LargeFileIsReadInPiecesWithoutLosingLines) {
  // About 3 MB, so lines and CR LF pairs straddle the pieces the file is
  // read in; every 997th line is bad.
  std::string text;
  int lines = 0;
  while (text.size() < 3'000'000) {
    ++lines;
    if (lines % 997 == 0) {
      text += "bad";
    } else {
      text += std::to_string(lines) + ",\"Name " + std::to_string(lines) + ", long enough\",1.5";
    }
    text += lines % 3 == 0 ? "\n" : "\r\n";
  }
  ASSERT_TRUE(Load(text));
  EXPECT_EQ(Texts().at(1), "<10.0.0.5> File loaded. " + std::to_string(lines) + " lines.");
  EXPECT_EQ(plus.size(), static_cast<size_t>(lines - lines / 997));
  EXPECT_EQ(Texts().at(3), "<10.0.0.5> Bad PLU string. String No: 997.");
  for (size_t i = 0; i < plus.size(); ++i) {
    const int number = plus[i].Number;
    ASSERT_NE(number % 997, 0);
    ASSERT_EQ(plus[i].Name, "Name " + std::to_string(number) + ", long enough");
  }
  EXPECT_EQ(plus.back().Number, lines % 997 == 0 ? lines - 1 : lines);
}

TEST_F(LoadPLUFileTest, StartsFromEmptyLists) {
  plus.emplace_back();
  messages.emplace_back();
  ASSERT_TRUE(Load("1,A,1\n"));
  EXPECT_EQ(plus.size(), 1u);
  EXPECT_TRUE(messages.empty());
}

TEST_F(LoadPLUFileTest, AnsiTextIsTakenAsItStands) {
  ASSERT_TRUE(Load("1,\xCC\xEE\xEB\xEE\xEA\xEE,1\n"));  // "Молоко" in Windows-1251
  EXPECT_EQ(plus[0].Name, "\xCC\xEE\xEB\xEE\xEA\xEE");
}

TEST_F(LoadPLUFileTest, Utf8AndUtf16ByteOrderMarksSelectTheirEncoding) {
  ASSERT_TRUE(
      Load("\xEF\xBB\xBF"
           "1,\xD0\x9C\xD0\xBE\xD0\xBB\xD0\xBE\xD0\xBA\xD0\xBE,1\n"));
  EXPECT_EQ(plus[0].Name, "\xCC\xEE\xEB\xEE\xEA\xEE");

  std::string utf16 = "\xFF\xFE";
  for (char16_t c : std::u16string(u"1,Milk,1\r\n2,\u041C,1")) {
    utf16.push_back(static_cast<char>(c & 0xFF));
    utf16.push_back(static_cast<char>(c >> 8));
  }
  ASSERT_TRUE(Load(utf16));
  ASSERT_EQ(plus.size(), 2u);
  EXPECT_EQ(plus[0].Name, "Milk");
  EXPECT_EQ(plus[1].Name, "\xCC");
}

TEST_F(LoadPLUFileTest, NameLosesCharactersOutsideTheAnsiCodePage) {
  ASSERT_TRUE(
      Load("\xEF\xBB\xBF"
           "1,Tea \xE4\xB8\xAD,1\n"));
  EXPECT_EQ(plus[0].Name, "Tea ?");
}

TEST_F(LoadPLUFileTest, DosTextIsConvertedLineByLine) {
  settings.ImportEncodingWindows = false;
  ASSERT_TRUE(Load("1,\x8C\xAE\xAB\xAE\xAA\xAE,1\n2,B,1\n"));  // "Молоко" in CP866
  EXPECT_EQ(plus[0].Name, "\xCC\xEE\xEB\xEE\xEA\xEE");
  int dosLines = 0;
  for (const testing::LoggedLine& line : Lines()) {
    if (line.text == "<10.0.0.5> Encoding from DOS. ") {
      ++dosLines;
      EXPECT_EQ(line.level, 1);
    }
  }
  EXPECT_EQ(dosLines, 2);
}

TEST_F(LoadPLUFileTest, FileWithByteOrderMarkIsNotConvertedFromDos) {
  settings.ImportEncodingWindows = false;
  ASSERT_TRUE(
      Load("\xEF\xBB\xBF"
           "1,\xD0\x9C,1\n"));
  EXPECT_EQ(plus[0].Name, "\xCC");
  for (const std::string& text : Texts())
    EXPECT_EQ(text.find("Encoding from DOS"), std::string::npos);
}

TEST_F(LoadPLUFileTest, SeparatorFromSettings) {
  settings.ImportSimpleSeparator = ";";
  ASSERT_TRUE(Load("1;Milk, fresh;2.5\n"));
  EXPECT_EQ(plus[0].Name, "Milk, fresh");
  EXPECT_EQ(separator, ';');
}

size_t OpenFileCount() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

TEST_F(LoadPLUFileTest, DriverFailureRaisesAndClosesTheFile) {
  driverLog->failing.insert("PLU_Price_Def");
  const size_t before = OpenFileCount();
  EXPECT_THROW(Load("1,Milk,2.5\n"), AutomationError);
  EXPECT_EQ(OpenFileCount(), before);
}

TEST_F(LoadPLUFileTest, MissingDriverRaises) {
  context.Driver = nullptr;
  EXPECT_THROW(Load("1,Milk,2.5\n"), AutomationError);
}

TEST_F(LoadPLUFileTest, IngredientLinesLoadInOneFile) {
  settings.ImportExtraFormat = 2;
  settings.ImportSimpleSeparator = ";";
  Place(kFieldNumber, 2);
  Place(kFieldName, 3);
  Place(kFieldPrice, 4);
  ASSERT_TRUE(Load("I;1;Early\nA;1;Milk;2.5\nI;1;Water;Salt\nA;2;Kefir;1.5\n"));
  EXPECT_EQ(Texts().at(3), "<10.0.0.5> Bad PLU string. String No: 1.");
  ASSERT_EQ(plus.size(), 2u);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(plus[0].Message, 0);
  EXPECT_EQ(messages[0].Line(2), "Salt");
}

}  // namespace
}  // namespace tarvo
