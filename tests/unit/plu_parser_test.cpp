// The PLU load step: the delimited splitter, the fixed-column cutter, the
// record-marker layouts, the field mapping, the defaults and the loader.

#include "query/plu_parser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/structdefines.h"
#include "common/textnames.h"
#include "platform/system_formats.h"
#include "query/plu_lines.h"
#include "support/fake_automation.h"
#include "support/temp_dir.h"

namespace tarvo {
namespace {

using testing::FakeAutomationLog;
using testing::FakeAutomationObject;
using testing::TempDir;

std::vector<std::string> Split(std::string_view line, char separator = ',') {
  FieldList fields;
  SplitDelimitedLine(line, separator, &fields);
  std::vector<std::string> out;
  for (size_t i = 0; i < fields.size(); ++i)
    out.emplace_back(fields[i]);
  return out;
}

using Fields = std::vector<std::string>;

// ---------------------------------------------------------------------------
// The delimited splitter.

TEST(SplitDelimitedLineTest, PlainFieldsAreCutAtEverySeparatorAndNotTrimmed) {
  EXPECT_EQ(Split("1,Milk,2.50"), (Fields{"1", "Milk", "2.50"}));
  EXPECT_EQ(Split(" 1 , Milk "), (Fields{" 1 ", " Milk "}));
  EXPECT_EQ(Split("a,,b"), (Fields{"a", "", "b"}));
  EXPECT_EQ(Split(",a"), (Fields{"", "a"}));
}

TEST(SplitDelimitedLineTest, LineEndingWithTheSeparatorHasNoEmptyLastField) {
  EXPECT_EQ(Split("5,Bread,"), (Fields{"5", "Bread"}));
  EXPECT_EQ(Split("5,Bread,,"), (Fields{"5", "Bread", ""}));
}

TEST(SplitDelimitedLineTest, LineWithoutSeparatorIsOneFieldAndEmptyLineNone) {
  EXPECT_EQ(Split("12345"), (Fields{"12345"}));
  EXPECT_EQ(Split(""), Fields{});
}

TEST(SplitDelimitedLineTest, QuotedFieldKeepsItsSeparatorsAndLosesItsQuotes) {
  EXPECT_EQ(Split("1,\"Milk, 2.5%\",3"), (Fields{"1", "Milk, 2.5%", "3"}));
  EXPECT_EQ(Split("\"a,b\",c"), (Fields{"a,b", "c"}));
  // The last field's enclosing quotes go too.
  EXPECT_EQ(Split("1,\"Milk\""), (Fields{"1", "Milk"}));
  EXPECT_EQ(Split("\"a,b\""), (Fields{"a,b"}));
}

TEST(SplitDelimitedLineTest, DoubledQuotesBecomeOneAndSingleQuotesVanish) {
  EXPECT_EQ(Split("1,\"say \"\"hi\"\"\",2"), (Fields{"1", "say \"hi\"", "2"}));
  EXPECT_EQ(Split("1,a\"\"b,2"), (Fields{"1", "a\"b", "2"}));
  EXPECT_EQ(Split("1,a\"b,2"), (Fields{"1", "ab", "2"}));
  EXPECT_EQ(Split("1,x\"\"\"y"), (Fields{"1", "x\"y"}));
}

TEST(SplitDelimitedLineTest, UnclosedQuoteGivesEmptyFieldAndDropsTextToNextSeparator) {
  EXPECT_EQ(Split("1,\"abc,2"), (Fields{"1", "", "2"}));
  EXPECT_EQ(Split("1,\"abc,2,3"), (Fields{"1", "", "2", "3"}));
}

TEST(SplitDelimitedLineTest, TextBetweenClosingQuoteAndSeparatorIsDropped) {
  EXPECT_EQ(Split("\"a,b\"xyz,c"), (Fields{"a,b", "c"}));
  EXPECT_EQ(Split("1,\"q\" tail,2"), (Fields{"1", "q", "2"}));
}

TEST(SplitDelimitedLineTest, ClosingQuoteRules) {
  // A run of an even number of quotes does not close the field.
  EXPECT_EQ(Split("\"a\"\",b\",c"), (Fields{"a\",b", "c"}));
  // A quote at the very end closes whatever its run.
  EXPECT_EQ(Split("\"a,b\"\"\""), (Fields{"a,b\""}));
  EXPECT_EQ(Split("\"a,b\"\""), (Fields{"a,b"}));
  // No odd run and no final quote: the last quote closes the field.
  EXPECT_EQ(Split("1,\"a\"\"b,c"), (Fields{"1", "a", "c"}));
}

TEST(SplitDelimitedLineTest, VerticalTabBecomesCrLf) {
  EXPECT_EQ(Split("1,line1\vline2,x"), (Fields{"1", "line1\r\nline2", "x"}));
  EXPECT_EQ(Split("1,\"a\vb\""), (Fields{"1", "a\r\nb"}));
}

TEST(SplitDelimitedLineTest, OtherSeparators) {
  EXPECT_EQ(Split("1;Milk;2,50", ';'), (Fields{"1", "Milk", "2,50"}));
  EXPECT_EQ(Split("1\tMilk", '\t'), (Fields{"1", "Milk"}));
  // Any 8-bit character serves, also one outside ASCII.
  EXPECT_EQ(Split("1\xA6Milk", '\xA6'), (Fields{"1", "Milk"}));
}

TEST(SplitDelimitedLineTest, ReusedFieldListHoldsOnlyTheNewLine) {
  FieldList fields;
  SplitDelimitedLine("a long first field,second,third", ',', &fields);
  SplitDelimitedLine("x,y", ',', &fields);
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[0], "x");
  EXPECT_EQ(fields[1], "y");
}

// ---------------------------------------------------------------------------
// Lines of a text that arrives in pieces.

std::vector<std::string> SplitLines(const std::vector<std::string>& pieces) {
  LineSplitter splitter;
  std::vector<std::string> lines;
  auto emit = [&lines](std::string_view line) { lines.emplace_back(line); };
  for (const std::string& piece : pieces)
    splitter.Feed(piece, emit);
  splitter.Finish(emit);
  return lines;
}

size_t CountLines(const std::vector<std::string>& pieces) {
  LineCounter counter;
  for (const std::string& piece : pieces)
    counter.Feed(piece);
  return counter.Lines();
}

TEST(LineSplitterTest, EveryBreakEndsALineAndAFinalBreakAddsNone) {
  EXPECT_EQ(SplitLines({"a\r\nb\nc\rd"}), (Fields{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines({"a\r\n"}), (Fields{"a"}));
  EXPECT_EQ(SplitLines({"a\n\n"}), (Fields{"a", ""}));
  EXPECT_EQ(SplitLines({"\r\r\n\n"}), (Fields{"", "", ""}));
  EXPECT_EQ(SplitLines({"\n"}), (Fields{""}));
  EXPECT_EQ(SplitLines({""}), Fields{});
  EXPECT_EQ(SplitLines({}), Fields{});
}

TEST(LineSplitterTest, PiecesMayEndAnywhereEvenBetweenCrAndLf) {
  const std::string text = "12,Milk\r\n\r\n3,Kefir\r4,Bread\n\n5,\"Tea\"\r\n";
  const Fields whole = SplitLines({text});
  ASSERT_EQ(whole, (Fields{"12,Milk", "", "3,Kefir", "4,Bread", "", "5,\"Tea\""}));
  for (size_t cut = 0; cut <= text.size(); ++cut) {
    for (size_t cut2 = cut; cut2 <= text.size(); ++cut2) {
      const std::vector<std::string> pieces = {text.substr(0, cut), text.substr(cut, cut2 - cut),
                                               text.substr(cut2)};
      EXPECT_EQ(SplitLines(pieces), whole) << cut << " " << cut2;
      EXPECT_EQ(CountLines(pieces), whole.size()) << cut << " " << cut2;
    }
  }
}

TEST(LineCounterTest, CountsAsTheSplitterCuts) {
  for (const std::string text :
       {"", "a", "\n", "\r", "\r\n", "a\r\r\nb", "\n\r", "a\n\rb\r\n\n", "x\ry\rz"}) {
    EXPECT_EQ(CountLines({text}), SplitLines({text}).size()) << text;
  }
}

// ---------------------------------------------------------------------------
// The field list.

TEST(FieldListTest, FieldsViewTheLineOrHoldTheirChangedText) {
  const std::string line = "plain,\"a\"\"b\",x\vy";
  FieldList fields;
  SplitDelimitedLine(line, ',', &fields);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0].data(), line.data());  // as it stands: a view
  EXPECT_EQ(fields[1], "a\"b");
  EXPECT_EQ(fields[2], "x\r\ny");

  fields.Reset(3);
  fields.Set(0, "kept");
  fields.SetCopy(2, std::string("copied"));
  EXPECT_EQ(fields[0], "kept");
  EXPECT_EQ(fields[1], "");
  EXPECT_EQ(fields[2], "copied");
}

// ---------------------------------------------------------------------------
// Conversions.

TEST(ImportStrToFloatTest, SystemSeparatorThenPointAsCommaBlanksIgnored) {
  SetSystemFormats(SystemFormats());
  EXPECT_DOUBLE_EQ(ImportStrToFloat("2.5", 9), 2.5);
  EXPECT_DOUBLE_EQ(ImportStrToFloat("  2.5 ", 9), 2.5);
  EXPECT_DOUBLE_EQ(ImportStrToFloat("2,5", 9), 9);
  EXPECT_DOUBLE_EQ(ImportStrToFloat("", 9), 9);
  EXPECT_DOUBLE_EQ(ImportStrToFloat("   ", 9), 9);
  EXPECT_DOUBLE_EQ(ImportStrToFloat("2.5x", 9), 9);
  SystemFormats comma;
  comma.DecimalSeparator = ',';
  SetSystemFormats(comma);
  EXPECT_DOUBLE_EQ(ImportStrToFloat("2,5", 9), 2.5);
  EXPECT_DOUBLE_EQ(ImportStrToFloat("2.5", 9), 2.5);
  SetSystemFormats(SystemFormats());
}

TEST(ImportStrToFloatTest, PlainDecimalsGiveExactlyWhatTheSystemConversionGives) {
  for (char separator : {'.', ','}) {
    SystemFormats formats;
    formats.DecimalSeparator = separator;
    SetSystemFormats(formats);
    uint64_t seed = 12345;
    for (int i = 0; i < 20000; ++i) {
      seed = seed * 6364136223846793005u + 1442695040888963407u;
      const int digits = 1 + static_cast<int>((seed >> 33) % 15);
      const int fraction = static_cast<int>((seed >> 40) % (digits + 1));
      std::string text = std::to_string((seed >> 3) % 1000000000000000u);
      text = text.substr(0, std::min<size_t>(digits, text.size()));
      if (fraction > 0 && fraction < static_cast<int>(text.size()))
        text.insert(text.size() - fraction, 1, separator);
      if (seed & 1)
        text.insert(0, "-");
      double expected = 0;
      ASSERT_TRUE(TryStrToFloat(text, &expected)) << text;
      EXPECT_EQ(ImportStrToFloat(text, -1), expected) << text;
    }
  }
  SetSystemFormats(SystemFormats());
}

TEST(ImportFieldSeparatorTest, FirstCharacterOrComma) {
  EXPECT_EQ(ImportFieldSeparator(""), ',');
  EXPECT_EQ(ImportFieldSeparator(";"), ';');
  EXPECT_EQ(ImportFieldSeparator("|x"), '|');
}

// ---------------------------------------------------------------------------
// The line parser against a recording driver.

class PLULineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSystemFormats(SystemFormats());
    settings.ImportEncodingWindows = true;
    settings.ImportSimpleSeparator = ",";
  }
  void TearDown() override { SetSystemFormats(SystemFormats()); }

  void Place(int field, int pos) { settings.FieldsConfig[field].Pos = pos; }
  void PlaceFixed(int field, int home, int end, int pos) {
    settings.FieldsConfig[field].PosHome = home;
    settings.FieldsConfig[field].PosEnd = end;
    settings.FieldsConfig[field].Pos = pos;
  }
  void Default(int field, const std::string& value) { settings.FieldsConfig[field].DefVal = value; }

  // Number, Name and Price in fields 1, 2, 3 (delimited).
  void PlaceBasic() {
    Place(kFieldNumber, 1);
    Place(kFieldName, 2);
    Place(kFieldPrice, 3);
  }

  PLULineParser& Parser() {
    if (!parser_) {
      parser_ = std::make_unique<PLULineParser>(
          settings, driver_, plus, messages,
          [this](const std::string& text, int level) { logs.emplace_back(text, level); });
    }
    return *parser_;
  }

  bool Delimited(std::string_view line) {
    const bool taken = Parser().ParseDelimitedLine(line);
    return Parser().DropInvalidLastPLU() ? false : taken;
  }
  bool Fixed(std::string_view line) {
    const bool taken = Parser().ParseFixedLine(line);
    return Parser().DropInvalidLastPLU() ? false : taken;
  }

  // Fills `FieldList` from texts and maps them.
  void Fill(const Fields& texts) {
    FieldList fields;
    for (const std::string& t : texts)
      fields.Add(t);
    Parser().FillPLUFromFields(fields);
  }

  std::vector<std::string> MessageLines(size_t index) const {
    std::vector<std::string> out;
    for (int k = 1; k <= MMessage::kLineCount; ++k)
      out.emplace_back(messages.at(index).Line(k));
    return out;
  }

  std::vector<std::string> DriverGets() {
    std::vector<std::string> out;
    for (const std::string& call : driverLog->CallStrings()) {
      if (call.rfind("get ", 0) == 0)
        out.push_back(call.substr(4));
    }
    return out;
  }

  MSettingsValues settings;
  std::shared_ptr<FakeAutomationLog> driverLog = std::make_shared<FakeAutomationLog>();
  std::vector<MPLUData> plus;
  MMessages messages;
  std::vector<std::pair<std::string, int>> logs;

 private:
  FakeAutomationObject driver_{driverLog};
  std::unique_ptr<PLULineParser> parser_;
};

