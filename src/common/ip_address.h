// Dotted IPv4 addresses as the scale list and the import file names use
// them. None of the functions raises.
#ifndef TARVO_COMMON_IP_ADDRESS_H_
#define TARVO_COMMON_IP_ADDRESS_H_

#include <cstdint>
#include <string>

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

}  // namespace tarvo

#endif  // TARVO_COMMON_IP_ADDRESS_H_
