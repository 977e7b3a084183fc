#include "platform/automation.h"

#include <cmath>
#include <cstdlib>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/number_text.h"
#include "platform/system_formats.h"

namespace tarvo {

namespace {

const char kTypeMismatch[] = "Type mismatch";
const char kOverflow[] = "Overflow";
const char kInvalidClassString[] = "Invalid class string";

// Rounds half to even, as automation does when it converts a real number
// to an integer (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
int32_t RoundToInt32(double v) {
  if (!std::isfinite(v))
    throw AutomationError(kOverflow);
  double r = std::round(v);
  if (std::fabs(v - std::trunc(v)) == 0.5)
    r = 2.0 * std::round(v / 2.0);
  if (r < -2147483648.0 || r > 2147483647.0)
    throw AutomationError(kOverflow);
  return static_cast<int32_t>(r);
}

std::string Trim(const std::string& s) {
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && (s[begin] == ' ' || s[begin] == '\t'))
    ++begin;
  while (end > begin && (s[end - 1] == ' ' || s[end - 1] == '\t' || s[end - 1] == '\r'))
    --end;
  return s.substr(begin, end - begin);
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return AnsiUpperCase(a) == AnsiUpperCase(b);
}

}  // namespace

bool Variant::AsBool() const {
  switch (type()) {
    case Type::kEmpty:
      return false;
    case Type::kBool:
      return std::get<bool>(value_);
    case Type::kInt:
      return std::get<int32_t>(value_) != 0;
    case Type::kDouble:
      return std::get<double>(value_) != 0.0;
    case Type::kDate:
      return !std::get<DateTime>(value_).IsZero();
    case Type::kText: {
      const std::string text = Trim(std::get<std::string>(value_));
      if (EqualsNoCase(text, "true"))
        return true;
      if (EqualsNoCase(text, "false"))
        return false;
      double number = 0.0;
      if (internal::ParseFloat(text, '.', &number))
        return number != 0.0;
      throw AutomationError(kTypeMismatch);
    }
  }
  throw AutomationError(kTypeMismatch);
}

int32_t Variant::ConvertToInt() const {
  switch (type()) {
    case Type::kEmpty:
      return 0;
    case Type::kBool:
      return std::get<bool>(value_) ? -1 : 0;
    case Type::kInt:
      return std::get<int32_t>(value_);
    case Type::kDouble:
      return RoundToInt32(std::get<double>(value_));
    case Type::kDate:
      return RoundToInt32(std::get<DateTime>(value_).Days());
    case Type::kText: {
      int32_t number = 0;
      if (internal::ParseInt32(Trim(std::get<std::string>(value_)), &number))
        return number;
      throw AutomationError(kTypeMismatch);
    }
  }
  throw AutomationError(kTypeMismatch);
}

double Variant::ConvertToDouble() const {
  switch (type()) {
    case Type::kEmpty:
      return 0.0;
    case Type::kBool:
      return std::get<bool>(value_) ? -1.0 : 0.0;
    case Type::kInt:
      return std::get<int32_t>(value_);
    case Type::kDouble:
      return std::get<double>(value_);
    case Type::kDate:
      return std::get<DateTime>(value_).Days();
    case Type::kText: {
      double number = 0.0;
      if (internal::ParseFloat(Trim(std::get<std::string>(value_)), '.', &number))
        return number;
      throw AutomationError(kTypeMismatch);
    }
  }
  throw AutomationError(kTypeMismatch);
}

std::string Variant::AsText() const {
  switch (type()) {
    case Type::kEmpty:
      return "";
    case Type::kBool:
      return std::get<bool>(value_) ? "True" : "False";
    case Type::kInt:
      return std::to_string(std::get<int32_t>(value_));
    case Type::kDouble:
      return internal::FormatFloat15(std::get<double>(value_), '.');
    case Type::kText:
      return std::get<std::string>(value_);
    case Type::kDate: {
      const DateTime dt = std::get<DateTime>(value_);
      const DateTimeParts p = dt.Parts();
      std::string text = DateToStr(dt);
      if (p.hour != 0 || p.minute != 0 || p.second != 0 || p.millisecond != 0) {
        text += " " + TimeToStr(dt);
      }
      return text;
    }
  }
  throw AutomationError(kTypeMismatch);
}

