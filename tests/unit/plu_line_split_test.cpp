// The delimited splitter, the line splitter and counter, and the field
// separator of delimited files.

#include "query/plu_line_split.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace tarvo {
namespace {

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

TEST(ImportFieldSeparatorTest, FirstCharacterOrComma) {
  EXPECT_EQ(ImportFieldSeparator(""), ',');
  EXPECT_EQ(ImportFieldSeparator(";"), ';');
  EXPECT_EQ(ImportFieldSeparator("|x"), '|');
}

}  // namespace
}  // namespace tarvo
