// InlineString: short text in place, longer text on the heap.

#include "common/inline_string.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>

namespace tarvo {
namespace {

// Text of `size` bytes that differs at every position from its neighbours.
std::string Text(size_t size, char first = 'a') {
  std::string text(size, ' ');
  for (size_t i = 0; i < size; ++i)
    text[i] = static_cast<char>(first + i % 23);
  return text;
}

template <typename T>
class InlineStringTest : public ::testing::Test {};

using Sizes =
    ::testing::Types<InlineString<24>, InlineString<32>, InlineString<56>, InlineString<128>>;
TYPED_TEST_SUITE(InlineStringTest, Sizes);

TYPED_TEST(InlineStringTest, KeepsUpToCapacityBytesInPlace) {
  constexpr size_t kCapacity = TypeParam::kInlineCapacity;
  for (size_t size = 0; size <= 2 * kCapacity + 2; ++size) {
    const std::string text = Text(size);
    const TypeParam s(text);
    EXPECT_EQ(s.OnHeap(), size > kCapacity) << size;
    EXPECT_EQ(s.size(), size);
    EXPECT_EQ(s.empty(), size == 0);
    EXPECT_EQ(s.view(), text);
    EXPECT_EQ(s.str(), text);
  }
  EXPECT_FALSE(TypeParam().OnHeap());
  EXPECT_TRUE(TypeParam().empty());
}

TYPED_TEST(InlineStringTest, CopiesAreEqualAndIndependent) {
  constexpr size_t kCapacity = TypeParam::kInlineCapacity;
  for (size_t size : {size_t{0}, kCapacity, kCapacity + 1, 3 * kCapacity}) {
    const TypeParam original(Text(size));
    TypeParam copy(original);
    EXPECT_EQ(copy, original);
    EXPECT_EQ(copy.OnHeap(), original.OnHeap());
    if (original.OnHeap()) {
      EXPECT_NE(copy.data(), original.data());
    }
    copy = Text(size, 'A');
    EXPECT_EQ(original.view(), Text(size));

    TypeParam assigned(Text(2 * kCapacity, 'z'));  // its heap text is given back
    assigned = original;
    EXPECT_EQ(assigned, original);
    const auto& self = assigned;
    assigned = self;  // self-assignment changes nothing
    EXPECT_EQ(assigned.view(), Text(size));
  }
}

TYPED_TEST(InlineStringTest, MovingLeavesTheSourceEmpty) {
  constexpr size_t kCapacity = TypeParam::kInlineCapacity;
  for (size_t size : {size_t{1}, kCapacity, kCapacity + 1, 3 * kCapacity}) {
    TypeParam source(Text(size));
    const char* heapText = source.OnHeap() ? source.data() : nullptr;
    TypeParam moved(std::move(source));
    EXPECT_EQ(moved.view(), Text(size));
    if (heapText != nullptr) {
      EXPECT_EQ(moved.data(), heapText);  // taken over, not copied
    }
    EXPECT_TRUE(source.empty());  // NOLINT: moved-from is empty by contract
    EXPECT_FALSE(source.OnHeap());

    TypeParam target(Text(kCapacity + 5, 'q'));
    target = std::move(moved);
    EXPECT_EQ(target.view(), Text(size));
    EXPECT_TRUE(moved.empty());  // NOLINT
    auto& alias = target;
    target = std::move(alias);
    EXPECT_EQ(target.view(), Text(size));

    source = Text(size, 'k');  // a moved-from string takes new text
    EXPECT_EQ(source.view(), Text(size, 'k'));
  }
}

TYPED_TEST(InlineStringTest, AssignsFromAViewOfItsOwnText) {
  constexpr size_t kCapacity = TypeParam::kInlineCapacity;
  // In place, overlapping.
  TypeParam s(Text(kCapacity));
  s.assign(s.view().substr(3));
  EXPECT_EQ(s.view(), Text(kCapacity).substr(3));
  s = s.view().substr(0, 5);
  EXPECT_EQ(s.view(), Text(kCapacity).substr(3, 5));
  // On the heap, staying there.
  const std::string longText = Text(3 * kCapacity);
  s = longText;
  s.assign(s.view().substr(1));
  EXPECT_TRUE(s.OnHeap());
  EXPECT_EQ(s.view(), longText.substr(1));
  // From the heap into place.
  s.assign(s.view().substr(10, kCapacity));
  EXPECT_FALSE(s.OnHeap());
  EXPECT_EQ(s.view(), longText.substr(11, kCapacity));
  s.assign(s.view());
  EXPECT_EQ(s.view(), longText.substr(11, kCapacity));
  s.clear();
  EXPECT_TRUE(s.empty());
  EXPECT_FALSE(s.OnHeap());
}

TYPED_TEST(InlineStringTest, KeepsNulBytesAndComparesByContent) {
  constexpr size_t kCapacity = TypeParam::kInlineCapacity;
  for (size_t size : {size_t{3}, kCapacity, kCapacity + 1}) {
    std::string text(size, '\0');
    text[1] = 'x';
    const TypeParam s(text);
    EXPECT_EQ(s.size(), size);
    EXPECT_EQ(s, text);
    EXPECT_EQ(s, std::string_view(text));
    EXPECT_EQ(s, TypeParam(text));
    EXPECT_FALSE(s == std::string_view(text.data(), size - 1));
    EXPECT_FALSE(s == std::string_view("\0x", 2));
    std::string changed = text;
    changed.back() = 'y';
    EXPECT_FALSE(s == TypeParam(changed));
    std::ostringstream out;
    out << s;
    EXPECT_EQ(out.str(), text);
  }
  EXPECT_FALSE(TypeParam("ab") == TypeParam("abc"));
  EXPECT_TRUE(TypeParam() == std::string());
}

}  // namespace
}  // namespace tarvo
