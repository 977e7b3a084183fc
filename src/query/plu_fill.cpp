#include "query/plu_fill.h"

#include <array>

#include "common/newrxstrutils.h"
#include "common/number_text.h"
#include "common/textnames.h"
#include "platform/codepage.h"
#include "platform/system_formats.h"
#include "query/plu_line_split.h"
#include "query/plu_numbers.h"

namespace tarvo {

namespace {

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
  kShelfTimeDef,
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

}  // namespace

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
    if (i != kFieldShelfTime || settings_.ImportExtraFormat != 1 ||
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
  if (text(kFieldShelfTime, &t)) {
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
  plu.ShlefTime = intDefault(kFieldShelfTime, kShelfTimeDef);
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
