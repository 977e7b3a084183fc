// PrefaultPages: pages mapped in ahead of use keep every byte.

#include "platform/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace tarvo {
namespace {

constexpr size_t kPage = 4096;  // at most the page size; only sizes depend on it

// Bytes of a fixed pseudo-random pattern.
std::vector<unsigned char> Pattern(size_t size) {
  std::mt19937 random(4242);
  std::vector<unsigned char> bytes(size);
  for (unsigned char& b : bytes)
    b = static_cast<unsigned char>(random());
  return bytes;
}

TEST(PrefaultPagesTest, LeavesTheContentsAsTheyWere) {
  const std::vector<unsigned char> expected = Pattern(9 * kPage + 123);
  std::vector<unsigned char> buffer = expected;
  PrefaultPages(buffer.data(), buffer.size());
  EXPECT_TRUE(buffer == expected);
  // Ranges that start and end inside pages.
  for (size_t start : {size_t{1}, size_t{77}, kPage - 1, kPage + 5}) {
    PrefaultPages(buffer.data() + start, buffer.size() - 2 * start);
    PrefaultPages(buffer.data() + start, kPage);
    ASSERT_TRUE(buffer == expected) << start;
  }
  PrefaultPages(buffer.data(), 0);
  PrefaultPages(buffer.data() + 3, 0);
  PrefaultPages(nullptr, 0);
  PrefaultPages(nullptr, 16 * kPage);
  EXPECT_TRUE(buffer == expected);
}

TEST(PrefaultPagesTest, PagesNeverWrittenBeforeAndWrittenOnesMix) {
  // A large block, most of it never touched; every third page written.
  constexpr size_t kSize = 256 * kPage;
  std::unique_ptr<unsigned char[]> block(new unsigned char[kSize]);
  const std::vector<unsigned char> pattern = Pattern(kPage);
  for (size_t page = 0; page < kSize / kPage; page += 3)
    std::copy(pattern.begin(), pattern.end(), block.get() + page * kPage);
  PrefaultPages(block.get(), kSize);
  for (size_t page = 0; page < kSize / kPage; page += 3) {
    ASSERT_TRUE(std::equal(pattern.begin(), pattern.end(), block.get() + page * kPage)) << page;
  }
}

TEST(PrefaultPagesTest, WritesOfAnotherThreadMeanwhileAreKept) {
  constexpr size_t kPages = 64;
  std::vector<uint32_t> words(kPages * kPage / sizeof(uint32_t));
  std::atomic<bool> done{false};
  constexpr uint32_t kRounds = 200;
  // Each round writes its number into every word; the last round must stay.
  std::thread writer([&] {
    for (uint32_t round = 1; round <= kRounds; ++round) {
      for (uint32_t& word : words)
        word = round;
    }
    done = true;
  });
  while (!done)
    PrefaultPages(words.data(), words.size() * sizeof(uint32_t));
  writer.join();
  for (size_t i = 0; i < words.size(); ++i)
    ASSERT_EQ(words[i], kRounds) << i;
}

}  // namespace
}  // namespace tarvo
