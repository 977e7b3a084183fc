// The user barcode layout of the scale settings: the six parts that the
// settings file describes, packed into the text that the driver's
// Settings_UserBarCode property takes.
#ifndef TARVO_QUERY_USER_BARCODE_H_
#define TARVO_QUERY_USER_BARCODE_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

// The user barcode layout: six bytes, one per part k = 1..6, from
// UserBarCodeField<k> (type), UserBarCodeFieldLength<k> and
// UserBarCodeFieldShift<k> (0 when missing), as twelve hexadecimal digits.
// A part of length 0 is a zero byte; otherwise the high nibble is the
// scale's code of the type (shift + 1 for type code 1) and the low nibble
// the length. `values` is a name=value list read with ReadSettingValue
// (default 0), which appends the keys it lacks.
std::string UserBarCodeText(std::vector<std::string>& values);

// The scale's code of user barcode field type `n`: 1 -> 1, 2..10 -> 4..12;
// 0 for every other value.
int32_t MapBarCodeFieldType(int32_t n);

// Six bytes as twelve upper-case hexadecimal digits.
std::string BytesToHex(const std::array<uint8_t, 6>& bytes);

}  // namespace tarvo

#endif  // TARVO_QUERY_USER_BARCODE_H_