// Line text with `text` starting at 1-based `column`, blanks before it.
std::string At(std::string line, int column, const std::string& text) {
  if (line.size() < static_cast<size_t>(column - 1 + text.size()))
    line.resize(column - 1 + text.size(), ' ');
  line.replace(column - 1, text.size(), text);
  return line;
}

// --- Delimited plain layout -------------------------------------------------

TEST_F(PLULineTest, DelimitedLineNeedsTwoFields) {
  PlaceBasic();
  EXPECT_FALSE(Delimited("12345"));
  EXPECT_FALSE(Delimited(""));
  EXPECT_TRUE(plus.empty());
  EXPECT_TRUE(Delimited("1,Milk,2.5"));
  ASSERT_EQ(plus.size(), 1u);
  EXPECT_EQ(plus[0].Number, 1);
  EXPECT_EQ(plus[0].Name, "Milk");
  EXPECT_DOUBLE_EQ(plus[0].Price, 2.5);
}

TEST_F(PLULineTest, PLUWithoutNumberNameOrPriceIsDroppedAsBadLine) {
  PlaceBasic();
  EXPECT_FALSE(Delimited("0,Milk,2.5"));
  EXPECT_FALSE(Delimited("7,,2.5"));
  EXPECT_FALSE(Delimited("7,Milk,0"));
  EXPECT_FALSE(Delimited("7,Milk"));  // price keeps its default 0
  EXPECT_FALSE(Delimited("x,Milk,1"));
  EXPECT_TRUE(plus.empty());
}