DateTime Variant::AsDate() const {
  switch (type()) {
    case Type::kEmpty:
      return DateTime();
    case Type::kDate:
      return std::get<DateTime>(value_);
    case Type::kText: {
      DateTime date;
      if (TryStrToDate(Trim(std::get<std::string>(value_)), &date))
        return date;
      throw AutomationError(kTypeMismatch);
    }
    default:
      return DateTime(AsDouble());
  }
}

int32_t AutomationObject::GetIdOfName(const std::string& name) {
  for (size_t id = 0; id < bound_names_.size(); ++id) {
    if (bound_names_[id] == name)
      return static_cast<int32_t>(id);
  }
  bound_names_.push_back(name);
  return static_cast<int32_t>(bound_names_.size() - 1);
}

Variant AutomationObject::GetPropertyById(int32_t id) {
  if (id < 0 || static_cast<size_t>(id) >= bound_names_.size())
    throw AutomationError("Unknown member id " + std::to_string(id));
  return GetProperty(bound_names_[static_cast<size_t>(id)]);
}

void AutomationRegistry::RegisterBuiltin(const std::string& name, AutomationFactory factory) {
  builtins_[AnsiUpperCase(name)] = std::move(factory);
}

void AutomationRegistry::MapProgId(const std::string& progId, const std::string& builtinName) {
  prog_ids_[AnsiUpperCase(progId)] = builtinName;
}

bool AutomationRegistry::LoadTableFile(const std::string& path, std::string* error) {
  std::string bytes;
  if (!ReadFileToString(path, &bytes, error))
    return false;
  const std::string text = DecodeTextFileToAnsi(bytes);

  static const std::string kBuiltinPrefix = "BUILTIN:";
  std::map<std::string, std::string> table;
  bool inSection = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos)
      eol = text.size();
    const std::string line = Trim(text.substr(pos, eol - pos));
    pos = eol + 1;
    if (line.empty() || line[0] == ';')
      continue;
    if (line.front() == '[') {
      inSection = line.back() == ']' && EqualsNoCase(line, "[ProgIDs]");
      continue;
    }
    if (!inSection)
      continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos)
      continue;
    const std::string progId = Trim(line.substr(0, eq));
    const std::string value = Trim(line.substr(eq + 1));
    if (progId.empty() || value.size() <= kBuiltinPrefix.size() ||
        AnsiUpperCase(value.substr(0, kBuiltinPrefix.size())) != kBuiltinPrefix) {
      continue;
    }
    table[AnsiUpperCase(progId)] = Trim(value.substr(kBuiltinPrefix.size()));
  }
  prog_ids_ = std::move(table);
  return true;
}

bool AutomationRegistry::LoadTableFromEnvironment(std::string* error) {
  const char* path = std::getenv("TARVO_AUTOMATION_REGISTRY");
  if (path == nullptr || *path == '\0') {
    system_classes_ = internal::SystemHasClassRegistry();
    return true;
  }
  if (!LoadTableFile(Utf8ToAnsi(path), error))
    return false;
  system_classes_ = false;
  return true;
}

std::unique_ptr<AutomationObject> AutomationRegistry::CreateOleObject(
    const std::string& progId) const {
  if (system_classes_)
    return internal::CreateSystemObject(progId);
  auto mapped = prog_ids_.find(AnsiUpperCase(progId));
  if (mapped == prog_ids_.end())
    throw AutomationError(kInvalidClassString);
  auto builtin = builtins_.find(AnsiUpperCase(mapped->second));
  if (builtin == builtins_.end() || !builtin->second)
    throw AutomationError(kInvalidClassString);
  std::unique_ptr<AutomationObject> object = builtin->second();
  if (!object)
    throw AutomationError(kInvalidClassString);
  return object;
}

}  // namespace tarvo
