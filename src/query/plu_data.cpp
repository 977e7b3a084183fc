#include "query/plu_data.h"

#include <algorithm>
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

std::string_view MMessage::Line(int k) const {
  const char* p = data_.data();
  if (data_.empty() || k < 1 || k > static_cast<unsigned char>(p[0]))
    return {};
  ++p;
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

void MMessage::SetLines(std::span<const std::string_view> lines) {
  int stored = static_cast<int>(std::min<size_t>(lines.size(), kLineCount));
  while (stored > 0 && lines[stored - 1].empty())
    --stored;
  if (stored == 0) {
    data_.clear();
    return;
  }
  size_t size = 1;
  for (int line = 0; line < stored; ++line)
    size += LengthSize(lines[line].size()) + lines[line].size();

  // Built aside, on the stack when it is small: `lines` may view the
  // current text.
  char small[256];
  std::string large;
  char* begin = small;
  if (size > sizeof(small)) {
    large.resize(size);
    begin = large.data();
  }
  char* p = begin;
  *p++ = static_cast<char>(stored);
  for (int line = 0; line < stored; ++line) {
    p = WriteLength(lines[line].size(), p);
    if (!lines[line].empty())
      std::memcpy(p, lines[line].data(), lines[line].size());
    p += lines[line].size();
  }
  data_.assign(std::string_view(begin, size));
}

}  // namespace tarvo
