// Number text shared by the automation values and the system formats.
// Internal to the platform layer.
#ifndef TARVO_PLATFORM_NUMBER_TEXT_H_
#define TARVO_PLATFORM_NUMBER_TEXT_H_

#include <cstdint>
#include <string>

namespace tarvo {
namespace internal {

// `value` with at most 15 significant digits and no trailing zeros, the
// given decimal separator, and an exponent written as "E20" or "E-5" when
// the value is very large or very small.
std::string FormatFloat15(double value, char decimalSeparator);

// Parses the whole of `text` as [+|-]digits[<sep>digits][(e|E)[+|-]digits]
// with at least one mantissa digit. No blanks, no infinities. False when the
// text is not such a number or is out of the range of a double.
bool ParseFloat(const std::string& text, char decimalSeparator, double* value);

// Parses the whole of `text` as [+|-]digits within the range of int32.
bool ParseInt32(const std::string& text, int32_t* value);

}  // namespace internal
}  // namespace tarvo

#endif  // TARVO_PLATFORM_NUMBER_TEXT_H_
