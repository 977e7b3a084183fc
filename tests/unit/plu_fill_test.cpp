// The PLU line parser against a recording driver: the plain and the
// record-marker layouts, delimited and fixed, the field mapping and the
// defaults of a new PLU.

#include "query/plu_fill.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/textnames.h"
#include "platform/system_formats.h"
#include "support/plu_line_fixture.h"

namespace tarvo {
namespace {

using testing::PLULineTest;

using Fields = std::vector<std::string>;

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
                        kFieldShelfTime,   kFieldProductionDate, kFieldLabel,    kFieldRebate,
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
    Place(kFieldShelfTime, 9);
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
  ClearLines();
  ASSERT_TRUE(Delimited("I;11;Milk;;Bacteria"));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(plus[1].Message, 0);
  EXPECT_EQ(MessageLines(0)[0], "Milk");
  EXPECT_EQ(MessageLines(0)[1], "Bacteria");
  EXPECT_EQ(MessageLines(0)[2], "");
  EXPECT_EQ(Lines(), (std::vector<testing::LoggedLine>{{"Load ingridient PLU 1", 0},
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
  ClearLines();
  ASSERT_TRUE(Delimited(line));
  EXPECT_EQ(MessageLines(0)[0], "part1");
  EXPECT_EQ(MessageLines(0)[15], "part16");
  int ingredientLines = 0;
  const std::vector<testing::LoggedLine> logs = Lines();
  for (const auto& [text, level, thread] : logs)
    ingredientLines += text.rfind("Ingridient", 0) == 0 ? 1 : 0;
  EXPECT_EQ(ingredientLines, 16);
  EXPECT_EQ(logs.back().level, 4);
  EXPECT_NE(logs.back().text.find("2 dropped"), std::string::npos);
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
    PlaceFixed(kFieldShelfTime, 8, 10, 2);
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
  ClearLines();
  ASSERT_TRUE(Fixed(line));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(plus[0].Message, 0);
  std::vector<std::string> expected(16);
  expected[0] = "Milk";
  expected[1] = "Vitamin D";
  expected[2] = "Salt";
  EXPECT_EQ(MessageLines(0), expected);
  EXPECT_EQ(Lines(), (std::vector<testing::LoggedLine>{{"Load ingridient PLU 0", 0},
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

}  // namespace
}  // namespace tarvo
