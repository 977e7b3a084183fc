// The fields of one import line, as the delimited splitter and the
// fixed-column cutter give them to the PLU line parser.
#ifndef TARVO_QUERY_PLU_FIELDS_H_
#define TARVO_QUERY_PLU_FIELDS_H_

#include <string>
#include <string_view>
#include <vector>

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

}  // namespace tarvo

#endif  // TARVO_QUERY_PLU_FIELDS_H_
