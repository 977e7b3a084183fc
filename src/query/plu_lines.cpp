#include "query/plu_lines.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>

#include "common/newrxstrutils.h"
#include "common/number_text.h"
#include "common/textnames.h"
#include "platform/codepage.h"
#include "platform/system_formats.h"

namespace tarvo {

namespace {

constexpr char kQuote = '"';
constexpr char kVerticalTab = '\v';
constexpr size_t kNone = std::string_view::npos;

// The driver's default of each PLU member, bound once per parser.
enum DefaultProperty {
  kNameDef,
  kNumberDef,
  kAddCodeDef,
  kBarCodeTypeDef,
  kPriceDef,
  kWeightUnitDef,
  kDepDef,
  kTareDef,
  kShlefTimeDef,
  kMessageDef,
  kLabelDef,
  kRebateDef,
  kPackageWeightDef,
  kPackageTypeDef,
  kToleranceDef,
  kIcePercentDef,
  kDefaultPropertyCount
};

constexpr const char* kDefaultPropertyNames[kDefaultPropertyCount] = {
    "PLU_Name_Def",          "PLU_Number_Def",      "PLU_AddCode_Def",   "PLU_BarCodeType_Def",
    "PLU_Price_Def",         "PLU_WeightUnit_Def",  "PLU_Dep_Def",       "PLU_Tare_Def",
    "PLU_ShlefTime_Def",     "PLU_Message_Def",     "PLU_Label_Def",     "PLU_Rebate_Def",
    "PLU_PackageWeight_Def", "PLU_PackageType_Def", "PLU_Tolerance_Def", "PLU_IcePercent_Def"};

// Weight unit codes that the layouts derive.
constexpr int32_t kUnit100g = 3;
constexpr int32_t kUnitKg = 4;
constexpr int32_t kUnitPiecesG = 9;
constexpr int32_t kUnitPiecesKg = 10;

// The largest value of a shelf time field that is taken as it stands; a
// larger one is a negative value written as its 16-bit complement.
constexpr int32_t kShelfTimeLimit = 500;

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

std::string_view TrimRightBlanks(std::string_view text) {
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  return text;
}

// Columns `first` .. `last` (1-based) of `line`, when both lie within the
// line; empty when `last` < `first` or a column is outside the line.
std::string_view CutColumns(std::string_view line, int64_t first, int64_t last) {
  const int64_t length = static_cast<int64_t>(line.size());
  if (first < 1 || first > length || last < 1 || last > length || last < first)
    return {};
  return line.substr(static_cast<size_t>(first - 1), static_cast<size_t>(last - first + 1));
}

bool IsMarker(char c, char upperMarker) {
  return AnsiUpperChar(c) == upperMarker;
}

// Plain decimals ([sign] digits [separator digits], at most 15 digits) are
// converted here: the digits make an exact integer and one division by an
// exact power of ten rounds as the full conversion does. False for any other
// text.
bool TryPlainDecimal(std::string_view text, char separator, double* value) {
  static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+'))
    ++i;
  int64_t mantissa = 0;
  int digits = 0;
  int fraction = -1;  // digits after the separator; -1 before it
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      if (++digits > 15)
        return false;
      mantissa = mantissa * 10 + (c - '0');
      if (fraction >= 0)
        ++fraction;
    } else if (c == separator && fraction < 0 && digits > 0) {
      fraction = 0;
    } else {
      return false;
    }
  }
  if (digits == 0 || fraction == 0)
    return false;
  const double number = static_cast<double>(mantissa) / kPowersOfTen[fraction < 0 ? 0 : fraction];
  *value = negative ? -number : number;
  return true;
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

double ImportStrToFloat(std::string_view text, double fallback) {
  double value = 0.0;
  if (TryPlainDecimal(text, GetSystemFormats().DecimalSeparator, &value))
    return value;
  const size_t first = text.find_first_not_of(' ');
  if (first == kNone)
    return fallback;
  const size_t last = text.find_last_not_of(' ');
  return StrToFloatDef2(std::string(text.substr(first, last - first + 1)), fallback);
}

char ImportFieldSeparator(const std::string& importSimpleSeparator) {
  return importSimpleSeparator.empty() ? ',' : importSimpleSeparator.front();
}

PLULineParser::PLULineParser(const MSettingsValues& settings, AutomationObject& driver,
                             std::vector<MPLUData>& pluList, MMessages& messageList,
                             LogFunction log)
    : settings_(settings),
      driver_(driver),
      plus_(pluList),
      messages_(messageList),
      log_(std::move(log)),
      separator_(ImportFieldSeparator(settings.ImportSimpleSeparator)) {
  for (int j = 0; j < MMessage::kLineCount; ++j) {
    if (settings.FieldsConfig[kFieldMessageString1 + j].Pos >= 1)
      message_line_count_ = j + 1;
  }
}

Variant PLULineParser::DriverDefault(int property) {
  if (!defaults_bound_) {
    static_assert(kDriverDefaultCount == kDefaultPropertyCount);
    for (int i = 0; i < kDefaultPropertyCount; ++i)
      default_ids_[i] = driver_.GetIdOfName(kDefaultPropertyNames[i]);
    defaults_bound_ = true;
  }
  return driver_.GetPropertyById(default_ids_[property]);
}

void PLULineParser::Log(const std::string& text, int level) const {
  if (log_)
    log_(text, level);
}

bool PLULineParser::ParseDelimitedLine(std::string_view line) {
  SplitDelimitedLine(line, separator_, &fields_);
  return ParseDelimitedFields(fields_);
}

bool PLULineParser::ParseDelimitedFields(const FieldList& fields) {
  const size_t n = fields.size();
  if (settings_.ImportExtraFormat != 2) {
    if (n < 2)
      return false;
    FillPLUFromFields(fields);
    return true;
  }

  // Record-marker layout: field 1 says what the line is.
  if (n < 3 || fields[0].empty())
    return false;
  const char marker = fields[0].front();
  if (IsMarker(marker, 'I'))
    return ParseDelimitedIngredients(fields);
  if (!IsMarker(marker, 'A'))
    return false;

  FillPLUFromFields(fields);
  if (n >= 6) {
    MPLUData& plu = plus_.back();
    int32_t pieces = 0;
    int32_t hundredGrams = 0;
    if (TryStrToInt(fields[5], &pieces) && pieces != 0) {
      plu.WeightUnit = kUnitPiecesKg;
    } else if (n >= 7 && TryStrToInt(fields[6], &hundredGrams) && hundredGrams != 0) {
      plu.WeightUnit = kUnit100g;
    } else {
      plu.WeightUnit = kUnitKg;
    }
  }
  return true;
}

MMessage* PLULineParser::AttachIngredients(std::string_view numberText, int32_t* number) {
  *number = 0;
  TryStrToInt(numberText, number);
  if (*number == 0)
    return nullptr;
  const int64_t index = FindPLU(*number);
  if (index < 0)
    return nullptr;
  Log("Load ingridient PLU " + std::to_string(index), 0);
  return &AttachNewMessage(static_cast<size_t>(index));
}

bool PLULineParser::ParseDelimitedIngredients(const FieldList& fields) {
  int32_t number = 0;
  MMessage* const message = AttachIngredients(fields[1], &number);
  if (message == nullptr)
    return false;
  std::array<std::string_view, MMessage::kLineCount> lines;
  int filled = 0;
  int dropped = 0;
  for (size_t f = 2; f < fields.size(); ++f) {
    const std::string_view text = fields[f];
    if (text.empty())
      continue;
    if (filled == MMessage::kLineCount) {
      ++dropped;  // a message has 16 lines
      continue;
    }
    lines[filled++] = text;
    Log("Ingridient" + std::to_string(f - 2) + ": " + std::string(text), 0);
  }
  message->SetLines(lines);
  if (dropped > 0) {
    Log("PLU " + std::to_string(number) + ": more than 16 ingredient lines, " +
            std::to_string(dropped) + " dropped.",
        4);
  }
  return true;
}

bool PLULineParser::ParseFixedLine(std::string_view line) {
  if (line.empty())
    return false;
  const bool markers = settings_.ImportExtraFormat == 1;
  if (markers) {
    if (IsMarker(line.front(), 'I'))
      return ParseFixedIngredients(line);
    if (!IsMarker(line.front(), 'A'))
      return false;
  }

  CutFixedFields(line);
  FillPLUFromFields(fields_);

  // Two flag columns give the weight unit: pieces (37) and 100 g (38).
  if (markers && line.size() >= 39) {
    const bool pieces = line[36] != '0';
    const bool hundredGrams = line[37] != '0';
    int32_t unit;
    if (pieces) {
      unit = hundredGrams ? kUnitPiecesG : kUnitPiecesKg;
    } else {
      unit = hundredGrams ? kUnit100g : kUnitKg;
    }
    plus_.back().WeightUnit = unit;
  }
  return true;
}

void PLULineParser::CutFixedFields(std::string_view line) {
  const auto& config = settings_.FieldsConfig;
  const int64_t length = static_cast<int64_t>(line.size());
  auto slot = [](int32_t pos) { return pos >= 1 && pos <= kPLUFieldCount; };

  fields_.Reset(kPLUFieldCount);
  for (int i = 0; i < kPLUFieldCount; ++i) {
    const MFieldConfig& field = config[i];
    const std::string_view text = TrimRightBlanks(CutColumns(line, field.PosHome, field.PosEnd));
    if (slot(field.Pos))
      fields_.Set(field.Pos - 1, text);

    // In the fixed record-marker layout a shelf time above the limit is a
    // negative number of five columns: 16-bit complement, the low digits
    // two columns further. The name then stands two columns to the right.
    int32_t shelfTime = 0;
    if (i != kFieldShlefTime || settings_.ImportExtraFormat != 1 ||
        length < int64_t{field.PosEnd} + 2 || !TryStrToInt(text, &shelfTime) ||
        shelfTime <= kShelfTimeLimit) {
      continue;
    }
    int32_t complement = 0;
    TryStrToInt(CutColumns(line, field.PosHome, int64_t{field.PosEnd} + 2), &complement);
    if (slot(field.Pos)) {
      std::string negative(1, '-');
      negative += std::to_string(65536 - int64_t{complement});
      fields_.SetCopy(field.Pos - 1, negative);
    }

    const MFieldConfig& name = config[kFieldName];
    const int64_t first = int64_t{name.PosHome} + 2;
    const int64_t last = int64_t{name.PosEnd} + 2;
    if (first >= 1 && first <= length && last >= 1 && last <= length && slot(name.Pos))
      fields_.Set(name.Pos - 1, TrimRightBlanks(CutColumns(line, first, last)));
  }
}

bool PLULineParser::ParseFixedIngredients(std::string_view line) {
  if (line.size() < 17)
    return false;
  int32_t number = 0;
  MMessage* const message = AttachIngredients(line.substr(1, 15), &number);
  if (message == nullptr)
    return false;
  const std::string text(line.substr(16));
  const CharSet delimiters{3};
  std::array<std::string, 15> words;
  std::array<std::string_view, MMessage::kLineCount> lines;
  int filled = 0;
  for (int k = 1; k <= 15; ++k) {
    std::string word = ExtractWord(k, text, delimiters);
    word.resize(TrimRightBlanks(word).size());
    if (word.empty())
      continue;
    Log("Ingridient" + std::to_string(k - 1) + ": " + word, 0);
    words[filled] = std::move(word);
    lines[filled] = words[filled];
    ++filled;
  }
  message->SetLines(lines);
  return true;
}

void PLULineParser::FillPLUFromFields(const FieldList& fields) {
  plus_.emplace_back();
  SetPLUDefaults();
  MPLUData& plu = plus_.back();

  const auto& config = settings_.FieldsConfig;
  const int32_t format = settings_.ImportExtraFormat;
  const size_t n = fields.size();
  // The text of field `index` of the configuration; false when its Pos is
  // not within the line's fields.
  auto text = [&](int index, std::string_view* out) {
    const int32_t pos = config[index].Pos;
    if (pos < 1 || static_cast<size_t>(pos) > n)
      return false;
    *out = fields[static_cast<size_t>(pos - 1)];
    return true;
  };
  std::string_view t;
  auto readInt = [&](int index, int32_t* member) {
    if (text(index, &t))
      TryStrToInt(t, member);
  };
  auto readFloat = [&](int index, double* member) {
    if (text(index, &t))
      *member = ImportStrToFloat(t, *member);
  };

  readInt(kFieldNumber, &plu.Number);
  if (text(kFieldName, &t))
    plu.Name.assign(t);
  if (format == 2) {
    // The store code carries a two-character prefix; the department is two
    // characters; the barcode type is not in the record.
    if (text(kFieldCode, &t) && t.size() > 2)
      TryStrToInt(t.substr(2), &plu.AddCode);
    if (text(kFieldDep, &t) && t.size() >= 2)
      TryStrToInt(t.substr(0, 2), &plu.Dep);
  } else {
    readInt(kFieldCode, &plu.AddCode);
    readInt(kFieldBarCodeType, &plu.BarCodeType);
    readInt(kFieldDep, &plu.Dep);
  }
  readFloat(kFieldPrice, &plu.Price);
  readInt(kFieldWeightUnit, &plu.WeightUnit);
  readFloat(kFieldTare, &plu.Tare);
  // IcePercent (field 8) is never read from a line.
  if (text(kFieldShlefTime, &t)) {
    int32_t shelfTime = 0;
    if (TryStrToInt(t, &shelfTime)) {
      // The delimited record-marker layout writes a negative shelf time as
      // its 16-bit complement.
      if (format == 2 && shelfTime > kShelfTimeLimit)
        shelfTime -= 65536;
      plu.ShlefTime = shelfTime;
    }
  }
  if (text(kFieldProductionDate, &t)) {
    DateTime date;
    plu.ProductionDate = TryStrToDate(std::string(t), &date) ? date : DateTime();
  }
  readInt(kFieldLabel, &plu.Label);
  readInt(kFieldRebate, &plu.Rebate);
  readInt(kFieldPackageType, &plu.PackageType);
  if (text(kFieldPackageWeight, &t)) {
    int32_t weight = 0;
    if (TryStrToInt(t, &weight))
      plu.PackageWeight = weight;
  }
  readInt(kFieldTolerance, &plu.Tolerance);

  // The plain layout may carry a message in up to 16 fields.
  if (format == 1 || format == 2)
    return;
  bool any = false;
  for (int j = 0; j < message_line_count_; ++j) {
    message_lines_[j] = {};
    if (text(kFieldMessageString1 + j, &message_lines_[j]))
      any = true;
  }
  if (any) {
    AttachNewMessage(plus_.size() - 1)
        .SetLines(std::span<const std::string_view>(message_lines_.data(), message_line_count_));
  }
}

void PLULineParser::SetPLUDefaults() {
  MPLUData& plu = plus_.back();
  const auto& config = settings_.FieldsConfig;

  // The driver's value, or DefVal converted with the driver's value as the
  // fallback. The driver is read in either case.
  auto intDefault = [&](int index, int property) {
    int32_t value = DriverDefault(property).AsInt();
    const std::string& defVal = config[index].DefVal;
    if (!defVal.empty())
      TryStrToInt(defVal, &value);
    return value;
  };
  auto floatDefault = [&](int index, int property) {
    double value = DriverDefault(property).AsDouble();
    const std::string& defVal = config[index].DefVal;
    if (!defVal.empty())
      value = ImportStrToFloat(defVal, value);
    return value;
  };

  const std::string& nameDefVal = config[kFieldName].DefVal;
  plu.Name = nameDefVal.empty() ? Utf8ToAnsi(DriverDefault(kNameDef).AsText()) : nameDefVal;
  plu.Number = intDefault(kFieldNumber, kNumberDef);
  plu.AddCode = intDefault(kFieldCode, kAddCodeDef);
  plu.BarCodeType = intDefault(kFieldBarCodeType, kBarCodeTypeDef);
  plu.Price = floatDefault(kFieldPrice, kPriceDef);
  plu.WeightUnit = intDefault(kFieldWeightUnit, kWeightUnitDef);
  plu.Dep = intDefault(kFieldDep, kDepDef);
  plu.Tare = floatDefault(kFieldTare, kTareDef);
  plu.ShlefTime = intDefault(kFieldShlefTime, kShlefTimeDef);
  plu.Message = DriverDefault(kMessageDef).AsInt();
  plu.Label = intDefault(kFieldLabel, kLabelDef);
  plu.Rebate = intDefault(kFieldRebate, kRebateDef);
  plu.PackageWeight = floatDefault(kFieldPackageWeight, kPackageWeightDef);
  plu.PackageType = intDefault(kFieldPackageType, kPackageTypeDef);
  plu.Tolerance = intDefault(kFieldTolerance, kToleranceDef);

  // The ice glaze percent is written as a whole number.
  plu.IcePercent = DriverDefault(kIcePercentDef).AsDouble();
  int32_t icePercent = 0;
  if (TryStrToInt(config[kFieldIcePercent].DefVal, &icePercent))
    plu.IcePercent = icePercent;

  // The production date default is a day number; none when not given.
  int32_t day = 0;
  TryStrToInt(config[kFieldProductionDate].DefVal, &day);
  plu.ProductionDate = DateTime(day);
}

bool PLULineParser::DropInvalidLastPLU() {
  if (plus_.empty())
    return false;
  const MPLUData& last = plus_.back();
  if (last.Number != 0 && !last.Name.empty() && last.Price != 0.0)
    return false;
  const size_t index = plus_.size() - 1;
  if (indexed_ > index) {
    auto it = first_index_.find(last.Number);
    if (it != first_index_.end() && it->second == index)
      first_index_.erase(it);
    indexed_ = index;
  }
  plus_.pop_back();
  return true;
}

int64_t PLULineParser::FindPLU(int32_t number) {
  if (indexed_ > plus_.size()) {
    first_index_.clear();
    indexed_ = 0;
  }
  for (; indexed_ < plus_.size(); ++indexed_)
    first_index_.try_emplace(plus_[indexed_].Number, indexed_);
  auto it = first_index_.find(number);
  return it == first_index_.end() ? -1 : static_cast<int64_t>(it->second);
}

MMessage& PLULineParser::AttachNewMessage(size_t index) {
  messages_.emplace_back();
  plus_[index].Message = static_cast<int32_t>(messages_.size() - 1);
  return messages_.back();
}

}  // namespace tarvo
