#include "common/ip_address.h"

namespace tarvo {

namespace {

// Removes the blanks and control characters around `text`.
std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
    ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
    --end;
  return text.substr(begin, end - begin);
}

// A part of a dotted address: plain decimal digits, 0 to 255. -1 otherwise.
int ParseAddressPart(const std::string& text) {
  if (text.empty())
    return -1;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return -1;
    value = value * 10 + (c - '0');
    if (value > 255)
      return -1;
  }
  return value;
}

}  // namespace

uint32_t ParseIPAddress(const std::string& text) {
  std::string rest = Trim(text) + ".";
  uint32_t address = 0;
  for (int part_no = 0; part_no < 4; ++part_no) {
    const size_t dot = rest.find('.');
    if (dot == std::string::npos || dot == 0)
      return 0;
    const int part = ParseAddressPart(rest.substr(0, dot));
    if (part < 0)
      return 0;
    if (part == 0 && (part_no == 0 || part_no == 3))
      return 0;
    address = address * 256 + static_cast<uint32_t>(part);
    rest.erase(0, dot + 1);
  }
  return address;
}

int GetIPOctet(const std::string& text, int index) {
  if (index < 0 || index > 3)
    return 0;
  const uint32_t address = ParseIPAddress(text);
  if (address == 0)
    return 0;
  return static_cast<int>((address >> (8 * (3 - index))) & 0xFF);
}

}  // namespace tarvo
