// Small stateless helpers: addresses, numbers, automation values, barcodes.
// None of them raises.
#ifndef TARVO_COMMON_MISCUTIL_H_
#define TARVO_COMMON_MISCUTIL_H_

#include <array>
#include <cstdint>
#include <string>

#include "platform/automation.h"

namespace tarvo {

// Dotted IPv4 text to a number, first part in the highest byte; 0 when the
// text is not a valid address. Blanks around the text are ignored. Each of
// the four parts must be plain decimal digits with a value below 256; the
// first and the last part must not be 0. Text after the fourth part is
// ignored ("10.1.1.5.7" reads as 10.1.1.5); fewer than four parts give 0.
uint32_t ParseIPAddress(const std::string& text);

// Part `index` (0 = first, 3 = last) of the address, 0 to 255; 0 when the
// address is invalid or `index` is outside 0..3.
int GetIPOctet(const std::string& text, int index);

// `text` as a number with the system decimal separator; failing that, with
// every "." replaced by ","; failing that too, `def`.
double StrToFloatDef2(const std::string& text, double def);

// The automation value compared with `n` after automation's conversion;
// false when it does not convert.
bool VariantEqualsInt(const Variant& value, int32_t n);

// Six bytes as twelve upper-case hexadecimal digits.
std::string BytesToHex(const std::array<uint8_t, 6>& bytes);

// The scale's code of user barcode field type `n`: 1 -> 1, 2..10 -> 4..12;
// 0 for every other value.
int32_t MapBarCodeFieldType(int32_t n);

// Name of the user the process runs as (at most 159 characters) and the
// computer's name (at most 15 characters).
std::string GetLocalUserName();
std::string GetLocalComputerName();

}  // namespace tarvo

#endif  // TARVO_COMMON_MISCUTIL_H_
