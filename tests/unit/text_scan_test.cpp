// The sixteen-byte scans against their byte-by-byte forms. Each piece is
// copied into a buffer of exactly its own size, so that a scan reading past
// its end shows under a memory checker.

#include "common/text_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace tarvo {
namespace {

using internal::CountLineBreaksBytewise;
using internal::FindAnyOfBytewise;
using internal::MatchMask64Bytewise;

// `text` in a heap block of its own size.
class Piece {
 public:
  explicit Piece(const std::string& text)
      : size_(text.size()), bytes_(std::make_unique<char[]>(text.size())) {
    if (!text.empty())
      std::memcpy(bytes_.get(), text.data(), text.size());
  }
  const char* begin() const { return bytes_.get(); }
  const char* end() const { return bytes_.get() + size_; }

 private:
  size_t size_;
  std::unique_ptr<char[]> bytes_;
};

// Random text over few bytes, line breaks and separators among them.
std::string RandomText(std::mt19937& random, size_t size) {
  static const char kBytes[] = {'\r', '\n', ';', '"', 'a', ' ', '\0', '\xFF', '\x80'};
  std::uniform_int_distribution<size_t> pick(0, sizeof(kBytes) - 1);
  std::string text(size, ' ');
  for (char& c : text)
    c = kBytes[pick(random)];
  return text;
}

TEST(TextScanTest, TheByteLoopsCountAsDocumented) {
  const std::string text = "a\r\nb\n\r\rc";
  const char* b = text.data();
  const char* e = b + text.size();
  EXPECT_EQ(CountLineBreaksBytewise(b, e, 'x'), 4u);
  EXPECT_EQ(CountLineBreaksBytewise(b + 2, e, 'x'), 4u);   // starts with a lone LF
  EXPECT_EQ(CountLineBreaksBytewise(b + 2, e, '\r'), 3u);  // ... or the second half of CR LF
  EXPECT_EQ(FindAnyOfBytewise(b, e, 'c', 'b', 'z'), b + 3);
  EXPECT_EQ(MatchMask64Bytewise(b, e, '\r', '\n', '\n'), 0b1110110u);
}

TEST(TextScanTest, FindsASingleMatchAtEveryPosition) {
  for (size_t size = 0; size <= 200; ++size) {
    for (size_t match = 0; match <= size; ++match) {  // match == size: none
      for (char c : {'\r', '\n', ';', '\xFF'}) {
        std::string text(size, 'x');
        if (match < size)
          text[match] = c;
        const Piece p(text);
        const char* expected = p.begin() + match;
        ASSERT_EQ(FindAnyOf(p.begin(), p.end(), ';', c, '\r'), expected) << size << " " << match;
        ASSERT_EQ(FindAnyOfBytewise(p.begin(), p.end(), ';', c, '\r'), expected);
        const bool lineBreak = c == '\r' || c == '\n';
        ASSERT_EQ(FindLineBreak(p.begin(), p.end()), lineBreak ? expected : p.end());
        if (match < size && match < 64) {
          ASSERT_EQ(MatchMask64(p.begin(), p.end(), c, c, c), uint64_t{1} << match);
        } else {
          ASSERT_EQ(MatchMask64(p.begin(), p.end(), c, c, c), 0u) << size << " " << match;
        }
      }
    }
  }
}

TEST(TextScanTest, AgreesWithTheByteLoopsOnRandomText) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 20; ++round) {
    for (size_t size = 0; size <= 200; ++size) {
      const std::string text = RandomText(random, size + 17);
      for (size_t offset : {0, 1, 7, 15, 16, 17}) {
        const Piece p(text.substr(offset, size));
        const char* b = p.begin();
        const char* e = p.end();
        ASSERT_EQ(FindAnyOf(b, e, ';', '"', '\0'), FindAnyOfBytewise(b, e, ';', '"', '\0'));
        ASSERT_EQ(FindAnyOf(b, e, '\x80', 'a', 'a'), FindAnyOfBytewise(b, e, '\x80', 'a', 'a'));
        ASSERT_EQ(FindLineBreak(b, e), FindAnyOfBytewise(b, e, '\r', '\n', '\n'));
        ASSERT_EQ(MatchMask64(b, e, ';', '\xFF', '\r'),
                  MatchMask64Bytewise(b, e, ';', '\xFF', '\r'))
            << size << " " << offset;
        for (char before : {'x', '\r', '\n'}) {
          ASSERT_EQ(CountLineBreaks(b, e, before), CountLineBreaksBytewise(b, e, before))
              << size << " " << offset << " " << int{before};
        }
      }
    }
  }
}