TEST_F(PLULineTest, AllMembersConvertByTheirTable) {
  const int fields[] = {kFieldNumber,      kFieldName,           kFieldCode,     kFieldBarCodeType,
                        kFieldPrice,       kFieldWeightUnit,     kFieldDep,      kFieldTare,
                        kFieldShlefTime,   kFieldProductionDate, kFieldLabel,    kFieldRebate,
                        kFieldPackageType, kFieldPackageWeight,  kFieldTolerance};
  for (int i = 0; i < 15; ++i)
    Place(fields[i], i + 1);
  ASSERT_TRUE(Delimited("101,Cheese,2000101,22,12.75,4,3,0.015,-5,07.12.2026,2,10,1,500,25"));
  const MPLUData& p = plus.at(0);
  EXPECT_EQ(p.Number, 101);
  EXPECT_EQ(p.Name, "Cheese");
  EXPECT_EQ(p.AddCode, 2000101);
  EXPECT_EQ(p.BarCodeType, 22);
  EXPECT_DOUBLE_EQ(p.Price, 12.75);
  EXPECT_EQ(p.WeightUnit, 4);
  EXPECT_EQ(p.Dep, 3);
  EXPECT_DOUBLE_EQ(p.Tare, 0.015);
  EXPECT_EQ(p.ShlefTime, -5);
  EXPECT_EQ(p.ProductionDate, DateTime::FromParts({2026, 12, 7}));
  EXPECT_EQ(p.Label, 2);
  EXPECT_EQ(p.Rebate, 10);
  EXPECT_EQ(p.PackageType, 1);
  EXPECT_DOUBLE_EQ(p.PackageWeight, 500.0);
  EXPECT_EQ(p.Tolerance, 25);
}

