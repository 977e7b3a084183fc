// MMessage: 16 lines, packed.

#include "query/plu_data.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvo {
namespace {

std::vector<std::string> Lines(const MMessage& message) {
  std::vector<std::string> out;
  for (int k = 1; k <= MMessage::kLineCount; ++k)
    out.emplace_back(message.Line(k));
  return out;
}

TEST(MMessageTest, NewMessageHasSixteenEmptyLines) {
  const MMessage message;
  EXPECT_EQ(Lines(message), std::vector<std::string>(16));
  EXPECT_TRUE(message.Line(0).empty());
  EXPECT_TRUE(message.Line(17).empty());
}

TEST(MMessageTest, LinesAreSetAnywhereAndKeptApart) {
  MMessage message;
  message.SetLine(3, "third");
  message.SetLine(1, "first");
  message.SetLine(16, "last");
  message.SetLine(17, "ignored");
  message.SetLine(0, "ignored");
  std::vector<std::string> expected(16);
  expected[0] = "first";
  expected[2] = "third";
  expected[15] = "last";
  EXPECT_EQ(Lines(message), expected);

  message.SetLine(3, "");
  message.SetLine(16, "");
  expected[2] = expected[15] = "";
  EXPECT_EQ(Lines(message), expected);
}

TEST(MMessageTest, LongLinesAndAnyBytesSurvive) {
  MMessage message;
  const std::string longLine(70000, 'x');
  const std::string bytes("a\0b\r\n\xFF", 6);
  message.SetLine(1, longLine);
  message.SetLine(2, bytes);
  message.SetLine(3, std::string(127, 'y'));
  message.SetLine(4, std::string(128, 'z'));
  EXPECT_EQ(message.Line(1), longLine);
  EXPECT_EQ(message.Line(2), bytes);
  EXPECT_EQ(message.Line(3).size(), 127u);
  EXPECT_EQ(message.Line(4), std::string(128, 'z'));
}

TEST(MMessageTest, SetLinesMayViewTheMessageItself) {
  MMessage message;
  message.SetLine(1, "one");
  message.SetLine(2, "two");
  std::array<std::string_view, MMessage::kLineCount> lines;
  lines[0] = message.Line(2);
  lines[1] = message.Line(1);
  message.SetLines(lines);
  EXPECT_EQ(message.Line(1), "two");
  EXPECT_EQ(message.Line(2), "one");
}

TEST(MMessageTest, CopiesAreIndependentAndEqual) {
  MMessage a;
  a.SetLine(2, "two");
  MMessage b = a;
  EXPECT_TRUE(a == b);
  b.SetLine(2, "changed");
  EXPECT_EQ(a.Line(2), "two");
  EXPECT_FALSE(a == b);
  b = a;
  EXPECT_TRUE(a == b);
  b = MMessage();
  EXPECT_TRUE(b == MMessage());
  EXPECT_FALSE(a == b);

  MMessages list(3);
  list[1] = a;
  list.emplace_back(a);
  EXPECT_EQ(list[1].Line(2), "two");
  EXPECT_EQ(list[3].Line(2), "two");
  EXPECT_TRUE(list[0] == MMessage());
}

TEST(MMessageTest, SetLinesTakesAtMostSixteenAndEmptiesTheRest) {
  MMessage message;
  message.SetLine(5, "old five");
  message.SetLine(16, "old sixteen");
  const std::vector<std::string_view> three = {"one", "", "three"};
  message.SetLines(three);
  std::vector<std::string> expected(16);
  expected[0] = "one";
  expected[2] = "three";
  EXPECT_EQ(Lines(message), expected);

  std::vector<std::string> texts;
  for (int k = 1; k <= 20; ++k)
    texts.push_back("line " + std::to_string(k));
  const std::vector<std::string_view> twenty(texts.begin(), texts.end());
  message.SetLines(twenty);
  EXPECT_EQ(Lines(message), std::vector<std::string>(texts.begin(), texts.begin() + 16));
  EXPECT_TRUE(message.Line(17).empty());

  message.SetLines(std::span<const std::string_view>());
  EXPECT_TRUE(message == MMessage());
  // Trailing empty lines, given or not, make the same message.
  MMessage a, b;
  a.SetLines(three);
  b.SetLine(3, "three");
  b.SetLine(1, "one");
  EXPECT_TRUE(a == b);
  const std::vector<std::string_view> padded = {"one", "", "three", "", ""};
  b.SetLines(padded);
  EXPECT_TRUE(a == b);
}

TEST(MMessageTest, ShortAndLongPackedMessagesRoundTrip) {
  // Packed: the line count, then each line's length byte and text. One
  // line of 53 bytes packs into 55 bytes, the most kept in place; 54 bytes
  // go to the heap. Then more lines, and lines of two length bytes.
  for (size_t size : {52, 53, 54, 55, 200}) {
    for (int lines : {1, 2, 16}) {
      std::vector<std::string> texts;
      for (int k = 0; k < lines; ++k)
        texts.push_back(std::string(size + k, static_cast<char>('a' + k)));
      const std::vector<std::string_view> views(texts.begin(), texts.end());
      MMessage message;
      message.SetLines(views);
      for (int k = 1; k <= lines; ++k)
        ASSERT_EQ(message.Line(k), texts[k - 1]) << size << " " << k;
      const MMessage copy = message;
      EXPECT_TRUE(copy == message);
      MMessage other;
      other.SetLine(1, "x");
      EXPECT_FALSE(other == message);
      other = copy;
      EXPECT_TRUE(other == message);
      // A message rebuilt from views of its own lines.
      std::vector<std::string_view> own;
      for (int k = lines; k >= 1; --k)
        own.push_back(other.Line(k));
      other.SetLines(own);
      for (int k = 1; k <= lines; ++k)
        ASSERT_EQ(other.Line(k), texts[lines - k]) << size << " " << k;
    }
  }
}

}  // namespace
}  // namespace tarvo
