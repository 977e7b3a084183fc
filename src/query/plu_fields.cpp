#include "query/plu_fields.h"

namespace tarvo {

namespace {

constexpr char kQuote = '"';
constexpr char kVerticalTab = '\v';

// Appends `text` with every pair of adjacent quotes made one quote, every
// other quote removed and every vertical tab made CR LF.
void AppendResolved(std::string_view text, std::string* out) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == kQuote) {
      if (i + 1 < text.size() && text[i + 1] == kQuote) {
        out->push_back(kQuote);
        ++i;
      }
    } else if (c == kVerticalTab) {
      out->append("\r\n");
    } else {
      out->push_back(c);
    }
  }
}

}  // namespace

void FieldList::clear() {
  fields_.clear();
  buffer_.clear();
}

void FieldList::Reset(size_t n) {
  clear();
  fields_.resize(n);
}

void FieldList::Add(std::string_view text) {
  fields_.push_back({text, 0, false});
}

void FieldList::AddResolved(std::string_view text) {
  const size_t offset = buffer_.size();
  AppendResolved(text, &buffer_);
  fields_.push_back({std::string_view(nullptr, buffer_.size() - offset), offset, true});
}

void FieldList::Set(size_t i, std::string_view text) {
  fields_[i] = {text, 0, false};
}

void FieldList::SetCopy(size_t i, std::string_view text) {
  const size_t offset = buffer_.size();
  buffer_.append(text);
  fields_[i] = {std::string_view(nullptr, text.size()), offset, true};
}

}  // namespace tarvo
