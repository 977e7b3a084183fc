// Numbers read from text, and automation values compared with numbers.
// None of them raises.
#ifndef TARVO_COMMON_NUMBER_TEXT_H_
#define TARVO_COMMON_NUMBER_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/automation.h"

namespace tarvo {

// The system's integer conversion: blanks before the number are accepted,
// then an optional sign and decimal digits, within the range of a 32-bit
// integer. Anything else, trailing blanks included, fails (false, *value
// untouched).
bool TryStrToInt(std::string_view text, int32_t* value);

// `text` as a number with the system decimal separator; failing that, with
// every "." replaced by ","; failing that too, `def`.
double StrToFloatDef2(const std::string& text, double def);

// The automation value compared with `n` after automation's conversion;
// false when it does not convert.
bool VariantEqualsInt(const Variant& value, int32_t n);

}  // namespace tarvo

#endif  // TARVO_COMMON_NUMBER_TEXT_H_
