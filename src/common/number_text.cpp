#include "common/number_text.h"

#include <exception>
#include <limits>

#include "common/newrxstrutils.h"
#include "platform/system_formats.h"

namespace tarvo {

bool TryStrToInt(std::string_view text, int32_t* value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size())
    return false;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t number = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9')
      return false;
    number = number * 10 + (c - '0');
    if (number > kLimit)
      return false;
  }
  if (negative)
    number = -number;
  if (number > std::numeric_limits<int32_t>::max())
    return false;
  *value = static_cast<int32_t>(number);
  return true;
}

double StrToFloatDef2(const std::string& text, double def) {
  double value = 0;
  if (TryStrToFloat(text, &value))
    return value;
  if (TryStrToFloat(ReplaceStr(text, ".", ","), &value))
    return value;
  return def;
}

bool VariantEqualsInt(const Variant& value, int32_t n) {
  try {
    if (value.type() == Variant::Type::kInt)
      return value.AsInt() == n;
    return value.AsDouble() == static_cast<double>(n);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace tarvo
