// Import text cut into lines, and a delimited line cut into its fields.
#ifndef TARVO_QUERY_PLU_LINE_SPLIT_H_
#define TARVO_QUERY_PLU_LINE_SPLIT_H_

#include <string>
#include <string_view>

#include "common/text_scan.h"
#include "query/plu_fields.h"

namespace tarvo {

// Cuts text that arrives in pieces into lines: CR, LF and CR LF each end a
// line (also when a piece ends between CR and LF), and a line break at the
// very end of the text adds no empty line.
class LineSplitter {
 public:
  // Calls emit(std::string_view line) for every line that `piece` completes.
  template <typename Emit>
  void Feed(std::string_view piece, Emit&& emit);
  // The end of the text: emits its last line when no line break ends it.
  template <typename Emit>
  void Finish(Emit&& emit);

 private:
  std::string pending_;   // the start of a line that the next piece goes on with
  bool skip_lf_ = false;  // the last piece ended with CR: a leading LF belongs to it
};

// Counts the lines of text that arrives in pieces, by the rules of
// LineSplitter, without cutting them out.
class LineCounter {
 public:
  void Feed(std::string_view piece);
  size_t Lines() const;

 private:
  size_t breaks_ = 0;  // CR, LF and CR LF each count once
  char last_ = '\n';   // the last character so far; none yet counts as a break
};

// Splits a delimited import line into `fields`:
//  - A field that begins with a quote ('"') runs to its closing quote, and
//    may hold separators; text between the closing quote and the next
//    separator is dropped. The closing quote is the last quote of the first
//    run of an odd number of quotes that is followed by another character,
//    or a quote at the very end; a field whose quote has no such end is
//    empty, and the text up to the next separator is dropped.
//  - In every field two adjacent quotes stand for one quote, and any other
//    quote is removed; a vertical tab (code 11) stands for CR LF.
//  - The text after the last separator is the last field, with a leading
//    and a trailing quote removed; a line that ends with the separator has
//    no empty last field. Fields are not trimmed.
void SplitDelimitedLine(std::string_view line, char separator, FieldList* fields);

// The field separator of delimited files: the first character of the
// ImportSimpleSeparator setting, "," when the setting is empty.
char ImportFieldSeparator(const std::string& importSimpleSeparator);

template <typename Emit>
void LineSplitter::Feed(std::string_view piece, Emit&& emit) {
  const char* p = piece.data();
  const char* const end = p + piece.size();
  if (skip_lf_ && p < end) {
    skip_lf_ = false;
    if (*p == '\n')
      ++p;
  }
  while (p < end) {
    const char* const lineEnd = FindLineBreak(p, end);
    if (lineEnd == end) {
      pending_.append(p, end);
      return;
    }
    const std::string_view line(p, static_cast<size_t>(lineEnd - p));
    if (pending_.empty()) {
      emit(line);
    } else {
      pending_.append(line);
      emit(std::string_view(pending_));
      pending_.clear();
    }
    p = lineEnd + 1;
    if (*lineEnd == '\r') {
      if (p == end) {
        skip_lf_ = true;
      } else if (*p == '\n') {
        ++p;
      }
    }
  }
}

template <typename Emit>
void LineSplitter::Finish(Emit&& emit) {
  if (!pending_.empty())
    emit(std::string_view(pending_));
  pending_.clear();
  skip_lf_ = false;
}

}  // namespace tarvo

#endif  // TARVO_QUERY_PLU_LINE_SPLIT_H_
