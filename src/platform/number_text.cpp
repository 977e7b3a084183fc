#include "platform/number_text.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace tarvo {
namespace internal {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::string FormatFloat15(double value, char decimalSeparator) {
  if (value == 0.0)
    return "0";  // also -0
  if (std::isnan(value))
    return "NAN";
  if (std::isinf(value))
    return value > 0 ? "INF" : "-INF";
  char buf[64];
  auto result = std::to_chars(buf, buf + sizeof(buf), value, std::chars_format::general, 15);
  std::string raw(buf, result.ptr);
  std::string out;
  out.reserve(raw.size());
  size_t i = 0;
  for (; i < raw.size() && raw[i] != 'e'; ++i)
    out.push_back(raw[i] == '.' ? decimalSeparator : raw[i]);
  if (i < raw.size()) {  // exponent: "e+05" -> "E5", "e-05" -> "E-5"
    out.push_back('E');
    ++i;
    if (raw[i] == '-')
      out.push_back('-');
    if (raw[i] == '+' || raw[i] == '-')
      ++i;
    while (i + 1 < raw.size() && raw[i] == '0')
      ++i;
    out.append(raw, i, std::string::npos);
  }
  return out;
}

bool ParseFloat(const std::string& text, char decimalSeparator, double* value) {
  // Check the form first; from_chars alone would accept "inf", "nan" and hex.
  std::string normal;
  normal.reserve(text.size());
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-')
      normal.push_back('-');
    ++i;
  }
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) {
    normal.push_back(text[i++]);
    ++digits;
  }
  if (i < text.size() && text[i] == decimalSeparator) {
    normal.push_back('.');
    ++i;
    while (i < text.size() && IsDigit(text[i])) {
      normal.push_back(text[i++]);
      ++digits;
    }
  }
  if (digits == 0)
    return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    normal.push_back('e');
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
      normal.push_back(text[i++]);
    size_t expDigits = 0;
    while (i < text.size() && IsDigit(text[i])) {
      normal.push_back(text[i++]);
      ++expDigits;
    }
    if (expDigits == 0)
      return false;
  }
  if (i != text.size())
    return false;
  double parsed = 0.0;
  auto result = std::from_chars(normal.data(), normal.data() + normal.size(), parsed);
  if (result.ec != std::errc() || result.ptr != normal.data() + normal.size())
    return false;
  *value = parsed;
  return true;
}

bool ParseInt32(const std::string& text, int32_t* value) {
  size_t start = 0;
  if (!text.empty() && text[0] == '+')
    start = 1;
  if (start >= text.size() || text[start] == '+')
    return false;
  if (text[start] == '-' && (start > 0 || text.size() == 1))
    return false;
  for (size_t i = text[start] == '-' ? start + 1 : start; i < text.size(); ++i) {
    if (!IsDigit(text[i]))
      return false;
  }
  int32_t parsed = 0;
  auto result = std::from_chars(text.data() + start, text.data() + text.size(), parsed);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size())
    return false;
  *value = parsed;
  return true;
}

}  // namespace internal
}  // namespace tarvo
