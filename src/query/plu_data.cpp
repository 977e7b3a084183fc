#include "query/plu_data.h"

#include <cstring>

namespace tarvo {

namespace {

// Reads one stored length at `p`, advancing it.
size_t ReadLength(const char** p) {
  size_t length = 0;
  for (int shift = 0;; shift += 7) {
    const unsigned char byte = static_cast<unsigned char>(*(*p)++);
    length |= static_cast<size_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0)
      return length;
  }
}

size_t LengthSize(size_t length) {
  size_t size = 1;
  for (; length >= 0x80; length >>= 7)
    ++size;
  return size;
}

char* WriteLength(size_t length, char* p) {
  for (; length >= 0x80; length >>= 7)
    *p++ = static_cast<char>(0x80 | (length & 0x7F));
  *p++ = static_cast<char>(length);
  return p;
}

}  // namespace

MMessage::MMessage(const MMessage& other) {
  *this = other;
}

MMessage& MMessage::operator=(const MMessage& other) {
  if (this == &other)
    return *this;
  if (!other.data_) {
    data_.reset();
    return *this;
  }
  const size_t size = other.StoredSize();
  auto data = std::make_unique_for_overwrite<char[]>(size);
  std::memcpy(data.get(), other.data_.get(), size);
  data_ = std::move(data);
  return *this;
}

size_t MMessage::StoredSize() const {
  if (!data_)
    return 0;
  const char* p = data_.get();
  const int stored = static_cast<unsigned char>(*p++);
  for (int line = 0; line < stored; ++line)
    p += ReadLength(&p);
  return static_cast<size_t>(p - data_.get());
}

std::string_view MMessage::Line(int k) const {
  if (!data_ || k < 1 || k > static_cast<unsigned char>(data_[0]))
    return {};
  const char* p = data_.get() + 1;
  for (int line = 1;; ++line) {
    const size_t length = ReadLength(&p);
    if (line == k)
      return std::string_view(p, length);
    p += length;
  }
}

void MMessage::SetLine(int k, std::string_view text) {
  if (k < 1 || k > kLineCount)
    return;
  std::array<std::string_view, kLineCount> lines;
  for (int line = 1; line <= kLineCount; ++line)
    lines[line - 1] = Line(line);
  lines[k - 1] = text;
  SetLines(lines);
}

void MMessage::SetLines(const std::array<std::string_view, kLineCount>& lines) {
  int stored = kLineCount;
  while (stored > 0 && lines[stored - 1].empty())
    --stored;
  if (stored == 0) {
    data_.reset();
    return;
  }
  size_t size = 1;
  for (int line = 0; line < stored; ++line)
    size += LengthSize(lines[line].size()) + lines[line].size();

  // Built aside: `lines` may view the current block.
  auto data = std::make_unique_for_overwrite<char[]>(size);
  char* p = data.get();
  *p++ = static_cast<char>(stored);
  for (int line = 0; line < stored; ++line) {
    p = WriteLength(lines[line].size(), p);
    if (!lines[line].empty())
      std::memcpy(p, lines[line].data(), lines[line].size());
    p += lines[line].size();
  }
  data_ = std::move(data);
}

bool operator==(const MMessage& a, const MMessage& b) {
  const size_t size = a.StoredSize();
  return size == b.StoredSize() &&
         (size == 0 || std::memcmp(a.data_.get(), b.data_.get(), size) == 0);
}

}  // namespace tarvo
