#include "settings/inifile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace tarvo {
namespace {

using testing::TempDir;
using Lines = std::vector<std::string>;

TEST(IniFileTest, ReadsSectionsInOrderWithKeysMatchedWithoutCase) {
  IniFile ini = IniFile::Parse(
      "[First]\r\nKey=one\r\nformula=a=b=c\r\n\r\n"
      "[second]\nNAME=two\n  spaced  = value with spaces \n;note=comment\n\n"
      "[Third]\rx=3\r");
  EXPECT_EQ((Lines{"First", "second", "Third"}), ini.SectionNames());
  EXPECT_EQ("one", ini.ReadString("FIRST", "key", "def"));
  EXPECT_EQ("a=b=c", ini.ReadString("First", "Formula", ""));
  EXPECT_EQ("two", ini.ReadString("Second", "name", ""));
  EXPECT_EQ(" value with spaces", ini.ReadString("second", "spaced", ""));
  EXPECT_EQ("3", ini.ReadString("third", "X", ""));
  EXPECT_EQ("def", ini.ReadString("First", "missing", "def"));
  EXPECT_EQ("def", ini.ReadString("Nowhere", "Key", "def"));
  EXPECT_FALSE(ini.KeyExists("second", "note"));  // a comment is no key
  EXPECT_TRUE(ini.SectionExists("THIRD"));
  EXPECT_EQ((Lines{"NAME=two", "spaced  = value with spaces"}), ini.ReadSectionLines("SECOND"));
  EXPECT_EQ((Lines{"NAME", "spaced"}), ini.ReadSectionKeys("second"));
}

TEST(IniFileTest, CyrillicKeysMatchWithoutCase) {
  // "Ключ" and "КЛЮЧ" in Windows-1251.
  IniFile ini = IniFile::Parse("[S]\r\n\xCA\xEB\xFE\xF7=1\r\n");
  EXPECT_EQ("1", ini.ReadString("s", "\xCA\xCB\xDE\xD7", ""));
}

TEST(IniFileTest, WritesBackUnchangedWhatItDidNotTouch) {
  const std::string text =
      "; made by hand\r\n\r\n[Other]\r\n; keep me\r\nb=2\r\nodd line without equals\r\n\r\n"
      "[GlobalSettings]\r\nA=1\r\n\r\n[Tail]\r\nz=26\r\n\r\n";
  IniFile ini = IniFile::Parse(text);
  EXPECT_EQ(text, ini.ToText());

  ini.WriteString("other", "B", "two");
  ini.WriteString("Other", "c", "3");
  ini.WriteString("New", "k", "v");
  EXPECT_EQ(
      "; made by hand\r\n\r\n[Other]\r\n; keep me\r\nB=two\r\nodd line without "
      "equals\r\nc=3\r\n\r\n"
      "[GlobalSettings]\r\nA=1\r\n\r\n[Tail]\r\nz=26\r\n\r\n[New]\r\nk=v\r\n\r\n",
      ini.ToText());
}

TEST(IniFileTest, LfOnlyFileIsWrittenWithCrLfAndOneEmptyLinePerSection) {
  IniFile ini = IniFile::Parse("[A]\nx=1\n\n\n\n[B]\ny=2");
  EXPECT_EQ("[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n\r\n", ini.ToText());
}

TEST(IniFileTest, EraseSectionRemovesEveryCopy) {
  IniFile ini = IniFile::Parse("[S]\r\na=1\r\n[T]\r\nb=2\r\n[s]\r\nc=3\r\n");
  EXPECT_EQ((Lines{"a=1", "c=3"}), ini.ReadSectionLines("S"));
  ini.EraseSection("S");
  EXPECT_EQ("[T]\r\nb=2\r\n\r\n", ini.ToText());
  ini.EraseSection("missing");
  EXPECT_EQ((Lines{"T"}), ini.SectionNames());
}

TEST(IniFileTest, LineKeyAndValue) {
  EXPECT_EQ("Key", IniLineKey(" Key =v"));
  EXPECT_EQ("v=w", IniLineValue("Key=v=w"));
  EXPECT_EQ("", IniLineValue("NoEquals"));
  EXPECT_EQ("NoEquals", IniLineKey("NoEquals"));
  EXPECT_EQ("", IniLineKey("=x"));
}

TEST(IniFileTest, TrimBlanksTakesSpacesAndTabsOnly) {
  EXPECT_EQ("a b", TrimBlanks(" \t a b\t "));
  EXPECT_EQ("\r5\r", TrimBlanks(" \r5\r "));
  EXPECT_EQ("", TrimBlanks(" \t "));
}

TEST(IniFileTest, FilesLoadToleratingBomAndSaveAtomically) {
  TempDir dir;
  IniFile ini;
  EXPECT_TRUE(ini.LoadFromFile(dir.File("missing.ini")));
  EXPECT_TRUE(ini.SectionNames().empty());

  // UTF-8 with a byte-order mark: "Имя" becomes Windows-1251.
  dir.Write("bom.ini", "\xEF\xBB\xBF[S]\r\nname=\xD0\x98\xD0\xBC\xD1\x8F\r\n");
  ASSERT_TRUE(ini.LoadFromFile(dir.File("bom.ini")));
  EXPECT_EQ("\xC8\xEC\xFF", ini.ReadString("S", "name", ""));

  ForceDirectories(dir.File("folder.ini"));
  EXPECT_FALSE(ini.LoadFromFile(dir.File("folder.ini")));
  EXPECT_EQ("\xC8\xEC\xFF", ini.ReadString("S", "name", ""));  // unchanged on failure

  ini.WriteString("S", "more", "1");
  ASSERT_TRUE(ini.SaveToFile(dir.File("bom.ini")));
  EXPECT_EQ("[S]\r\nname=\xC8\xEC\xFF\r\nmore=1\r\n\r\n", dir.Read("bom.ini"));
  std::vector<std::string> names;
  for (const FileEntry& e : ListFolder(dir.path()))
    names.push_back(e.Name);
  EXPECT_EQ((Lines{"bom.ini", "folder.ini"}), names);
}

TEST(CompareTextAnsiTest, OrdersLikeTheSystemLocale) {
  EXPECT_EQ(0, CompareTextAnsi("ImportPath=x", "IMPORTPATH=X"));
  // Symbols before digits: "Scale1=" sorts before "Scale10=".
  EXPECT_LT(CompareTextAnsi("Scale1=10.0.0.1", "Scale10=10.0.0.10"), 0);
  EXPECT_LT(CompareTextAnsi("Scale19=a", "Scale2=a"), 0);
  EXPECT_LT(CompareTextAnsi("File_x", "File1"), 0);
  EXPECT_LT(CompareTextAnsi("a9", "aB"), 0);
  EXPECT_LT(CompareTextAnsi("abc", "abcd"), 0);
  EXPECT_GT(CompareTextAnsi("b", "A"), 0);
  // Latin before Cyrillic; Ё between Е and Ж.
  EXPECT_LT(CompareTextAnsi("z", "\xE0"), 0);
  EXPECT_LT(CompareTextAnsi("\xC5", "\xA8"), 0);
  EXPECT_LT(CompareTextAnsi("\xB8", "\xC6"), 0);

  Lines lines = {"Scale2=b", "scale10=c", "Scale1=a", "Scale11=d"};
  std::stable_sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
    return CompareTextAnsi(a, b) < 0;
  });
  EXPECT_EQ((Lines{"Scale1=a", "scale10=c", "Scale11=d", "Scale2=b"}), lines);
}

}  // namespace
}  // namespace tarvo