TEST_F(PLULineTest, FieldThatDoesNotConvertKeepsItsDefault) {
  PlaceBasic();
  Place(kFieldDep, 4);
  Place(kFieldTare, 5);
  Place(kFieldPackageWeight, 6);
  driverLog->Set("PLU_Dep_Def", 9);
  driverLog->Set("PLU_Tare_Def", 0.25);
  driverLog->Set("PLU_PackageWeight_Def", 100.0);
  ASSERT_TRUE(Delimited("1,Milk,2.5,3 ,abc,1.5"));
  EXPECT_EQ(plus[0].Dep, 9);  // trailing blank
  EXPECT_DOUBLE_EQ(plus[0].Tare, 0.25);
  EXPECT_DOUBLE_EQ(plus[0].PackageWeight, 100.0);  // an integer field
}

TEST_F(PLULineTest, FieldsBeyondTheLineKeepTheirDefaults) {
  PlaceBasic();
  Place(kFieldDep, 9);
  driverLog->Set("PLU_Dep_Def", 4);
  ASSERT_TRUE(Delimited("1,Milk,2.5"));
  EXPECT_EQ(plus[0].Dep, 4);
}

TEST_F(PLULineTest, IcePercentIsNeverReadFromALine) {
  PlaceBasic();
  Place(kFieldIcePercent, 4);
  driverLog->Set("PLU_IcePercent_Def", 3.0);
  ASSERT_TRUE(Delimited("1,Milk,2.5,40"));
  EXPECT_DOUBLE_EQ(plus[0].IcePercent, 3.0);
}

TEST_F(PLULineTest, DecimalWithCommaKeepsDefaultOnPointSystem) {
  PlaceBasic();
  Place(kFieldTare, 4);
  driverLog->Set("PLU_Tare_Def", 0.5);
  ASSERT_TRUE(Delimited("1,Milk,2.5,\"0,125\""));
  EXPECT_DOUBLE_EQ(plus[0].Tare, 0.5);
}

TEST_F(PLULineTest, DecimalWithPointParsesOnCommaSystem) {
  SystemFormats formats;
  formats.DecimalSeparator = ',';
  SetSystemFormats(formats);
  PlaceBasic();
  Place(kFieldTare, 4);
  settings.ImportSimpleSeparator = ";";
  ASSERT_TRUE(Delimited("1;Milk;2.5;0,125"));
  EXPECT_DOUBLE_EQ(plus[0].Price, 2.5);
  EXPECT_DOUBLE_EQ(plus[0].Tare, 0.125);
}

TEST_F(PLULineTest, DateFollowsTheSystemShortDateFormat) {
  PlaceBasic();
  Place(kFieldProductionDate, 4);
  driverLog->Set("PLU_ProductionDate_Def", 45000);  // never read: no such default
  ASSERT_TRUE(Delimited("1,Milk,2.5,31.01.2027"));
  EXPECT_EQ(plus[0].ProductionDate, DateTime::FromParts({2027, 1, 31}));
  ASSERT_TRUE(Delimited("2,Milk,2.5,2027-01-31"));
  EXPECT_TRUE(plus[1].ProductionDate.IsZero());

  SystemFormats formats;
  formats.ShortDateFormat = "yyyy-mm-dd";
  formats.DateSeparator = '-';
  SetSystemFormats(formats);
  ASSERT_TRUE(Delimited("3,Milk,2.5,2027-01-31"));
  EXPECT_EQ(plus[2].ProductionDate, DateTime::FromParts({2027, 1, 31}));
}

TEST_F(PLULineTest, BadDateReplacesTheDefaultDateByNone) {
  PlaceBasic();
  Place(kFieldProductionDate, 4);
  Default(kFieldProductionDate, "46000");
  ASSERT_TRUE(Delimited("1,Milk,2.5"));
  EXPECT_DOUBLE_EQ(plus[0].ProductionDate.Days(), 46000.0);
  ASSERT_TRUE(Delimited("2,Milk,2.5,not a date"));
  EXPECT_TRUE(plus[1].ProductionDate.IsZero());
}

TEST_F(PLULineTest, MessageFieldsMakeOneMessagePerPLU) {
  PlaceBasic();
  Place(kFieldMessageString1, 4);
  Place(kFieldMessageString1 + 2, 5);   // line 3
  Place(kFieldMessageString1 + 15, 9);  // line 16, beyond the lines below
  ASSERT_TRUE(Delimited("1,Milk,2.5,Fresh,\"Keep cold, 4 C\""));
  ASSERT_TRUE(Delimited("2,Kefir,1.5,,"));
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(plus[0].Message, 0);
  EXPECT_EQ(plus[1].Message, 1);
  std::vector<std::string> expected(16);
  expected[0] = "Fresh";
  expected[2] = "Keep cold, 4 C";
  EXPECT_EQ(MessageLines(0), expected);
  EXPECT_EQ(MessageLines(1), std::vector<std::string>(16));  // empty lines are set too
}

TEST_F(PLULineTest, NoMessageWhenNoMessageFieldIsWithinTheLine) {
  PlaceBasic();
  Place(kFieldMessageString1, 5);
  driverLog->Set("PLU_Message_Def", 7);
  ASSERT_TRUE(Delimited("1,Milk,2.5"));
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(plus[0].Message, 7);
}

