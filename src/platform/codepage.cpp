#include "platform/codepage.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/codepage_table.h"

namespace tarvo {

namespace {

constexpr char32_t kNoChar = internal::kNoCodePageChar;

// One 8-bit code page: the character of each byte (kNoChar where the page
// defines none) and the way back, sorted by character. Built once from the
// system's tables and read-only afterwards.
class CodePage {
 public:
  explicit CodePage(internal::CodePageRole role) {
    for (int b = 0; b < 0x80; ++b)
      to_unicode_[b] = static_cast<char32_t>(b);
    std::array<char32_t, 128> upper;
    internal::LoadCodePageTable(role, &upper);
    for (int b = 0x80; b < 0x100; ++b)
      to_unicode_[b] = upper[b - 0x80];
    for (int b = 0; b < 0x100; ++b) {
      if (to_unicode_[b] != kNoChar)
        from_unicode_.emplace_back(to_unicode_[b], static_cast<char>(b));
    }
    std::sort(from_unicode_.begin(), from_unicode_.end());
  }

  // kNoChar when the byte is undefined in this page.
  char32_t ToUnicode(unsigned char b) const { return to_unicode_[b]; }

  // "?" when the page lacks the character.
  char FromUnicode(char32_t c) const {
    if (c < 0x80)
      return static_cast<char>(c);
    auto it = std::lower_bound(from_unicode_.begin(), from_unicode_.end(),
                               std::make_pair(c, static_cast<char>(-128)));
    return it != from_unicode_.end() && it->first == c ? it->second : '?';
  }

 private:
  std::array<char32_t, 256> to_unicode_;
  std::vector<std::pair<char32_t, char>> from_unicode_;
};

const CodePage& Ansi() {
  static const CodePage page(internal::CodePageRole::kAnsi);
  return page;
}

const CodePage& Oem() {
  static const CodePage page(internal::CodePageRole::kOem);
  return page;
}

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one UTF-8 character at `pos`, advancing it. An invalid or
// truncated sequence yields kNoChar and advances by one byte.
char32_t NextUtf8(const std::string& s, size_t* pos) {
  const unsigned char lead = static_cast<unsigned char>(s[*pos]);
  int length;
  char32_t c;
  char32_t min;
  if (lead < 0x80) {
    ++*pos;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07, min = 0x10000;
  } else {
    ++*pos;
    return kNoChar;
  }
  if (*pos + length > s.size()) {
    ++*pos;
    return kNoChar;
  }
  for (int i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(s[*pos + i]);
    if ((next & 0xC0) != 0x80) {
      ++*pos;
      return kNoChar;
    }
    c = (c << 6) | (next & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++*pos;
    return kNoChar;
  }
  *pos += length;
  return c;
}

std::string Utf16ToAnsi(const std::string& bytes, size_t start, bool bigEndian) {
  const CodePage& ansi = Ansi();
  std::string out;
  out.reserve((bytes.size() - start) / 2);
  auto unit = [&](size_t i) -> char32_t {
    const unsigned char a = static_cast<unsigned char>(bytes[i]);
    const unsigned char b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  size_t i = start;
  while (i + 1 < bytes.size()) {
    char32_t c = unit(i);
    i += 2;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < bytes.size()) {
      const char32_t low = unit(i);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    out.push_back(c >= 0xD800 && c <= 0xDFFF ? '?' : ansi.FromUnicode(c));
  }
  if (i < bytes.size())
    out.push_back('?');  // a lone last byte
  return out;
}

// The upper-case letter of a Windows-1251 byte; other bytes unchanged.
unsigned char UpperByte(unsigned char c) {
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 'A';
  if (c >= 0xE0)
    return c - 0x20;  // а..я
  switch (c) {
    case 0xB8:
      return 0xA8;  // ё
    case 0x90:
      return 0x80;  // ђ
    case 0x83:
      return 0x81;  // ѓ
    case 0x9A:
      return 0x8A;  // љ
    case 0x9C:
      return 0x8C;  // њ
    case 0x9D:
      return 0x8D;  // ќ
    case 0x9E:
      return 0x8E;  // ћ
    case 0x9F:
      return 0x8F;  // џ
    case 0xA2:
      return 0xA1;  // ў
    case 0xBC:
      return 0xA3;  // ј
    case 0xB4:
      return 0xA5;  // ґ
    case 0xBA:
      return 0xAA;  // є
    case 0xBF:
      return 0xAF;  // ї
    case 0xB3:
      return 0xB2;  // і
    case 0xBE:
      return 0xBD;  // ѕ
    default:
      return c;
  }
}

unsigned char LowerByte(unsigned char c) {
  if (c >= 'A' && c <= 'Z')
    return c - 'A' + 'a';
  if (c >= 0xC0 && c <= 0xDF)
    return c + 0x20;  // А..Я
  switch (c) {
    case 0xA8:
      return 0xB8;
    case 0x80:
      return 0x90;
    case 0x81:
      return 0x83;
    case 0x8A:
      return 0x9A;
    case 0x8C:
      return 0x9C;
    case 0x8D:
      return 0x9D;
    case 0x8E:
      return 0x9E;
    case 0x8F:
      return 0x9F;
    case 0xA1:
      return 0xA2;
    case 0xA3:
      return 0xBC;
    case 0xA5:
      return 0xB4;
    case 0xAA:
      return 0xBA;
    case 0xAF:
      return 0xBF;
    case 0xB2:
      return 0xB3;
    case 0xBD:
      return 0xBE;
    default:
      return c;
  }
}

// Equality of `a` and `b` after `upper` on every character.
template <typename Upper>
bool SameTextAfter(std::string_view a, std::string_view b, Upper upper) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i]))
      return false;
  }
  return true;
}

}  // namespace

