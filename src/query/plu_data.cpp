#include "query/plu_data.h"

namespace tarvo {

namespace {

// Reads one stored length at `pos`, advancing it.
size_t ReadLength(const std::string& data, size_t* pos) {
  size_t length = 0;
  int shift = 0;
  while (*pos < data.size()) {
    const unsigned char byte = static_cast<unsigned char>(data[(*pos)++]);
    length |= static_cast<size_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0)
      break;
    shift += 7;
  }
  return length;
}

size_t LengthSize(size_t length) {
  size_t size = 1;
  for (; length >= 0x80; length >>= 7)
    ++size;
  return size;
}

void AppendLength(size_t length, std::string* data) {
  while (length >= 0x80) {
    data->push_back(static_cast<char>(0x80 | (length & 0x7F)));
    length >>= 7;
  }
  data->push_back(static_cast<char>(length));
}

}  // namespace

std::string_view MMessage::Line(int k) const {
  if (k < 1 || k > kLineCount)
    return {};
  size_t pos = 0;
  for (int line = 1; pos < data_.size(); ++line) {
    const size_t length = ReadLength(data_, &pos);
    if (line == k)
      return std::string_view(data_).substr(pos, length);
    pos += length;
  }
  return {};
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
  int last = kLineCount;
  while (last > 0 && lines[last - 1].empty())
    --last;
  size_t size = 0;
  for (int line = 0; line < last; ++line)
    size += LengthSize(lines[line].size()) + lines[line].size();

  // Built aside: `lines` may view the current data.
  std::string data;
  data.reserve(size);
  for (int line = 0; line < last; ++line) {
    AppendLength(lines[line].size(), &data);
    data.append(lines[line]);
  }
  data_.swap(data);
}

}  // namespace tarvo
