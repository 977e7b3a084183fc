// The line parsers of the PLU load step: the delimited splitter, the
// fixed-column cutter, the two record-marker layouts (ImportExtraFormat 1
// for fixed files, 2 for delimited files), the field mapping by the field
// configuration and the defaults of a new PLU.
#ifndef TARVO_QUERY_PLU_LINES_H_
#define TARVO_QUERY_PLU_LINES_H_

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/text_scan.h"
#include "platform/automation.h"
#include "query/plu_data.h"
#include "settings/workservicesettings.h"

namespace tarvo {

// The fields of one import line, numbered from 0 here (field i + 1 of the
// line). A field views the line's text as it stands, or, when its text had
// to be changed, a copy kept in the list. Views of the line are valid while
// the line's text is; all views are valid until the list is next changed.
class FieldList {
 public:
  size_t size() const { return fields_.size(); }
  std::string_view operator[](size_t i) const {
    const Field& f = fields_[i];
    return f.own ? std::string_view(buffer_).substr(f.offset, f.text.size()) : f.text;
  }

  // No fields.
  void clear();
  // Exactly `n` fields, all empty.
  void Reset(size_t n);
  // Appends a field that views `text`.
  void Add(std::string_view text);
  // Appends a field whose text is `text` with every pair of adjacent quotes
  // made one quote, every other quote removed and every vertical tab
  // (code 11) made CR LF.
  void AddResolved(std::string_view text);
  // Field `i` views `text`, or holds a copy of it.
  void Set(size_t i, std::string_view text);
  void SetCopy(size_t i, std::string_view text);

 private:
  struct Field {
    std::string_view text;  // with `own`, only its size counts
    size_t offset = 0;      // where an own text starts in buffer_
    bool own = false;
  };
  std::vector<Field> fields_;
  std::string buffer_;  // the own texts of the current line
};

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

// The decimal conversion of import fields: the number written with the
// system decimal separator, or failing that with every "." read as ","
// (so "2.5" reads on both kinds of system); blanks around the number are
// ignored. `fallback` when neither converts.
double ImportStrToFloat(std::string_view text, double fallback);

// The field separator of delimited files: the first character of the
// ImportSimpleSeparator setting, "," when the setting is empty.
char ImportFieldSeparator(const std::string& importSimpleSeparator);

// Parses the lines of one PLU import file into a PLU list and a message
// list by the settings' field configuration, ImportExtraFormat and
// separator. New PLUs take their defaults from the field configuration's
// DefVal or else from the driver's PLU_*_Def properties, read again for
// every PLU. The parser appends to the lists and reads them; nothing else
// may change them while it is in use. `settings`, `driver` and the lists
// must outlive the parser, and `settings` must not change meanwhile. Driver
// failures raise AutomationError.
class PLULineParser {
 public:
  // Receives the parser's detail lines ("Load ingridient PLU ...").
  using LogFunction = std::function<void(const std::string& text, int level)>;

  PLULineParser(const MSettingsValues& settings, AutomationObject& driver,
                std::vector<MPLUData>& pluList, MMessages& messageList, LogFunction log);

  PLULineParser(const PLULineParser&) = delete;
  PLULineParser& operator=(const PLULineParser&) = delete;

  char FieldSeparator() const { return separator_; }

  // Each returns true when the line was taken (a PLU appended, or an
  // ingredient line attached to an earlier PLU as a new message) and false
  // for a bad line. A PLU appended for a line may still be invalid; see
  // DropInvalidLastPLU().
  bool ParseDelimitedLine(std::string_view line);
  // The same for a line already split by SplitDelimitedLine with
  // FieldSeparator().
  bool ParseDelimitedFields(const FieldList& fields);
  bool ParseFixedLine(std::string_view line);

  // Appends one PLU with its defaults, then sets its members from `fields`
  // by the field configuration (and, in the plain layout, appends the
  // message that the message fields give).
  void FillPLUFromFields(const FieldList& fields);

  // Fills the last PLU of the list with its defaults.
  void SetPLUDefaults();

  // Removes the last PLU when its Number is 0, its Name empty or its Price
  // 0.0, and returns true then. A message already attached to it stays.
  bool DropInvalidLastPLU();

 private:
  // Index in the PLU list of the first PLU with `number`; -1 if none.
  int64_t FindPLU(int32_t number);
  // Appends an empty message, points PLU `index` at it and returns it.
  MMessage& AttachNewMessage(size_t index);
  // Reads the PLU number of an ingredient line from `numberText` into
  // *number, and attaches a new message to the first PLU with that number;
  // null when the text holds no number or no PLU has it.
  MMessage* AttachIngredients(std::string_view numberText, int32_t* number);
  bool ParseDelimitedIngredients(const FieldList& fields);
  bool ParseFixedIngredients(std::string_view line);
  void CutFixedFields(std::string_view line);
  void Log(const std::string& text, int level) const;
  // Reads the driver's default property `property`, one of the
  // kDriverDefaultCount PLU_*_Def properties in the order of plu_lines.cpp;
  // binds their names the first time.
  Variant DriverDefault(int property);

  const MSettingsValues& settings_;
  AutomationObject& driver_;
  std::vector<MPLUData>& plus_;
  MMessages& messages_;
  const LogFunction log_;
  const char separator_;

  static constexpr int kDriverDefaultCount = 16;
  bool defaults_bound_ = false;
  std::array<int32_t, kDriverDefaultCount> default_ids_{};
  FieldList fields_;  // the current line's fields, kept between lines
  // The plain layout's message fields: lines up to the last one placed.
  int message_line_count_ = 0;
  std::array<std::string_view, MMessage::kLineCount> message_lines_;
  // First list index of each PLU number, for the ingredient lines; covers
  // the first `indexed_` PLUs of the list and is brought up to date when used.
  std::unordered_map<int32_t, size_t> first_index_;
  size_t indexed_ = 0;
};

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

#endif  // TARVO_QUERY_PLU_LINES_H_
