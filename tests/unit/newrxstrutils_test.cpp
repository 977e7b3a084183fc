#include "common/newrxstrutils.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tarvo {
namespace {

const CharSet kBlank{' '};
const CharSet kComma{','};

TEST(CharSetTest, HoldsExactlyItsCodes) {
  CharSet set(std::string("a,\xC0"));
  EXPECT_TRUE(set.Contains('a'));
  EXPECT_TRUE(set.Contains(','));
  EXPECT_TRUE(set.Contains('\xC0'));
  EXPECT_FALSE(set.Contains('A'));
  EXPECT_FALSE(set.Contains('\0'));
  CharSet codes{3};
  EXPECT_TRUE(codes.Contains('\x03'));
  EXPECT_FALSE(codes.Contains('3'));
}

TEST(FindPartTest, PlainAndQuestionMarks) {
  EXPECT_EQ(3, FindPart("cd", "abcdcd"));
  EXPECT_EQ(0, FindPart("xy", "abcd"));
  EXPECT_EQ(0, FindPart("", "abcd"));
  EXPECT_EQ(2, FindPart("b?d", "abxdbcd"));
  EXPECT_EQ(1, FindPart("????", "abcd"));
  EXPECT_EQ(0, FindPart("?????", "abcd"));
  EXPECT_EQ(4, FindPart("d?", "abcdx"));
  EXPECT_EQ(0, FindPart("d?", "abcd"));  // would run past the end
}

TEST(IsWildTest, StarAlone) {
  EXPECT_TRUE(IsWild("anything", "*", false));
  EXPECT_TRUE(IsWild("", "*", false));
  EXPECT_TRUE(IsWild("", "***", false));
  EXPECT_TRUE(IsWild("", "", false));
  EXPECT_FALSE(IsWild("", "?", false));
  EXPECT_FALSE(IsWild("a", "", false));
}

TEST(IsWildTest, LetterCase) {
  EXPECT_FALSE(IsWild("quit", "QUIT", false));
  EXPECT_TRUE(IsWild("quit", "QUIT", true));
  EXPECT_TRUE(IsWild("Field1_Pos", "FIELD*", true));
  EXPECT_FALSE(IsWild("Field1_Pos", "FIELD*", false));
  // Cyrillic letters in Windows-1251: "абв" against "АБВ".
  EXPECT_TRUE(IsWild("\xE0\xE1\xE2", "\xC0\xC1\xC2", true));
  EXPECT_FALSE(IsWild("\xE0\xE1\xE2", "\xC0\xC1\xC2", false));
}

TEST(IsWildTest, PrefixAndSuffix) {
  EXPECT_TRUE(IsWild("ab", "ab*", false));
  EXPECT_TRUE(IsWild("abxyz", "ab*", false));
  EXPECT_FALSE(IsWild("xab", "ab*", false));
  EXPECT_FALSE(IsWild("a", "ab*", false));  // too short to begin with ab
  EXPECT_TRUE(IsWild("cd", "*cd", false));
  EXPECT_TRUE(IsWild("xyzcd", "*cd", false));
  EXPECT_FALSE(IsWild("xyzcdx", "*cd", false));
  EXPECT_FALSE(IsWild("d", "*cd", false));
  EXPECT_TRUE(IsWild("xcd", "*?d", false));
}

TEST(IsWildTest, SeveralStarsAndQuestionMarks) {
  EXPECT_TRUE(IsWild("abcde", "a*c*e", false));
  EXPECT_TRUE(IsWild("axxcyye", "a*c*e", false));
  EXPECT_FALSE(IsWild("axxcyy", "a*c*e", false));
  EXPECT_FALSE(IsWild("axxbyye", "a*c*e", false));
  EXPECT_TRUE(IsWild("ae", "a**e", false));
  EXPECT_TRUE(IsWild("a1b2c3", "a?b*c?", false));
  EXPECT_FALSE(IsWild("a1b2c", "a?b*c?", false));
  EXPECT_TRUE(IsWild("xaybzc", "*a?b*c", false));
  EXPECT_TRUE(IsWild("cxaxc", "c*a*c", false));
  // Each middle piece is searched after the text already matched: one "b"
  // cannot serve two pieces.
  EXPECT_FALSE(IsWild("axxb", "a*b*b*", false));
  EXPECT_TRUE(IsWild("axxbb", "a*b*b*", false));
  EXPECT_FALSE(IsWild("cac", "ca*a*c", false));
  EXPECT_TRUE(IsWild("x.txt.bak", "*.txt*", false));
  EXPECT_TRUE(IsWild("abc", "*b*", false));
  EXPECT_FALSE(IsWild("ac", "*b*", false));
}

TEST(IsWildTest, PiecesNeverOverlap) {
  // The last piece must not reuse characters matched before the star.
  EXPECT_FALSE(IsWild("aba", "ab*ba", false));
  EXPECT_TRUE(IsWild("abba", "ab*ba", false));
  // A pattern that outlives the input matches only when the rest is stars.
  EXPECT_FALSE(IsWild("a", "a*b*", false));
  EXPECT_TRUE(IsWild("ab", "a*b*", false));
  EXPECT_FALSE(IsWild("ab", "a*b*c", false));
}

TEST(IsWildTest, StarInTheInputIsStillAWildcardInThePattern) {
  EXPECT_TRUE(IsWild("a*bc", "a*c", false));
  EXPECT_TRUE(IsWild("a*", "a*", false));
}

TEST(WordTest, RunsOfDelimitersGiveNoEmptyWords) {
  const std::string s = "  ab   cd";
  EXPECT_EQ("ab", ExtractWord(1, s, kBlank));
  EXPECT_EQ("cd", ExtractWord(2, s, kBlank));
  EXPECT_EQ("", ExtractWord(3, s, kBlank));
  EXPECT_EQ("", ExtractWord(0, s, kBlank));
  EXPECT_EQ(3, WordPosition(1, s, kBlank));
  EXPECT_EQ(8, WordPosition(2, s, kBlank));
  EXPECT_EQ(0, WordPosition(3, s, kBlank));
  EXPECT_EQ(0, WordPosition(-1, s, kBlank));
  EXPECT_EQ("", ExtractWord(1, "   ", kBlank));
  EXPECT_EQ("xy", ExtractWord(1, "xy", CharSet()));
}

TEST(WordTest, ExtractWordPosReportsThePosition) {
  int pos = -5;
  EXPECT_EQ("cd", ExtractWordPos(2, "ab, cd,", CharSet{',', ' '}, &pos));
  EXPECT_EQ(5, pos);
  EXPECT_EQ("", ExtractWordPos(3, "ab, cd,", CharSet{',', ' '}, &pos));
  EXPECT_EQ(0, pos);
}

TEST(WordTest, IngredientSeparatorCode3) {
  const std::string line = "salt \x03sugar\x03\x03water";
  const CharSet etx{3};
  EXPECT_EQ("salt ", ExtractWord(1, line, etx));
  EXPECT_EQ("sugar", ExtractWord(2, line, etx));
  EXPECT_EQ("water", ExtractWord(3, line, etx));
}

TEST(ExtractDelimitedTest, AdjacentDelimitersGiveEmptyFields) {
  EXPECT_EQ("a", ExtractDelimited(1, "a,,b", kComma));
  EXPECT_EQ("", ExtractDelimited(2, "a,,b", kComma));
  EXPECT_EQ("b", ExtractDelimited(3, "a,,b", kComma));
  EXPECT_EQ("", ExtractDelimited(4, "a,,b", kComma));
  EXPECT_EQ("", ExtractDelimited(0, "a,,b", kComma));
  EXPECT_EQ("", ExtractDelimited(-1, "a,,b", kComma));
  EXPECT_EQ("", ExtractDelimited(1, ",x", kComma));
  EXPECT_EQ("x", ExtractDelimited(2, ",x", kComma));
}

TEST(ExtractSubstrTest, WalksFieldByField) {
  const std::string s = "ab;;c";
  const CharSet semi{';'};
  int pos = 1;
  EXPECT_EQ("ab", ExtractSubstr(s, &pos, semi));
  EXPECT_EQ(4, pos);
  EXPECT_EQ("", ExtractSubstr(s, &pos, semi));
  EXPECT_EQ(5, pos);
  EXPECT_EQ("c", ExtractSubstr(s, &pos, semi));
  EXPECT_EQ(6, pos);
  EXPECT_EQ("", ExtractSubstr(s, &pos, semi));
  EXPECT_EQ(6, pos);
  pos = 0;
  EXPECT_EQ("ab", ExtractSubstr(s, &pos, semi));
  EXPECT_EQ(4, pos);
  pos = 1;
  EXPECT_EQ("ab;", ExtractSubstr("ab;", &pos, CharSet()));
  EXPECT_EQ(4, pos);
  pos = 9;
  EXPECT_EQ("", ExtractSubstr(s, &pos, semi));
  EXPECT_EQ(6, pos);
}

TEST(ReplaceStrTest, ReplacesEveryOccurrenceOnce) {
  EXPECT_EQ("12,5", ReplaceStr("12.5", ".", ","));
  EXPECT_EQ("1,2,3", ReplaceStr("1.2.3", ".", ","));
  EXPECT_EQ("xaax", ReplaceStr("xax", "a", "aa"));  // inserted text not searched again
  EXPECT_EQ("b", ReplaceStr("aaaab", "aa", ""));
  EXPECT_EQ("abc", ReplaceStr("abc", "", "x"));
  EXPECT_EQ("", ReplaceStr("", "a", "x"));
  EXPECT_EQ("XX", ReplaceStr("aaaa", "aa", "X"));
  EXPECT_EQ("X", ReplaceStr("aaa", "aaa", "X"));
}

TEST(FillTest, PadsWithoutTruncating) {
  EXPECT_EQ("007", AddChar('0', "7", 3));
  EXPECT_EQ("7__", AddCharR('_', "7", 3));
  EXPECT_EQ("1234", AddChar('0', "1234", 3));
  EXPECT_EQ("1234", AddCharR('0', "1234", 3));
  EXPECT_EQ("ab", AddChar('0', "ab", -2));
  EXPECT_EQ("SetLogo    ", LeftStr("SetLogo", 11));
  EXPECT_EQ("SetSettings", LeftStr("SetSettings", 11));
  EXPECT_EQ("toolongtext", LeftStr("toolongtext", 4));
  EXPECT_EQ("   ab", RightStr("ab", 5));
}

TEST(SplitLinesTest, EveryBreakEndsALineAndAFinalBreakAddsNone) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\n\r\n\r"), (Lines{"a", "", ""}));
  EXPECT_EQ(SplitLines(""), Lines{});
}

TEST(CenterStrTest, OddRemainderGoesRight) {
  EXPECT_EQ("  abc   ", CenterStr("abc", 8));
  EXPECT_EQ("  ab   ", CenterStr("ab", 7));
  EXPECT_EQ("  ab  ", CenterStr("ab", 6));
  EXPECT_EQ(" abc ", CenterStr("abc", 5));
  EXPECT_EQ("abc", CenterStr("abc", 3));
  EXPECT_EQ("abcd", CenterStr("abcd", 2));
  EXPECT_EQ("    ", CenterStr("", 4));
}

TEST(SingleLineTextTest, ControlCharactersBecomeQuestionMarks) {
  EXPECT_EQ(SingleLineText("a\r\nb\tc\x7F\x1F.txt"), "a??b?c??.txt");
  EXPECT_EQ(SingleLineText(std::string("x\0y", 3)), "x?y");
  // Cyrillic letters (Windows-1251, all above 127) and the rest of ASCII stay.
  EXPECT_EQ(SingleLineText("\xCF\xF0\xE8 ~#?.txt"), "\xCF\xF0\xE8 ~#?.txt");
}

}  // namespace
}  // namespace tarvo
