// Code-page conversion. Text inside the service (files, log, settings) is
// 8-bit ANSI text: Windows-1251. DOS text is CP866 (OEM). On Windows they
// are the system's ANSI and OEM code pages (1251 and 866 on a Russian
// system; an East Asian system's multi-byte pages are not used). The
// automation layer, terminals and the file system speak UTF-8. Letter case
// follows Windows-1251 on every system.
//
// Characters that the target code page lacks become "?"; invalid input
// bytes become "?" as well. No function throws.
#ifndef TARVO_PLATFORM_CODEPAGE_H_
#define TARVO_PLATFORM_CODEPAGE_H_

#include <string>
#include <string_view>

namespace tarvo {

std::string AnsiToUtf8(const std::string& ansi);
std::string Utf8ToAnsi(const std::string& utf8);
std::string OemToAnsi(const std::string& oem);

// Upper and lower case of ANSI text (Latin and Cyrillic letters).
std::string AnsiUpperCase(const std::string& ansi);
std::string AnsiLowerCase(const std::string& ansi);
char AnsiUpperChar(char c);

// Case of the ASCII letters only; every other byte, Cyrillic included, stays
// as it is.
char AsciiLower(char c);
char AsciiUpper(char c);
std::string AsciiLower(std::string text);

// Equality of texts without regard to letter case: of the ANSI letters
// (Latin and Cyrillic), or of the ASCII letters only.
bool SameTextAnsi(std::string_view a, std::string_view b);
bool SameTextAscii(std::string_view a, std::string_view b);

// The encoding a text file declares by its byte-order mark.
enum class TextEncoding { kNone, kUtf8, kUtf16LE, kUtf16BE };
TextEncoding DetectBom(const std::string& bytes);

// The file's bytes as ANSI text: a UTF-8 or UTF-16 file with a BOM is
// converted (the BOM dropped); any other content is returned unchanged.
std::string DecodeTextFileToAnsi(const std::string& bytes);

}  // namespace tarvo

#endif  // TARVO_PLATFORM_CODEPAGE_H_
