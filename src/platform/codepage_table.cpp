#include "platform/codepage_table.h"

#include <iconv.h>

#include <cstdint>

namespace tarvo {
namespace internal {

// ANSI is Windows-1251 and OEM is CP866 here, as on a Russian Windows;
// iconv supplies their tables.
void LoadCodePageTable(CodePageRole role, std::array<char32_t, 128>* table) {
  table->fill(kNoCodePageChar);
  iconv_t cd = iconv_open("UTF-32LE", role == CodePageRole::kAnsi ? "CP1251" : "CP866");
  if (cd == reinterpret_cast<iconv_t>(-1))
    return;
  for (int b = 0x80; b < 0x100; ++b) {
    char in = static_cast<char>(b);
    unsigned char out[8];
    char* inPtr = &in;
    size_t inLeft = 1;
    char* outPtr = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof(out);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) &&
        sizeof(out) - outLeft == 4) {
      (*table)[b - 0x80] = static_cast<char32_t>(out[0] | out[1] << 8 | out[2] << 16 |
                                                 static_cast<uint32_t>(out[3]) << 24);
    }
  }
  iconv_close(cd);
}

}  // namespace internal
}  // namespace tarvo
