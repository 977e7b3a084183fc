#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace tarvo {
namespace {

// "Привет, мир" (hello, world) in each encoding.
const std::string kAnsi = "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0";
const std::string kUtf8 =
    "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80";
const std::string kOem = "\x8F\xE0\xA8\xA2\xA5\xE2, \xAC\xA8\xE0";

TEST(CodePageTest, AnsiAndUtf8RoundTrip) {
  EXPECT_EQ(AnsiToUtf8(kAnsi), kUtf8);
  EXPECT_EQ(Utf8ToAnsi(kUtf8), kAnsi);
  EXPECT_EQ(AnsiToUtf8("plain ASCII\r\n"), "plain ASCII\r\n");
  EXPECT_EQ(AnsiToUtf8(""), "");
  // "Ёё№€" (0xA8 0xB8 0xB9 0x88 in Windows-1251).
  EXPECT_EQ(AnsiToUtf8("\xA8\xB8\xB9\x88"), "\xD0\x81\xD1\x91\xE2\x84\x96\xE2\x82\xAC");
  EXPECT_EQ(Utf8ToAnsi("\xD0\x81\xD1\x91\xE2\x84\x96\xE2\x82\xAC"), "\xA8\xB8\xB9\x88");
  // Every byte that Windows-1251 defines survives the round trip.
  for (int b = 1; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    if (b == 0x98) {
      EXPECT_EQ(AnsiToUtf8(one), "?");  // undefined in the code page
      continue;
    }
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(one)), one) << b;
  }
  EXPECT_EQ(AnsiToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(CodePageTest, MissingCharactersAndInvalidBytesBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToAnsi("\xE4\xB8\xAD"), "?");          // a CJK character
  EXPECT_EQ(Utf8ToAnsi("a\xF0\x9F\x98\x80z"), "a?z");  // an emoji
  EXPECT_EQ(Utf8ToAnsi("a\xFF"
                       "b"),
            "a?b");                              // never valid in UTF-8
  EXPECT_EQ(Utf8ToAnsi("a\xD0"), "a?");          // cut short
  EXPECT_EQ(Utf8ToAnsi("\xC0\xAF"), "??");       // overlong "/"
  EXPECT_EQ(Utf8ToAnsi("\xED\xA0\x80"), "???");  // a surrogate
  EXPECT_EQ(Utf8ToAnsi("\xD0"
                       "A"),
            "?A");  // lead byte without its tail
}

TEST(CodePageTest, OemTextBecomesAnsi) {
  EXPECT_EQ(OemToAnsi(kOem), kAnsi);
  EXPECT_EQ(OemToAnsi("ABC 123"), "ABC 123");
  EXPECT_EQ(OemToAnsi("\xF0\xF1"), "\xA8\xB8");  // Ё ё
  EXPECT_EQ(OemToAnsi("\xC9\xCD\xBB"), "???");   // box drawing has no ANSI form
}

TEST(CodePageTest, ChangesCaseOfLatinAndCyrillicLetters) {
  EXPECT_EQ(AnsiUpperCase(kAnsi), "\xCF\xD0\xC8\xC2\xC5\xD2, \xCC\xC8\xD0");
  EXPECT_EQ(AnsiLowerCase(kAnsi), "\xEF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0");
  EXPECT_EQ(AnsiUpperCase("abc xyz 09 [@]"), "ABC XYZ 09 [@]");
  EXPECT_EQ(AnsiLowerCase("ABC XYZ"), "abc xyz");
  EXPECT_EQ(AnsiUpperCase("\xB8\xFF\xE0"), "\xA8\xDF\xC0");                  // ё я а
  EXPECT_EQ(AnsiUpperCase("\xB3\xBF\xBA\xB4\xA2"), "\xB2\xAF\xAA\xA5\xA1");  // і ї є ґ ў
  EXPECT_EQ(AnsiUpperChar('\xE6'), '\xC6');
  EXPECT_EQ(AnsiUpperChar('q'), 'Q');
  EXPECT_EQ(AnsiUpperChar('\xB9'), '\xB9');  // № is no letter
  // Upper and lower case undo each other for every letter.
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const std::string upper = AnsiUpperCase(std::string(1, c));
    if (upper[0] != c) {
      EXPECT_EQ(AnsiLowerCase(upper), std::string(1, c)) << b;
    }
  }
}

