// libFuzzer target for the text functions that take outside bytes: the code
// page conversions, the ANSI case functions, the word, field and wildcard
// functions, the fast byte scans and the integer conversion.
//
// Input: the first byte picks three scan bytes and a word number, the rest
// is the text, cut in two at its first NUL (pattern and text where two
// texts are needed). Besides crashes and sanitizer reports, the target
// checks what each function promises: conversions round-trip where the code
// pages allow, UTF-8 output is well-formed, the fast scans agree with the
// byte-by-byte ones, the field functions give the text back when joined,
// and every text matches itself as a wildcard pattern.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/newrxstrutils.h"
#include "common/number_text.h"
#include "common/text_scan.h"
#include "fuzz_support.h"
#include "platform/codepage.h"
#include "scaledriver/protocol.h"

namespace {

using namespace tarvo;
using fuzz::Check;

// The one byte Windows-1251 leaves undefined.
constexpr unsigned char kUndefinedAnsi = 0x98;

void CheckCodePages(const std::string& text) {
  // ANSI -> UTF-8 -> ANSI gives the text back, the undefined byte as "?".
  const std::string utf8 = AnsiToUtf8(text);
  Check(scale::IsValidUtf8(utf8), "UTF-8 from ANSI is well-formed");
  std::string expected = text;
  for (char& c : expected) {
    if (static_cast<unsigned char>(c) == kUndefinedAnsi)
      c = '?';
  }
  Check(Utf8ToAnsi(utf8) == expected, "ANSI round-trips through UTF-8");

  // Arbitrary bytes read as UTF-8: at most one ANSI byte per input byte,
  // and what comes out converts back to well-formed UTF-8.
  const std::string ansi = Utf8ToAnsi(text);
  Check(ansi.size() <= text.size(), "UTF-8 to ANSI never grows");
  Check(scale::IsValidUtf8(AnsiToUtf8(ansi)), "ANSI from any bytes converts back");
  if (scale::IsValidUtf8(text))
    Check(AnsiToUtf8(Utf8ToAnsi(text)).size() <= text.size() * 3, "bounded re-encoding");

  Check(OemToAnsi(text).size() == text.size(), "OEM to ANSI is one byte per byte");
  const std::string decoded = DecodeTextFileToAnsi(text);
  if (DetectBom(text) == TextEncoding::kNone)
    Check(decoded == text, "a file without a byte-order mark is read as it is");

  const std::string upper = AnsiUpperCase(text);
  const std::string lower = AnsiLowerCase(text);
  Check(upper.size() == text.size() && lower.size() == text.size(), "case keeps the length");
  Check(AnsiUpperCase(upper) == upper, "upper case is stable");
  Check(SameTextAnsi(text, upper) && SameTextAnsi(lower, upper), "case-blind equality");
  Check(SameTextAscii(text, AsciiLower(text)), "ASCII case-blind equality");
}

void CheckScans(const std::string& text, char a, char b, char c) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  for (size_t skip = 0; skip < 3 && skip <= text.size(); ++skip) {
    const char* from = begin + skip;
    Check(FindAnyOf(from, end, a, b, c) == internal::FindAnyOfBytewise(from, end, a, b, c),
          "FindAnyOf agrees with the plain loop");
    Check(MatchMask64(from, end, a, b, c) == internal::MatchMask64Bytewise(from, end, a, b, c),
          "MatchMask64 agrees with the plain loop");
    Check(CountLineBreaks(from, end, a) == internal::CountLineBreaksBytewise(from, end, a),
          "CountLineBreaks agrees with the plain loop");
    Check(FindLineBreak(from, end) == internal::FindAnyOfBytewise(from, end, '\r', '\n', '\r'),
          "FindLineBreak finds the first CR or LF");
  }
}

void CheckLines(const std::string& text) {
  std::string joined;
  size_t breaks = 0;
  for (const std::string& line : SplitLines(text)) {
    Check(line.find_first_of("\r\n") == std::string::npos, "a line holds no break");
    joined += line + "\r\n";
  }
  std::string normalized;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      ++breaks;
      normalized += "\r\n";
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
    } else {
      normalized += text[i];
    }
  }
  if (!normalized.empty() && normalized.back() != '\n')
    normalized += "\r\n";
  Check(joined == normalized, "lines joined with CR LF give the text back");
  Check(CountLineBreaks(text.data(), text.data() + text.size(), ' ') == breaks,
        "line breaks counted as split");

  const std::string single = SingleLineText(text);
  Check(single.size() == text.size(), "SingleLineText keeps the length");
  for (char c : single)
    Check(static_cast<unsigned char>(c) >= 32 && c != 127, "SingleLineText leaves no control");
}