std::string AnsiToUtf8(const std::string& ansi) {
  const CodePage& page = Ansi();
  std::string out;
  out.reserve(ansi.size() * 2);
  for (char ch : ansi) {
    const char32_t c = page.ToUnicode(static_cast<unsigned char>(ch));
    AppendUtf8(c == kNoChar ? U'?' : c, &out);
  }
  return out;
}

std::string Utf8ToAnsi(const std::string& utf8) {
  const CodePage& page = Ansi();
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t c = NextUtf8(utf8, &pos);
    out.push_back(c == kNoChar ? '?' : page.FromUnicode(c));
  }
  return out;
}

std::string OemToAnsi(const std::string& oem) {
  const CodePage& from = Oem();
  const CodePage& to = Ansi();
  std::string out;
  out.reserve(oem.size());
  for (char ch : oem) {
    const char32_t c = from.ToUnicode(static_cast<unsigned char>(ch));
    out.push_back(c == kNoChar ? '?' : to.FromUnicode(c));
  }
  return out;
}

std::string AnsiUpperCase(const std::string& ansi) {
  std::string out(ansi);
  for (char& c : out)
    c = static_cast<char>(UpperByte(static_cast<unsigned char>(c)));
  return out;
}

std::string AnsiLowerCase(const std::string& ansi) {
  std::string out(ansi);
  for (char& c : out)
    c = static_cast<char>(LowerByte(static_cast<unsigned char>(c)));
  return out;
}

char AnsiUpperChar(char c) {
  return static_cast<char>(UpperByte(static_cast<unsigned char>(c)));
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string AsciiLower(std::string text) {
  for (char& c : text)
    c = AsciiLower(c);
  return text;
}

bool SameTextAnsi(std::string_view a, std::string_view b) {
  return SameTextAfter(a, b, AnsiUpperChar);
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  return SameTextAfter(a, b, AsciiUpper);
}

TextEncoding DetectBom(const std::string& bytes) {
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
    return TextEncoding::kUtf8;
  if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0)
    return TextEncoding::kUtf16LE;
  if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFE\xFF") == 0)
    return TextEncoding::kUtf16BE;
  return TextEncoding::kNone;
}

std::string DecodeTextFileToAnsi(const std::string& bytes) {
  switch (DetectBom(bytes)) {
    case TextEncoding::kUtf8:
      return Utf8ToAnsi(bytes.substr(3));
    case TextEncoding::kUtf16LE:
      return Utf16ToAnsi(bytes, 2, false);
    case TextEncoding::kUtf16BE:
      return Utf16ToAnsi(bytes, 2, true);
    case TextEncoding::kNone:
      break;
  }
  return bytes;
}

}  // namespace tarvo