TEST_F(PLULineTest, MessageOfDroppedPLUStays) {
  PlaceBasic();
  Place(kFieldMessageString1, 4);
  EXPECT_FALSE(Delimited("0,Milk,2.5,orphan"));
  EXPECT_TRUE(plus.empty());
  ASSERT_EQ(messages.size(), 1u);
  ASSERT_TRUE(Delimited("2,Milk,2.5,kept"));
  EXPECT_EQ(plus[0].Message, 1);
}

// --- Delimited record-marker layout (ImportExtraFormat 2) --------------------

class MarkerLayoutTest : public PLULineTest {
 protected:
  void SetUp() override {
    PLULineTest::SetUp();
    settings.ImportExtraFormat = 2;
    // A;number;name;price;code;pieces;100g;dep;shelf time
    settings.ImportSimpleSeparator = ";";
    Place(kFieldNumber, 2);
    Place(kFieldName, 3);
    Place(kFieldPrice, 4);
    Place(kFieldCode, 5);
    Place(kFieldDep, 8);
    Place(kFieldShlefTime, 9);
  }
};

TEST_F(MarkerLayoutTest, LineNeedsAMarkerAndThreeFields) {
  EXPECT_FALSE(Delimited(";1;Milk;2.5"));
  EXPECT_FALSE(Delimited("A;1"));
  EXPECT_FALSE(Delimited("X;1;Milk;2.5"));
  EXPECT_TRUE(Delimited("a;1;Milk;2.5"));
  EXPECT_TRUE(Delimited("Article;2;Milk;2.5"));
  EXPECT_EQ(plus.size(), 2u);
}

TEST_F(MarkerLayoutTest, WeightUnitFromPiecesAndHundredGramFlags) {
  ASSERT_TRUE(Delimited("A;1;Milk;2.5;;1;1"));
  EXPECT_EQ(plus.back().WeightUnit, 10);
  ASSERT_TRUE(Delimited("A;2;Milk;2.5;;0;1"));
  EXPECT_EQ(plus.back().WeightUnit, 3);
  ASSERT_TRUE(Delimited("A;3;Milk;2.5;;0;0"));
  EXPECT_EQ(plus.back().WeightUnit, 4);
  ASSERT_TRUE(Delimited("A;4;Milk;2.5;;0"));
  EXPECT_EQ(plus.back().WeightUnit, 4);
  ASSERT_TRUE(Delimited("A;5;Milk;2.5;;x;2"));
  EXPECT_EQ(plus.back().WeightUnit, 3);
  // Fewer than six fields: the default stays.
  driverLog->Set("PLU_WeightUnit_Def", 1);
  ASSERT_TRUE(Delimited("A;6;Milk;2.5;"));
  EXPECT_EQ(plus.back().WeightUnit, 1);
}

TEST_F(MarkerLayoutTest, CodeLosesItsPrefixAndDepIsTwoCharacters) {
  Place(kFieldBarCodeType, 7);
  driverLog->Set("PLU_AddCode_Def", 5);
  driverLog->Set("PLU_Dep_Def", 6);
  driverLog->Set("PLU_BarCodeType_Def", 20);
  ASSERT_TRUE(Delimited("A;1;Milk;2.5;21123;0;0;123"));
  EXPECT_EQ(plus.back().AddCode, 123);
  EXPECT_EQ(plus.back().Dep, 12);
  EXPECT_EQ(plus.back().BarCodeType, 20);  // never read in this layout
  ASSERT_TRUE(Delimited("A;2;Milk;2.5;21;0;0;7"));
  EXPECT_EQ(plus.back().AddCode, 5);
  EXPECT_EQ(plus.back().Dep, 6);
}

TEST_F(MarkerLayoutTest, ShelfTimeAboveFiveHundredIsNegative) {
  ASSERT_TRUE(Delimited("A;1;Milk;2.5;;0;0;;65535"));
  EXPECT_EQ(plus.back().ShlefTime, -1);
  ASSERT_TRUE(Delimited("A;2;Milk;2.5;;0;0;;500"));
  EXPECT_EQ(plus.back().ShlefTime, 500);
  // A default is not a complement: it stays when the field does not convert.
  driverLog->Set("PLU_ShlefTime_Def", 720);
  ASSERT_TRUE(Delimited("A;3;Milk;2.5;;0;0;;x"));
  EXPECT_EQ(plus.back().ShlefTime, 720);
}

TEST_F(MarkerLayoutTest, MessageFieldsAreNotRead) {
  Place(kFieldMessageString1, 3);
  ASSERT_TRUE(Delimited("A;1;Milk;2.5"));
  EXPECT_TRUE(messages.empty());
}

TEST_F(MarkerLayoutTest, IngredientLineBecomesMessageOfEarlierPLU) {
  ASSERT_TRUE(Delimited("A;10;Milk;2.5"));
  ASSERT_TRUE(Delimited("A;11;Kefir;1.5"));
  logs.clear();
  ASSERT_TRUE(Delimited("I;11;Milk;;Bacteria"));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(plus[1].Message, 0);
  EXPECT_EQ(MessageLines(0)[0], "Milk");
  EXPECT_EQ(MessageLines(0)[1], "Bacteria");
  EXPECT_EQ(MessageLines(0)[2], "");
  EXPECT_EQ(logs, (std::vector<std::pair<std::string, int>>{{"Load ingridient PLU 1", 0},
                                                            {"Ingridient0: Milk", 0},
                                                            {"Ingridient2: Bacteria", 0}}));
  // A later ingredient line replaces the reference.
  ASSERT_TRUE(Delimited("i;11;Water"));
  EXPECT_EQ(plus[1].Message, 1);
  EXPECT_EQ(plus.size(), 2u);
}