void CheckWords(const std::string& text, char delim, int n) {
  const CharSet delims{static_cast<unsigned char>(delim)};

  // Fields: one more than delimiters, joined they give the text back.
  size_t count = 1;
  for (char c : text)
    count += c == delim ? 1 : 0;
  std::string joined;
  for (size_t i = 1; i <= count && i <= 64; ++i) {
    if (i > 1)
      joined += delim;
    joined += ExtractDelimited(static_cast<int>(i), text, delims);
  }
  if (count <= 64)
    Check(joined == text, "fields joined give the text back");
  Check(ExtractDelimited(static_cast<int>(count) + 1, text, delims).empty(), "no field past end");

  // ExtractSubstr walks the same fields and ends past the text.
  int pos = 1;
  std::string walked;
  size_t steps = 0;
  while (pos <= static_cast<int>(text.size()) && steps <= text.size()) {
    if (steps > 0)
      walked += delim;
    walked += ExtractSubstr(text, &pos, delims);
    ++steps;
  }
  Check(steps <= text.size(), "ExtractSubstr advances");
  Check(text.empty() || text.back() == delim || walked == text, "ExtractSubstr walks the text");

  // Words: the word at its position, never empty, never holding a delimiter.
  int at = 0;
  const std::string word = ExtractWordPos(n, text, delims, &at);
  Check(at == WordPosition(n, text, delims), "ExtractWordPos sets the word's position");
  if (at == 0) {
    Check(word.empty(), "no word past the last");
  } else {
    Check(!word.empty() && word.find(delim) == std::string::npos, "a word holds no delimiter");
    Check(text.compare(at - 1, word.size(), word) == 0, "the word stands at its position");
    Check(word == ExtractWord(n, text, delims), "ExtractWord agrees with ExtractWordPos");
  }
}

void CheckPatterns(const std::string& pattern, const std::string& text, int n) {
  Check(IsWild(text, text, false) && IsWild(text, text, true), "a text matches itself");
  Check(IsWild(text, "*", false) && IsWild(text, "**", true), "* matches every text");
  if (IsWild(text, pattern, false)) {
    Check(IsWild(text, pattern + "*", false), "a * after a pattern matches at least as much");
    Check(IsWild(text, pattern, true), "a match stays a match without case");
  }

  const int found = FindPart(pattern, text);
  Check(found >= 0 && found <= static_cast<int>(text.size()), "FindPart stays in the text");
  const size_t plain = pattern.empty() ? std::string::npos : text.find(pattern);
  if (plain != std::string::npos)
    Check(found >= 1 && found <= static_cast<int>(plain) + 1, "FindPart finds a plain part");

  if (!pattern.empty())
    Check(ReplaceStr(text, pattern, pattern) == text, "replacing a part by itself changes nothing");
  Check(ReplaceStr(text, "", pattern) == text, "an empty search changes nothing");

  const int width = n % 80;
  const auto expectWidth = [&](const std::string& out) {
    return out.size() == std::max(text.size(), static_cast<size_t>(width));
  };
  Check(expectWidth(AddChar('0', text, width)) && expectWidth(AddCharR('.', text, width)),
        "padding gives the width");
  Check(expectWidth(CenterStr(text, width)), "centring gives the width");
  if (text.size() < static_cast<size_t>(width))
    Check(CenterStr(text, width).find(text) != std::string::npos, "centring keeps the text");
}

void CheckIntegers(const std::string& text) {
  int32_t value = 0;
  if (TryStrToInt(text, &value)) {
    // Leading blanks, a sign and digits: what the standard parser reads.
    std::string_view digits(text);
    digits.remove_prefix(digits.find_first_not_of(' '));
    if (!digits.empty() && digits[0] == '+')
      digits.remove_prefix(1);
    int64_t reference = 0;
    const auto [end, code] =
        std::from_chars(digits.data(), digits.data() + digits.size(), reference);
    Check(code == std::errc() && end == digits.data() + digits.size() && reference == value,
          "TryStrToInt reads what the standard parser reads");
  }
  int32_t back = 0;
  Check(TryStrToInt(std::to_string(value), &back) && back == value, "integers round-trip");
  (void)StrToFloatDef2(text, 0.0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  const uint8_t control = data[0];
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t nul = input.find('\0');
  const std::string pattern = nul == std::string::npos ? std::string() : input.substr(0, nul);
  const std::string text = nul == std::string::npos ? input : input.substr(nul + 1);

  const char delims[] = {',', ';', '\t', ' ', '\r', '\n', '|', '#'};
  const char a = delims[control & 7];
  const char b = delims[(control >> 3) & 7];
  const char c = static_cast<char>(control);
  const int n = 1 + (control >> 5);

  CheckCodePages(input);
  CheckScans(input, a, b, c);
  CheckLines(input);
  CheckWords(text, a, n);
  CheckPatterns(pattern, text, control);
  CheckIntegers(text);
  return 0;
}
