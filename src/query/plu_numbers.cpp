#include "query/plu_numbers.h"

#include <cstdint>
#include <string>

#include "common/number_text.h"
#include "platform/system_formats.h"

namespace tarvo {

namespace {

// Plain decimals ([sign] digits [separator digits], at most 15 digits) are
// converted here: the digits make an exact integer and one division by an
// exact power of ten rounds as the full conversion does. False for any other
// text.
bool TryPlainDecimal(std::string_view text, char separator, double* value) {
  static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+'))
    ++i;
  int64_t mantissa = 0;
  int digits = 0;
  int fraction = -1;  // digits after the separator; -1 before it
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      if (++digits > 15)
        return false;
      mantissa = mantissa * 10 + (c - '0');
      if (fraction >= 0)
        ++fraction;
    } else if (c == separator && fraction < 0 && digits > 0) {
      fraction = 0;
    } else {
      return false;
    }
  }
  if (digits == 0 || fraction == 0)
    return false;
  const double number = static_cast<double>(mantissa) / kPowersOfTen[fraction < 0 ? 0 : fraction];
  *value = negative ? -number : number;
  return true;
}

}  // namespace

double ImportStrToFloat(std::string_view text, double fallback) {
  double value = 0.0;
  if (TryPlainDecimal(text, GetSystemFormats().DecimalSeparator, &value))
    return value;
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos)
    return fallback;
  const size_t last = text.find_last_not_of(' ');
  return StrToFloatDef2(std::string(text.substr(first, last - first + 1)), fallback);
}

}  // namespace tarvo
