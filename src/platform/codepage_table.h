// The system's 8-bit code pages, byte by byte, for the conversions of
// codepage.h. Internal to the platform layer.
#ifndef TARVO_PLATFORM_CODEPAGE_TABLE_H_
#define TARVO_PLATFORM_CODEPAGE_TABLE_H_

#include <array>

namespace tarvo {
namespace internal {

// A byte that its code page leaves undefined.
constexpr char32_t kNoCodePageChar = 0xFFFFFFFF;

enum class CodePageRole {
  kAnsi,  // the text of files, log and settings
  kOem,   // DOS text
};

// Stores in (*table)[b - 0x80] the character of each byte b from 0x80 to
// 0xFF of the code page that plays `role` (kNoCodePageChar where the page
// defines none). Bytes below 0x80 are ASCII in every such page.
void LoadCodePageTable(CodePageRole role, std::array<char32_t, 128>* table);

}  // namespace internal
}  // namespace tarvo

#endif  // TARVO_PLATFORM_CODEPAGE_TABLE_H_
