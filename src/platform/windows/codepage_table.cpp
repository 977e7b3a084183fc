#include "platform/codepage_table.h"

#include "platform/windows/win32.h"

namespace tarvo {
namespace internal {

namespace {

// The system's ANSI or OEM page when it is an 8-bit one; a system whose
// page takes more than one byte per character (East Asian) gets the
// Russian pages, the only ones the program's texts are written in.
UINT PageOf(CodePageRole role) {
  const UINT system = role == CodePageRole::kAnsi ? ::GetACP() : ::GetOEMCP();
  CPINFO info;
  if (::GetCPInfo(system, &info) && info.MaxCharSize == 1)
    return system;
  return role == CodePageRole::kAnsi ? 1251 : 866;
}

}  // namespace

void LoadCodePageTable(CodePageRole role, std::array<char32_t, 128>* table) {
  table->fill(kNoCodePageChar);
  const UINT page = PageOf(role);
  for (int b = 0x80; b < 0x100; ++b) {
    const char in = static_cast<char>(b);
    wchar_t out[2];
    // A byte the page leaves undefined fails, or stands for the control
    // character of its own number (0x98 of Windows-1251).
    const int n = ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, &in, 1, out, 2);
    if (n == 1 && !(b < 0xA0 && out[0] == static_cast<wchar_t>(b)))
      (*table)[b - 0x80] = static_cast<char32_t>(out[0]);
  }
}

}  // namespace internal
}  // namespace tarvo