TEST_F(MarkerLayoutTest, IngredientLineOfUnknownOrLaterPLUIsBad) {
  EXPECT_FALSE(Delimited("I;10;Milk"));
  ASSERT_TRUE(Delimited("A;10;Milk;2.5"));
  EXPECT_FALSE(Delimited("I;0;Milk"));
  EXPECT_FALSE(Delimited("I;x;Milk"));
  EXPECT_FALSE(Delimited("I;11;Milk"));
  EXPECT_TRUE(messages.empty());
}

TEST_F(MarkerLayoutTest, IngredientLineFindsTheFirstPLUOfItsNumber) {
  driverLog->Set("PLU_Message_Def", -1);
  ASSERT_TRUE(Delimited("A;10;Milk;2.5"));
  ASSERT_TRUE(Delimited("A;10;Milk again;2.5"));
  ASSERT_TRUE(Delimited("I;10;Water"));
  EXPECT_EQ(plus[0].Message, 0);
  EXPECT_EQ(plus[1].Message, -1);
}

TEST_F(MarkerLayoutTest, DroppedPLUIsNotFoundByIngredientLine) {
  EXPECT_FALSE(Delimited("A;10;;2.5"));  // no name
  EXPECT_FALSE(Delimited("I;10;Water"));
  ASSERT_TRUE(Delimited("A;10;Milk;2.5"));
  ASSERT_TRUE(Delimited("I;10;Water"));
  EXPECT_EQ(plus[0].Message, 0);
}

TEST_F(MarkerLayoutTest, IngredientsBeyondSixteenLinesAreDropped) {
  ASSERT_TRUE(Delimited("A;10;Milk;2.5"));
  std::string line = "I;10";
  for (int i = 1; i <= 18; ++i)
    line += ";part" + std::to_string(i);
  logs.clear();
  ASSERT_TRUE(Delimited(line));
  EXPECT_EQ(MessageLines(0)[0], "part1");
  EXPECT_EQ(MessageLines(0)[15], "part16");
  int ingredientLines = 0;
  for (const auto& [text, level] : logs)
    ingredientLines += text.rfind("Ingridient", 0) == 0 ? 1 : 0;
  EXPECT_EQ(ingredientLines, 16);
  EXPECT_EQ(logs.back().second, 4);
  EXPECT_NE(logs.back().first.find("2 dropped"), std::string::npos);
}

// --- Fixed columns -----------------------------------------------------------

class FixedLineTest : public PLULineTest {
 protected:
  void SetUp() override {
    PLULineTest::SetUp();
    settings.ImportFileFixField = true;
    PlaceFixed(kFieldNumber, 1, 6, 1);
    PlaceFixed(kFieldName, 7, 20, 2);
    PlaceFixed(kFieldPrice, 21, 26, 3);
  }
};

TEST_F(FixedLineTest, ColumnsAreCutAndTrailingBlanksRemoved) {
  const std::string line = At(At(At("", 1, "   123"), 7, "Sour cream"), 21, "  4.20");
  ASSERT_TRUE(Fixed(line));
  EXPECT_EQ(plus[0].Number, 123);
  EXPECT_EQ(plus[0].Name, "Sour cream");
  EXPECT_DOUBLE_EQ(plus[0].Price, 4.2);
}

TEST_F(FixedLineTest, EmptyLineIsBad) {
  EXPECT_FALSE(Fixed(""));
}

TEST_F(FixedLineTest, FieldOutsideTheLineIsEmpty) {
  PlaceFixed(kFieldDep, 30, 31, 4);
  driverLog->Set("PLU_Dep_Def", 8);
  ASSERT_TRUE(Fixed(At(At(At("", 1, "1"), 7, "Milk"), 21, "1.5   ") + "   3"));
  EXPECT_EQ(plus[0].Dep, 8);  // column 31 is beyond the line
  ASSERT_TRUE(Fixed(At(At(At("", 1, "1"), 7, "Milk"), 21, "1.5   ") + "   32"));
  EXPECT_EQ(plus[1].Dep, 32);
}

TEST_F(FixedLineTest, LeftAlignedNumberIsTrimmedBeforeItConverts) {
  ASSERT_TRUE(Fixed(At(At("1     ", 7, "Milk"), 21, "1.5   ")));
  EXPECT_EQ(plus[0].Number, 1);
}

TEST_F(FixedLineTest, SlotsFollowPosAndLaterFieldsOverwrite) {
  PlaceFixed(kFieldDep, 27, 28, 3);    // same slot as the price, later field
  PlaceFixed(kFieldLabel, 27, 28, 0);  // not stored
  driverLog->Set("PLU_Label_Def", 4);
  ASSERT_TRUE(Fixed(At(At(At("", 1, "1"), 7, "Milk"), 21, "9.99  ") + "12"));
  EXPECT_DOUBLE_EQ(plus[0].Price, 12.0);
  EXPECT_EQ(plus[0].Label, 4);
}

TEST_F(FixedLineTest, ReversedColumnsGiveEmptyText) {
  PlaceFixed(kFieldName, 20, 7, 2);
  Default(kFieldName, "Default");
  EXPECT_FALSE(Fixed(At(At("", 1, "1"), 21, "1.5")));  // the empty slot replaces the default
}

TEST_F(FixedLineTest, MessageFieldsOfThePlainLayout) {
  PlaceFixed(kFieldMessageString1, 27, 30, 17);
  ASSERT_TRUE(Fixed(At(At(At("", 1, "1"), 7, "Milk"), 21, "1.5   ") + "Cold"));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(MessageLines(0)[0], "Cold");
}

