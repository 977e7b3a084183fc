#include "common/newrxstrutils.h"

#include <cstddef>
#include <utility>

#include "platform/codepage.h"

namespace tarvo {

CharSet::CharSet(std::initializer_list<unsigned char> chars) {
  for (unsigned char c : chars)
    bits_.set(c);
}

CharSet::CharSet(const std::string& chars) {
  for (char c : chars)
    Add(c);
}

int FindPart(const std::string& helpWilds, const std::string& inputStr) {
  if (helpWilds.find('?') == std::string::npos) {
    if (helpWilds.empty())
      return 0;
    size_t found = inputStr.find(helpWilds);
    return found == std::string::npos ? 0 : static_cast<int>(found) + 1;
  }
  if (helpWilds.size() > inputStr.size())
    return 0;
  const size_t last_start = inputStr.size() - helpWilds.size();
  for (size_t start = 0; start <= last_start; ++start) {
    bool matches = true;
    for (size_t k = 0; k < helpWilds.size(); ++k) {
      if (helpWilds[k] != '?' && helpWilds[k] != inputStr[start + k]) {
        matches = false;
        break;
      }
    }
    if (matches)
      return static_cast<int>(start) + 1;
  }
  return 0;
}

bool IsWild(std::string inputStr, std::string wilds, bool ignoreCase) {
  if (inputStr == wilds)
    return true;
  for (size_t at = wilds.find("**"); at != std::string::npos; at = wilds.find("**")) {
    wilds.erase(at, 1);
  }
  if (wilds == "*")
    return true;
  if (ignoreCase) {
    inputStr = AnsiUpperCase(inputStr);
    wilds = AnsiUpperCase(wilds);
  }
  if (inputStr.empty() || wilds.empty())
    return false;

  const size_t input_len = inputStr.size();
  const size_t wilds_len = wilds.size();
  size_t i = 0;  // next input character
  size_t w = 0;  // next pattern character
  while (i < input_len && w < wilds_len) {
    // A star is a wildcard even where the input holds a star itself.
    if (wilds[w] == '*') {
      const size_t next_star = wilds.find('*', w + 1);
      if (next_star == std::string::npos) {
        // The last piece must match the end of the input, without reaching
        // back into the characters already matched.
        const std::string tail = wilds.substr(w + 1);
        if (tail.empty())
          return true;
        if (tail.size() > input_len - i)
          return false;
        const size_t tail_start = input_len - tail.size();
        for (size_t k = 0; k < tail.size(); ++k) {
          if (tail[k] != '?' && tail[k] != inputStr[tail_start + k])
            return false;
        }
        return true;
      }
      const std::string piece = wilds.substr(w + 1, next_star - w - 1);
      const int found = FindPart(piece, inputStr.substr(i));
      if (found == 0)
        return false;
      i += static_cast<size_t>(found) - 1 + piece.size();
      w = next_star;
      continue;
    }
    if (wilds[w] == '?' || wilds[w] == inputStr[i]) {
      ++i;
      ++w;
      continue;
    }
    return false;
  }
  if (i < input_len)
    return false;
  // Pattern left over matches the empty rest only when it is all stars.
  return wilds.find_first_not_of('*', w) == std::string::npos;
}

int WordPosition(int n, const std::string& s, const CharSet& wordDelims) {
  const int len = static_cast<int>(s.size());
  int count = 0;
  int i = 0;
  while (i < len && count != n) {
    while (i < len && wordDelims.Contains(s[i]))
      ++i;
    if (i < len)
      ++count;
    if (count == n)
      return i + 1;
    while (i < len && !wordDelims.Contains(s[i]))
      ++i;
  }
  return 0;
}

std::string ExtractWord(int n, const std::string& s, const CharSet& wordDelims) {
  int unused = 0;
  return ExtractWordPos(n, s, wordDelims, &unused);
}

std::string ExtractWordPos(int n, const std::string& s, const CharSet& wordDelims, int* pos) {
  const int start = WordPosition(n, s, wordDelims);
  if (pos != nullptr)
    *pos = start;
  if (start == 0)
    return std::string();
  size_t end = static_cast<size_t>(start) - 1;
  while (end < s.size() && !wordDelims.Contains(s[end]))
    ++end;
  return s.substr(start - 1, end - (start - 1));
}

std::string ExtractDelimited(int n, const std::string& s, const CharSet& delims) {
  std::string result;
  if (n < 1)
    return result;
  int passed = 0;
  for (size_t i = 0; i < s.size() && passed != n; ++i) {
    if (delims.Contains(s[i])) {
      ++passed;
    } else if (passed == n - 1) {
      result.push_back(s[i]);
    }
  }
  return result;
}

std::string ExtractSubstr(const std::string& s, int* pos, const CharSet& delims) {
  if (pos == nullptr)
    return std::string();
  const size_t len = s.size();
  size_t start = *pos < 1 ? 0 : static_cast<size_t>(*pos) - 1;
  if (start >= len) {
    *pos = static_cast<int>(len) + 1;
    return std::string();
  }
  size_t end = start;
  while (end < len && !delims.Contains(s[end]))
    ++end;
  std::string result = s.substr(start, end - start);
  // Past the delimiter that ended the text, or just past the end of `s`.
  *pos = static_cast<int>(end < len ? end + 1 : len) + 1;
  return result;
}

std::string ReplaceStr(const std::string& s, const std::string& srch, const std::string& replace) {
  if (srch.empty())
    return s;
  std::string result;
  size_t from = 0;
  for (size_t at = s.find(srch); at != std::string::npos; at = s.find(srch, from)) {
    result.append(s, from, at - from);
    result += replace;
    from = at + srch.size();
  }
  result.append(s, from, std::string::npos);
  return result;
}

std::string AddChar(char c, const std::string& s, int n) {
  const int len = static_cast<int>(s.size());
  if (len >= n)
    return s;
  return std::string(n - len, c) + s;
}

std::string AddCharR(char c, const std::string& s, int n) {
  const int len = static_cast<int>(s.size());
  if (len >= n)
    return s;
  return s + std::string(n - len, c);
}

std::string LeftStr(const std::string& s, int n) {
  return AddCharR(' ', s, n);
}

std::string RightStr(const std::string& s, int n) {
  return AddChar(' ', s, n);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(std::move(line));
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty())
    lines.push_back(std::move(line));
  return lines;
}

std::string CenterStr(const std::string& s, int len) {
  const int text_len = static_cast<int>(s.size());
  if (text_len >= len)
    return s;
  const int left = (len - text_len) / 2;
  return std::string(left, ' ') + s + std::string(len - text_len - left, ' ');
}

std::string SingleLineText(std::string s) {
  for (char& c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F)
      c = '?';
  }
  return s;
}

}  // namespace tarvo
