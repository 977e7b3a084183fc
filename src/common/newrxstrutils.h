// Text functions: wildcard matching, words by delimiter sets, replace, fill
// and line splitting.
// Positions are 1-based; 0 means "not found". Texts are 8-bit ANSI text.
// No function keeps state.
#ifndef TARVO_COMMON_NEWRXSTRUTILS_H_
#define TARVO_COMMON_NEWRXSTRUTILS_H_

#include <bitset>
#include <initializer_list>
#include <string>
#include <vector>

namespace tarvo {

// A set of 8-bit character codes.
class CharSet {
 public:
  CharSet() = default;
  CharSet(std::initializer_list<unsigned char> chars);
  explicit CharSet(const std::string& chars);
  bool Contains(char c) const { return bits_.test(static_cast<unsigned char>(c)); }
  void Add(char c) { bits_.set(static_cast<unsigned char>(c)); }

 private:
  std::bitset<256> bits_;
};

// First position in `inputStr` at which `helpWilds` matches, "?" in
// `helpWilds` matching any one character; 0 when none (and for an empty
// `helpWilds`).
int FindPart(const std::string& helpWilds, const std::string& inputStr);

// Whole-text wildcard match: "*" matches any run of characters (also an
// empty one), "?" any one character. With `ignoreCase` both texts are
// compared in ANSI upper case (Latin and Cyrillic letters). The pattern "*"
// matches every text, the empty one too; "**" behaves as "*".
bool IsWild(std::string inputStr, std::string wilds, bool ignoreCase);

// Words are maximal runs of characters not in `wordDelims`, counted from 1;
// runs of delimiters (also leading and trailing) never give empty words.
// WordPosition: the position of the first character of word `n`; 0 when `s`
// has fewer than `n` words. ExtractWord: word `n`, or "". ExtractWordPos:
// as ExtractWord, and sets *pos to WordPosition(n, s, wordDelims).
int WordPosition(int n, const std::string& s, const CharSet& wordDelims);
std::string ExtractWord(int n, const std::string& s, const CharSet& wordDelims);
std::string ExtractWordPos(int n, const std::string& s, const CharSet& wordDelims, int* pos);

// Field `n` (from 1) where every delimiter separates two fields, so adjacent
// delimiters give an empty field; "" for `n` below 1 or past the last field.
std::string ExtractDelimited(int n, const std::string& s, const CharSet& delims);

// The text from *pos up to the next delimiter or the end of `s`. *pos moves
// past that delimiter, or to Length(s) + 1 when the text ran to the end. A
// *pos below 1 counts as 1.
std::string ExtractSubstr(const std::string& s, int* pos, const CharSet& delims);

// Every occurrence of `srch`, left to right, replaced by `replace`; the
// inserted text is not searched again. An empty `srch` leaves `s` unchanged.
std::string ReplaceStr(const std::string& s, const std::string& srch, const std::string& replace);

// `s` padded with `c` to length `n`, on the left (AddChar) or on the right
// (AddCharR). A text of length `n` or more is returned unchanged.
std::string AddChar(char c, const std::string& s, int n);
std::string AddCharR(char c, const std::string& s, int n);
// AddCharR and AddChar with a blank.
std::string LeftStr(const std::string& s, int n);
std::string RightStr(const std::string& s, int n);

// The lines of `text`: CR, LF and CR LF each end a line, and a line break
// at the very end starts no further line, so joining the lines with CR LF
// after each gives the text back with CR LF line ends.
std::vector<std::string> SplitLines(const std::string& text);

// `s` centred between blanks in a field of `len` characters; when the blanks
// cannot be split evenly the extra one goes to the right. A text of length
// `len` or more is returned unchanged.
std::string CenterStr(const std::string& s, int len);

// `s` with every control character (codes 0 to 31 and 127: CR, LF, tab,
// ...) written as "?", so that a text from outside, such as a file name,
// stays on its one line of the log or the journal.
std::string SingleLineText(std::string s);

}  // namespace tarvo

#endif  // TARVO_COMMON_NEWRXSTRUTILS_H_