class FixedMarkerTest : public PLULineTest {
 protected:
  // A, number 2-7, shelf time 8-10, name 11-28, price 29-34, an unused
  // column 35-36, pieces flag 37, 100 g flag 38, one more column.
  void SetUp() override {
    PLULineTest::SetUp();
    settings.ImportFileFixField = true;
    settings.ImportExtraFormat = 1;
    PlaceFixed(kFieldNumber, 2, 7, 1);
    PlaceFixed(kFieldShlefTime, 8, 10, 2);
    PlaceFixed(kFieldName, 11, 28, 3);
    PlaceFixed(kFieldPrice, 29, 34, 4);
  }

  static std::string Article(const std::string& number, const std::string& shelf,
                             const std::string& name, const std::string& price,
                             const std::string& flags = "00X") {
    return At(At(At(At(At("A", 2, number), 8, shelf), 11, name), 29, price), 37, flags);
  }
};

TEST_F(FixedMarkerTest, MarkersSelectArticleIngredientOrBad) {
  EXPECT_TRUE(Fixed(Article("   123", "365", "Milk", "2.50")));
  std::string lower = Article("   124", "365", "Milk", "2.50");
  lower[0] = 'a';
  EXPECT_TRUE(Fixed(lower));
  std::string other = Article("   125", "365", "Milk", "2.50");
  other[0] = 'B';
  EXPECT_FALSE(Fixed(other));
  EXPECT_EQ(plus.size(), 2u);
  EXPECT_EQ(plus[0].ShlefTime, 365);
  EXPECT_EQ(plus[0].Name, "Milk");
}

TEST_F(FixedMarkerTest, WeightUnitFromColumns37And38) {
  ASSERT_TRUE(Fixed(Article("1", "10", "Milk", "1", "00X")));
  EXPECT_EQ(plus.back().WeightUnit, 4);
  ASSERT_TRUE(Fixed(Article("2", "10", "Milk", "1", "01X")));
  EXPECT_EQ(plus.back().WeightUnit, 3);
  ASSERT_TRUE(Fixed(Article("3", "10", "Milk", "1", "10X")));
  EXPECT_EQ(plus.back().WeightUnit, 10);
  ASSERT_TRUE(Fixed(Article("4", "10", "Milk", "1", "11X")));
  EXPECT_EQ(plus.back().WeightUnit, 9);
  // Shorter than 39 columns: the default stays.
  driverLog->Set("PLU_WeightUnit_Def", 2);
  ASSERT_TRUE(Fixed(Article("5", "10", "Milk", "1", "11")));
  EXPECT_EQ(plus.back().WeightUnit, 2);
}

TEST_F(FixedMarkerTest, FiveColumnShelfTimeIsNegativeAndShiftsTheName) {
  // 655 with 35 behind it: 65535, that is -1; the name stands two columns
  // further right.
  const std::string line =
      At(At(At(At("A", 2, "     7"), 8, "65535"), 13, "Fish"), 29, "  9.90") + "  00X";
  ASSERT_TRUE(Fixed(line));
  EXPECT_EQ(plus[0].ShlefTime, -1);
  EXPECT_EQ(plus[0].Name, "Fish");
  EXPECT_DOUBLE_EQ(plus[0].Price, 9.9);
}

TEST_F(FixedMarkerTest, ShiftedNameTakesOnlyItsOwnColumns) {
  PlaceFixed(kFieldName, 11, 16, 3);
  PlaceFixed(kFieldDep, 19, 20, 5);
  const std::string line = At(At(At(At("A", 2, "7"), 8, "65534"), 13, "Fish  77"), 29, "9.90");
  ASSERT_TRUE(Fixed(At(line, 37, "00X")));
  EXPECT_EQ(plus[0].ShlefTime, -2);
  EXPECT_EQ(plus[0].Name, "Fish");
}

TEST_F(FixedMarkerTest, ShelfTimeUpToFiveHundredStays) {
  ASSERT_TRUE(Fixed(Article("7", "500", "Milk", "1")));
  EXPECT_EQ(plus[0].ShlefTime, 500);
}

TEST_F(FixedMarkerTest, IngredientLineSplitsAtCode3) {
  ASSERT_TRUE(Fixed(Article("   123", "10", "Milk", "1")));
  const std::string line =
      At("I", 2, std::string(12, ' ') + "123") + "Milk  \x03\x03Vitamin D \x03   \x03Salt";
  logs.clear();
  ASSERT_TRUE(Fixed(line));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(plus[0].Message, 0);
  std::vector<std::string> expected(16);
  expected[0] = "Milk";
  expected[1] = "Vitamin D";
  expected[2] = "Salt";
  EXPECT_EQ(MessageLines(0), expected);
  EXPECT_EQ(logs, (std::vector<std::pair<std::string, int>>{{"Load ingridient PLU 0", 0},
                                                            {"Ingridient0: Milk", 0},
                                                            {"Ingridient1: Vitamin D", 0},
                                                            {"Ingridient3: Salt", 0}}));
}

TEST_F(FixedMarkerTest, IngredientLineFillsAtMostFifteenLines) {
  ASSERT_TRUE(Fixed(Article("   123", "10", "Milk", "1")));
  std::string text;
  for (int i = 1; i <= 17; ++i)
    text += "w" + std::to_string(i) + "\x03";
  ASSERT_TRUE(Fixed(At("I", 2, std::string(12, ' ') + "123") + text));
  EXPECT_EQ(MessageLines(0)[14], "w15");
  EXPECT_EQ(MessageLines(0)[15], "");
}

TEST_F(FixedMarkerTest, BadIngredientLines) {
  ASSERT_TRUE(Fixed(Article("   123", "10", "Milk", "1")));
  EXPECT_FALSE(Fixed("I" + std::string(12, ' ') + "123"));   // shorter than 17
  EXPECT_FALSE(Fixed("I123" + std::string(12, ' ') + "x"));  // trailing blanks
  EXPECT_FALSE(Fixed("I" + std::string(12, ' ') + "124x"));  // unknown PLU
  EXPECT_FALSE(Fixed("I" + std::string(14, ' ') + "0x"));
  EXPECT_TRUE(messages.empty());
}

