#include "query/plu_line_split.h"

#include <algorithm>
#include <bit>
#include <cstdint>

namespace tarvo {

namespace {

constexpr char kQuote = '"';
constexpr char kVerticalTab = '\v';
constexpr size_t kNone = std::string_view::npos;

// Finds the separators, quotes and vertical tabs of one delimited line,
// 64 bytes at a step.
class LineScanner {
 public:
  LineScanner(std::string_view line, char separator) : line_(line), separator_(separator) {}

  // Index of the first separator, quote or vertical tab at or after `from`;
  // kNone when there is none.
  size_t NextSpecial(size_t from) {
    if (from >= line_.size())
      return kNone;
    size_t window = from & ~size_t{63};
    Load(window);
    const uint64_t rest = mask_ >> (from - window);
    if (rest != 0)
      return from + static_cast<size_t>(std::countr_zero(rest));
    for (window += 64; window < line_.size(); window += 64) {
      Load(window);
      if (mask_ != 0)
        return window + static_cast<size_t>(std::countr_zero(mask_));
    }
    return kNone;
  }

  // Index of the first `c` (the separator, a quote or a vertical tab) at or
  // after `from`; kNone when there is none.
  size_t Next(char c, size_t from) {
    size_t at = NextSpecial(from);
    while (at != kNone && line_[at] != c)
      at = NextSpecial(at + 1);
    return at;
  }

  // True when [begin, end) holds a quote or a vertical tab.
  bool QuoteOrTabIn(size_t begin, size_t end) {
    for (size_t at = NextSpecial(begin); at < end; at = NextSpecial(at + 1)) {
      if (line_[at] == kQuote || line_[at] == kVerticalTab)
        return true;
    }
    return false;
  }

  // Index of the quote that closes a quoted field whose text starts at
  // `begin`: the last quote of the first run of an odd number of quotes
  // that another character follows; failing that, the last quote of the
  // line. kNone when there is no quote from `begin` on. *clean tells
  // whether the text up to that quote holds neither quote nor vertical tab.
  size_t ClosingQuote(size_t begin, bool* clean) {
    bool tab = false;
    size_t first = NextSpecial(begin);
    for (; first != kNone && line_[first] != kQuote; first = NextSpecial(first + 1))
      tab = tab || line_[first] == kVerticalTab;
    // Most often that quote stands alone, and closes whether another
    // character follows it or not.
    if (first == kNone || first + 1 == line_.size() || line_[first + 1] != kQuote) {
      *clean = !tab;
      return first;
    }
    *clean = false;
    size_t last = kNone;
    size_t run = 0;
    for (size_t i = first; i < line_.size(); ++i) {
      if (line_[i] == kQuote) {
        ++run;
        last = i;
      } else {
        if (run % 2 == 1)
          return last;
        run = 0;
      }
    }
    return last;
  }

 private:
  void Load(size_t window) {
    if (window == window_)
      return;
    window_ = window;
    const char* const end = line_.data() + line_.size();
    if (window + 64 > line_.size() && line_.size() >= 64) {
      // The last 64 bytes of the line, shifted: no copy of a short tail.
      const uint64_t tail = MatchMask64(end - 64, end, separator_, kQuote, kVerticalTab);
      mask_ = tail >> (window - (line_.size() - 64));
      return;
    }
    mask_ = MatchMask64(line_.data() + window, end, separator_, kQuote, kVerticalTab);
  }

  const std::string_view line_;
  const char separator_;
  size_t window_ = kNone;  // start of the 64 bytes that mask_ covers
  uint64_t mask_ = 0;
};

}  // namespace

void LineCounter::Feed(std::string_view piece) {
  if (piece.empty())
    return;
  breaks_ += CountLineBreaks(piece.data(), piece.data() + piece.size(), last_);
  last_ = piece.back();
}

size_t LineCounter::Lines() const {
  return breaks_ + (last_ == '\n' || last_ == '\r' ? 0 : 1);
}

void SplitDelimitedLine(std::string_view line, char separator, FieldList* fields) {
  fields->clear();
  LineScanner scan(line, separator);
  // A field without quotes and vertical tabs is viewed as it stands.
  auto add = [&](size_t begin, size_t end) {
    const std::string_view text = line.substr(begin, end - begin);
    if (scan.QuoteOrTabIn(begin, end)) {
      fields->AddResolved(text);
    } else {
      fields->Add(text);
    }
  };

  const size_t n = line.size();
  size_t pos = 0;  // where the current field starts
  for (;;) {
    size_t p;  // the separator that ends the current field
    if (pos < n && line[pos] == kQuote) {
      const size_t start = pos;
      bool clean = false;
      const size_t q = scan.ClosingQuote(start + 1, &clean);
      const size_t after = q != kNone ? q + 1 : start + 1;
      const size_t next = scan.Next(separator, after);
      if (next == kNone) {
        // The field is the last one unless a separator follows its start
        // (within the quotes); what remains of the line is then cut as far
        // beyond the closing quote as that separator lay beyond the start.
        if ((p = scan.Next(separator, start)) == kNone)
          break;
        pos = after + std::min(p - start + 1, n - after);
      } else {
        pos = next + 1;
      }
      if (q == kNone) {
        fields->Add({});
      } else if (clean) {
        fields->Add(line.substr(start + 1, q - start - 1));
      } else {
        add(start + 1, q);
      }
    } else {
      // The separator, or first the quote or vertical tab that makes the
      // field's text change.
      const size_t at = scan.NextSpecial(pos);
      if (at == kNone)
        break;
      if (line[at] == separator) {
        fields->Add(line.substr(pos, at - pos));
        p = at;
      } else {
        if ((p = scan.Next(separator, at)) == kNone)
          break;
        fields->AddResolved(line.substr(pos, p - pos));
      }
      pos = p + 1;
    }
  }
  if (pos < n) {
    size_t begin = pos;
    size_t end = n;
    if (line[begin] == kQuote)
      ++begin;
    if (begin < end && line[end - 1] == kQuote)
      --end;
    add(begin, end);
  }
}

char ImportFieldSeparator(const std::string& importSimpleSeparator) {
  return importSimpleSeparator.empty() ? ',' : importSimpleSeparator.front();
}

}  // namespace tarvo
