// A byte string that keeps short text in place and only longer text on the
// heap. For records kept by the million, such as articles and their
// messages: a text of up to N - 1 bytes costs no allocation and no memory
// beyond the object's own N bytes. The text is not terminated by a NUL.
#ifndef TARVO_COMMON_INLINE_STRING_H_
#define TARVO_COMMON_INLINE_STRING_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>

namespace tarvo {

template <size_t N>
class InlineString {
 public:
  static_assert(N >= 24 && N <= 128, "the tag byte holds the in-place length");
  // The longest text kept in place.
  static constexpr size_t kInlineCapacity = N - 1;

  InlineString() = default;
  InlineString(std::string_view text) { assign(text); }  // NOLINT: text converts implicitly
  InlineString(const InlineString& other) {
    if (other.OnHeap()) {
      assign(other.view());
    } else {
      std::memcpy(bytes_, other.bytes_, N);
    }
  }
  InlineString(InlineString&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, N);
    other.bytes_[kTag] = 0;
  }
  InlineString& operator=(const InlineString& other) {
    if (this != &other)
      assign(other.view());
    return *this;
  }
  InlineString& operator=(InlineString&& other) noexcept {
    if (this != &other) {
      Release();
      std::memcpy(bytes_, other.bytes_, N);
      other.bytes_[kTag] = 0;
    }
    return *this;
  }
  InlineString& operator=(std::string_view text) {
    assign(text);
    return *this;
  }
  ~InlineString() { Release(); }

  // Replaces the text; `text` may view this string's own text.
  void assign(std::string_view text) {
    if (text.size() <= kInlineCapacity) {
      // The heap block goes only after the copy, and memmove allows `text`
      // to overlap the text in place.
      char* const heap = OnHeap() ? HeapData() : nullptr;
      if (!text.empty())
        std::memmove(bytes_, text.data(), text.size());
      bytes_[kTag] = static_cast<char>(text.size());
      delete[] heap;
      return;
    }
    char* heap = new char[text.size()];
    std::memcpy(heap, text.data(), text.size());
    Release();
    const size_t size = text.size();
    std::memcpy(bytes_, &heap, sizeof(heap));
    std::memcpy(bytes_ + sizeof(heap), &size, sizeof(size));
    bytes_[kTag] = kOnHeap;
  }
  void clear() { assign({}); }

  bool OnHeap() const { return bytes_[kTag] == kOnHeap; }
  const char* data() const { return OnHeap() ? HeapData() : bytes_; }
  size_t size() const {
    if (!OnHeap())
      return static_cast<unsigned char>(bytes_[kTag]);
    size_t size;
    std::memcpy(&size, bytes_ + sizeof(char*), sizeof(size));
    return size;
  }
  bool empty() const { return size() == 0; }

  std::string_view view() const { return std::string_view(data(), size()); }
  operator std::string_view() const { return view(); }  // NOLINT: views convert implicitly
  std::string str() const { return std::string(view()); }

  friend bool operator==(const InlineString& a, const InlineString& b) {
    return a.view() == b.view();
  }
  friend bool operator==(const InlineString& a, std::string_view b) { return a.view() == b; }
  friend std::ostream& operator<<(std::ostream& out, const InlineString& s) {
    return out << s.view();
  }

 private:
  static constexpr size_t kTag = N - 1;  // the in-place length, or kOnHeap
  static constexpr char kOnHeap = static_cast<char>(0xFF);

  char* HeapData() const {
    char* heap;
    std::memcpy(&heap, bytes_, sizeof(heap));
    return heap;
  }
  void Release() {
    if (OnHeap()) {
      delete[] HeapData();
      bytes_[kTag] = 0;
    }
  }

  // In place: the text, then at kTag its length. On the heap: the pointer,
  // then the size, then at kTag kOnHeap.
  alignas(8) char bytes_[N] = {};
};

}  // namespace tarvo

#endif  // TARVO_COMMON_INLINE_STRING_H_