TEST(TextScanTest, CrLfCountsOnceWhereverItIsSplit) {
  // The pair at every position, across the sixteen-byte steps.
  for (size_t cr = 0; cr + 1 < 70; ++cr) {
    std::string text(70, 'x');
    text[cr] = '\r';
    text[cr + 1] = '\n';
    const Piece p(text);
    ASSERT_EQ(CountLineBreaks(p.begin(), p.end(), 'x'), 1u) << cr;
  }
  // A text cut in two anywhere counts as the whole, given the byte before.
  std::mt19937 random(7);
  for (size_t size : {15, 16, 17, 40, 100}) {
    const std::string text = RandomText(random, size);
    const Piece whole(text);
    const size_t breaks = CountLineBreaksBytewise(whole.begin(), whole.end(), 'x');
    for (size_t cut = 0; cut <= size; ++cut) {
      const Piece head(text.substr(0, cut));
      const Piece tail(text.substr(cut));
      const char before = cut == 0 ? 'x' : text[cut - 1];
      ASSERT_EQ(CountLineBreaks(head.begin(), head.end(), 'x') +
                    CountLineBreaks(tail.begin(), tail.end(), before),
                breaks)
          << size << " " << cut;
    }
  }
  // A piece starting with the LF of a pair the piece before ended.
  for (size_t size : {1, 15, 16, 17, 33}) {
    const Piece p(std::string(size, '\n'));
    EXPECT_EQ(CountLineBreaks(p.begin(), p.end(), '\r'), size - 1) << size;
    EXPECT_EQ(CountLineBreaks(p.begin(), p.end(), '\n'), size) << size;
  }
}

TEST(TextScanTest, CountsLongTexts) {
  // Past the 255 steps after which the per-byte counters are summed.
  constexpr size_t kFlush = 255 * 16;
  for (size_t size : {kFlush - 1, kFlush, kFlush + 1, 3 * kFlush + 5}) {
    for (char c : {'\n', '\r'}) {
      const Piece same(std::string(size, c));
      EXPECT_EQ(CountLineBreaks(same.begin(), same.end(), 'x'), size) << size;
    }
    // Pairs that straddle every step, and the flush, from an odd start.
    std::string pairs = "\n";
    while (pairs.size() + 2 <= size)
      pairs += "\r\n";
    const Piece p(pairs);
    EXPECT_EQ(CountLineBreaks(p.begin(), p.end(), 'x'), 1 + (pairs.size() - 1) / 2) << size;
    EXPECT_EQ(CountLineBreaks(p.begin(), p.end(), '\r'), (pairs.size() - 1) / 2) << size;
  }
  std::mt19937 random(99);
  const Piece p(RandomText(random, 5 * kFlush + 11));
  EXPECT_EQ(CountLineBreaks(p.begin(), p.end(), 'x'),
            CountLineBreaksBytewise(p.begin(), p.end(), 'x'));
}

TEST(TextScanTest, MatchMaskStopsAtTheEnd) {
  EXPECT_EQ(MatchMask64(nullptr, nullptr, 'a', 'b', 'c'), 0u);
  for (size_t size = 0; size <= 70; ++size) {
    // Every byte matches; the bits past the end must stay clear.
    const Piece p(std::string(size, 'b'));
    const uint64_t expected = size >= 64 ? ~uint64_t{0} : (uint64_t{1} << size) - 1;
    ASSERT_EQ(MatchMask64(p.begin(), p.end(), 'a', 'b', 'c'), expected) << size;
    ASSERT_EQ(MatchMask64Bytewise(p.begin(), p.end(), 'a', 'b', 'c'), expected) << size;
    ASSERT_EQ(MatchMask64(p.begin(), p.end(), 'x', 'y', 'z'), 0u) << size;
  }
}

}  // namespace
}  // namespace tarvo