TEST(CodePageTest, AsciiCaseAndCaseBlindEquality) {
  EXPECT_EQ(AsciiLower("#HEADER .TxU 09 [@]"), "#header .txu 09 [@]");
  EXPECT_EQ(AsciiLower(kAnsi), kAnsi);  // the Cyrillic capital stays
  EXPECT_TRUE(SameTextAscii("PLU_Name_Def", "plu_name_DEF"));
  EXPECT_FALSE(SameTextAscii("\xCF", "\xEF"));                // П and п differ here
  EXPECT_TRUE(SameTextAnsi("\xCF\xF0\xE8", "\xEF\xD0\xC8"));  // but not as ANSI letters
  EXPECT_FALSE(SameTextAnsi("Dep", "Dept"));
  EXPECT_FALSE(SameTextAscii("Dep", "Dept"));
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const bool upper = c >= 'A' && c <= 'Z';
    const bool lower = c >= 'a' && c <= 'z';
    EXPECT_EQ(AsciiLower(c), upper ? static_cast<char>(c + 32) : c) << b;
    EXPECT_EQ(AsciiUpper(c), lower ? static_cast<char>(c - 32) : c) << b;
  }
}

TEST(CodePageTest, DetectsByteOrderMarks) {
  EXPECT_EQ(DetectBom("\xEF\xBB\xBFtext"), TextEncoding::kUtf8);
  EXPECT_EQ(DetectBom("\xFF\xFEt\0"), TextEncoding::kUtf16LE);
  EXPECT_EQ(DetectBom("\xFE\xFF\0t"), TextEncoding::kUtf16BE);
  EXPECT_EQ(DetectBom("\xEF\xBB"), TextEncoding::kNone);
  EXPECT_EQ(DetectBom(""), TextEncoding::kNone);
  EXPECT_EQ(DetectBom(kAnsi), TextEncoding::kNone);
}

TEST(CodePageTest, DecodesTextFilesToAnsi) {
  EXPECT_EQ(DecodeTextFileToAnsi("\xEF\xBB\xBF" + kUtf8 + "\r\n"), kAnsi + "\r\n");
  EXPECT_EQ(DecodeTextFileToAnsi(kAnsi), kAnsi);  // no mark: unchanged
  EXPECT_EQ(DecodeTextFileToAnsi(kUtf8), kUtf8);  // no mark: unchanged, even if UTF-8
  // "Пр1" + an emoji (a surrogate pair) + a lone high surrogate + CR LF.
  const std::string le(
      "\xFF\xFE\x1F\x04\x40\x04"
      "1\0"
      "\x3D\xD8\x00\xDE"
      "\x3D\xD8"
      "\r\0\n\0",
      18);
  EXPECT_EQ(DecodeTextFileToAnsi(le),
            "\xCF\xF0"
            "1??\r\n");
  const std::string be(
      "\xFE\xFF\x04\x1F\x04\x40\0"
      "1"
      "\0\r\0\n",
      12);
  EXPECT_EQ(DecodeTextFileToAnsi(be),
            "\xCF\xF0"
            "1\r\n");
  EXPECT_EQ(DecodeTextFileToAnsi(std::string("\xFF\xFE"
                                             "A\0B",
                                             5)),
            "A?");  // odd length
  EXPECT_EQ(DecodeTextFileToAnsi("\xEF\xBB\xBF"), "");
}

}  // namespace
}  // namespace tarvo