// --- Defaults ----------------------------------------------------------------

TEST_F(PLULineTest, DefaultsAreReadFromTheDriverInOrderForEveryPLU) {
  driverLog->Set("PLU_Name_Def", "Default name");
  driverLog->Set("PLU_Number_Def", 5);
  driverLog->Set("PLU_Price_Def", 1.25);
  driverLog->Set("PLU_Message_Def", 3);
  const std::vector<std::string> expected = {
      "PLU_Name_Def",          "PLU_Number_Def",      "PLU_AddCode_Def",   "PLU_BarCodeType_Def",
      "PLU_Price_Def",         "PLU_WeightUnit_Def",  "PLU_Dep_Def",       "PLU_Tare_Def",
      "PLU_ShlefTime_Def",     "PLU_Message_Def",     "PLU_Label_Def",     "PLU_Rebate_Def",
      "PLU_PackageWeight_Def", "PLU_PackageType_Def", "PLU_Tolerance_Def", "PLU_IcePercent_Def"};
  Fill({});
  EXPECT_EQ(DriverGets(), expected);
  EXPECT_EQ(plus[0].Name, "Default name");
  EXPECT_EQ(plus[0].Number, 5);
  EXPECT_DOUBLE_EQ(plus[0].Price, 1.25);
  EXPECT_EQ(plus[0].Message, 3);
  EXPECT_TRUE(plus[0].ProductionDate.IsZero());

  // Read again for the next PLU: a changed driver default shows.
  driverLog->Set("PLU_Number_Def", 6);
  Fill({});
  EXPECT_EQ(DriverGets().size(), 2 * expected.size());
  EXPECT_EQ(plus[1].Number, 6);
}

TEST_F(PLULineTest, DefValComesFirstWithTheDriverValueAsFallback) {
  driverLog->Set("PLU_Name_Def", "Driver name");
  driverLog->Set("PLU_Dep_Def", 2);
  driverLog->Set("PLU_Label_Def", 3);
  driverLog->Set("PLU_Tare_Def", 0.5);
  driverLog->Set("PLU_PackageWeight_Def", 10.0);
  driverLog->Set("PLU_IcePercent_Def", 1.5);
  driverLog->Set("PLU_Message_Def", 4);
  Default(kFieldName, "From settings");
  Default(kFieldDep, "7");
  Default(kFieldLabel, "seven");  // does not convert: the driver value
  Default(kFieldTare, "0.125");
  Default(kFieldPackageWeight, "2.5");  // a decimal here
  Default(kFieldIcePercent, "4");
  Default(kFieldProductionDate, "46000");
  Fill({});
  const MPLUData& p = plus.at(0);
  EXPECT_EQ(p.Name, "From settings");
  EXPECT_EQ(p.Dep, 7);
  EXPECT_EQ(p.Label, 3);
  EXPECT_DOUBLE_EQ(p.Tare, 0.125);
  EXPECT_DOUBLE_EQ(p.PackageWeight, 2.5);
  EXPECT_DOUBLE_EQ(p.IcePercent, 4.0);
  EXPECT_EQ(p.Message, 4);
  EXPECT_DOUBLE_EQ(p.ProductionDate.Days(), 46000.0);
  // The name default does not read the driver; the others read it anyway.
  const std::vector<std::string> gets = DriverGets();
  EXPECT_EQ(gets.front(), "PLU_Number_Def");
  EXPECT_EQ(gets.size(), 15u);
}

TEST_F(PLULineTest, IcePercentDefValIsAnInteger) {
  driverLog->Set("PLU_IcePercent_Def", 1.5);
  Default(kFieldIcePercent, "2.5");
  Fill({});
  EXPECT_DOUBLE_EQ(plus[0].IcePercent, 1.5);
}

TEST_F(PLULineTest, ProductionDateDefValThatIsNoDayNumberIsNone) {
  Default(kFieldProductionDate, "07.12.2026");
  Fill({});
  EXPECT_TRUE(plus[0].ProductionDate.IsZero());
}

TEST_F(PLULineTest, FailingDriverRaises) {
  driverLog->failing.insert("PLU_Tare_Def");
  EXPECT_THROW(Fill({}), AutomationError);
}

// ---------------------------------------------------------------------------
// The whole load step.

class LoadPLUFileTest : public PLULineTest {
 protected:
  void SetUp() override {
    PLULineTest::SetUp();
    driverLog->Set("IPAddress", "10.0.0.5");
    PlaceBasic();
    context.Driver = &driver;
    context.DataFileName = dir.File("base.dat");
    context.Operation = kCmdSetPLU;
    context.PLUList = &plus;
    context.MessageList = &messages;
    context.FieldSeparator = &separator;
    context.AddLog = [this](const std::string& text, int level) { logs.emplace_back(text, level); };
    context.SetScaleState = [this](int32_t state) { states.push_back(state); };
    context.Terminated = [] { return false; };
  }

  bool Load(const std::string& contents) {
    dir.Write("base.dat", contents);
    return LoadPLUFile(context, settings);
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& [text, level] : logs)
      out.push_back(text);
    return out;
  }

  int LevelOf(const std::string& text) const {
    for (const auto& [t, level] : logs) {
      if (t == text)
        return level;
    }
    return -1;
  }

  TempDir dir;
  FakeAutomationObject driver{driverLog};
  PLUStepContext context;
  char separator = 0;
  std::vector<int32_t> states;
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
  logs.clear();
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
  for (const auto& [text, level] : logs) {
    if (text == "<10.0.0.5> Encoding from DOS. ") {
      ++dosLines;
      EXPECT_EQ(level, 1);
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
