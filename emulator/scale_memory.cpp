#include "emulator/scale_memory.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/files.h"

namespace tarvo::emu {

using scale::MessageRecord;
using scale::PluRecord;

const char kPlusHeader[] =
    "Number\tName\tAddCode\tBarCodeType\tPrice\tWeightUnit\tDep\tTare\tShlefTime\tLabel\tRebate\t"
    "Message\tPackageType\tPackageWeight\tTolerance\tProductionDate\tIcePercent";
const char kMessagesHeader[] =
    "No\tLine1\tLine2\tLine3\tLine4\tLine5\tLine6\tLine7\tLine8\tLine9\tLine10\tLine11\tLine12\t"
    "Line13\tLine14\tLine15\tLine16";

namespace {

constexpr char kSettingsSection[] = "[Settings]";
constexpr char kHotKeysHeader[] = "Key\tValue";
constexpr int kPluColumns = 17;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

// The lines of a file written with LF ends; the text after the last LF must
// be empty.
bool SplitLines(const std::string& text, std::vector<std::string>* lines) {
  if (!text.empty() && text.back() != '\n')
    return false;
  *lines = Split(text, '\n');
  lines->pop_back();
  return true;
}

bool ParseInt(const std::string& text, int32_t* value) {
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && p == end && !text.empty();
}

bool ParseDouble(const std::string& text, double* value) {
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && p == end && !text.empty() && std::isfinite(*value);
}

bool ParseDate(const std::string& text, double* days) {
  if (text.empty()) {
    *days = 0;
    return true;
  }
  int32_t y, m, d;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !ParseInt(text.substr(0, 4), &y) ||
      !ParseInt(text.substr(5, 2), &m) || !ParseInt(text.substr(8, 2), &d)) {
    return false;
  }
  DateTimeParts parts;
  parts.year = y;
  parts.month = m;
  parts.day = d;
  DateTime date;
  if (!DateTime::TryFromParts(parts, &date))
    return false;
  *days = date.Days();
  return true;
}

bool LineError(std::string* error, const char* file, size_t line, const std::string& what) {
  *error = std::string(file) + " line " + std::to_string(line) + ": " + what;
  return false;
}

}  // namespace

std::string EscapeText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

bool UnescapeText(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\t' || c == '\r' || c == '\n')
      return false;
    if (c != '\\') {
      *out += c;
      continue;
    }
    if (++i == text.size())
      return false;
    switch (text[i]) {
      case '\\':
        *out += '\\';
        break;
      case 't':
        *out += '\t';
        break;
      case 'r':
        *out += '\r';
        break;
      case 'n':
        *out += '\n';
        break;
      default:
        return false;
    }
  }
  return true;
}

std::string FormatNumber(double value) {
  if (value == 0)
    return "0";  // also -0
  char buffer[64];
  auto [p, ec] =
      std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::general, 15);
  return ec == std::errc() ? std::string(buffer, p) : "0";
}

std::string FormatDate(double days) {
  if (days == 0)
    return "";
  DateTimeParts parts = DateTime(days).Parts();
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "%04d-%02d-%02d", parts.year, parts.month, parts.day);
  return buffer;
}

std::string FormatPlus(const std::map<int32_t, PluRecord>& plus) {
  std::string out = kPlusHeader;
  out += '\n';
  for (const auto& [number, r] : plus) {
    const std::string columns[kPluColumns] = {
        std::to_string(r.Number),      EscapeText(r.Name),
        std::to_string(r.AddCode),     std::to_string(r.BarCodeType),
        FormatNumber(r.Price),         std::to_string(r.WeightUnit),
        std::to_string(r.Dep),         FormatNumber(r.Tare),
        std::to_string(r.ShelfTime),   std::to_string(r.Label),
        std::to_string(r.Rebate),      std::to_string(r.Message),
        std::to_string(r.PackageType), FormatNumber(r.PackageWeight),
        std::to_string(r.Tolerance),   FormatDate(r.ProductionDate),
        FormatNumber(r.IcePercent),
    };
    for (int i = 0; i < kPluColumns; ++i) {
      if (i > 0)
        out += '\t';
      out += columns[i];
    }
    out += '\n';
  }
  return out;
}

std::string FormatMessages(const std::map<int32_t, MessageRecord>& messages) {
  std::string out = kMessagesHeader;
  out += '\n';
  for (const auto& [no, m] : messages) {
    out += std::to_string(m.No);
    for (const std::string& line : m.Lines) {
      out += '\t';
      out += EscapeText(line);
    }
    out += '\n';
  }
  return out;
}

std::string FormatSettings(const scale::SettingValues& settings) {
  std::string out = kSettingsSection;
  out += '\n';
  for (size_t i = 0; i < settings.size(); ++i) {
    out += scale::SettingKeys()[i].Name;
    out += '=';
    out += EscapeText(scale::SettingText(static_cast<int>(i), settings[i]));
    out += '\n';
  }
  return out;
}

std::string FormatHotKeys(const scale::HotKeyTable& keys) {
  std::string out = kHotKeysHeader;
  out += '\n';
  for (int k = 0; k < kHotKeyCount; ++k) {
    out += std::to_string(k + 1) + '\t' + std::to_string(keys[k]) + '\n';
  }
  return out;
}

bool ParsePlus(const std::string& text, std::map<int32_t, PluRecord>* plus, std::string* error) {
  const char* file = "plus.tsv";
  std::vector<std::string> lines;
  if (!SplitLines(text, &lines))
    return LineError(error, file, 0, "no line end at the end");
  if (lines.empty() || lines[0] != kPlusHeader)
    return LineError(error, file, 1, "bad header");
  plus->clear();
  for (size_t n = 1; n < lines.size(); ++n) {
    std::vector<std::string> c = Split(lines[n], '\t');
    if (c.size() != kPluColumns)
      return LineError(error, file, n + 1, "wrong number of columns");
    PluRecord r;
    bool ok =
        ParseInt(c[0], &r.Number) && UnescapeText(c[1], &r.Name) && ParseInt(c[2], &r.AddCode) &&
        ParseInt(c[3], &r.BarCodeType) && ParseDouble(c[4], &r.Price) &&
        ParseInt(c[5], &r.WeightUnit) && ParseInt(c[6], &r.Dep) && ParseDouble(c[7], &r.Tare) &&
        ParseInt(c[8], &r.ShelfTime) && ParseInt(c[9], &r.Label) && ParseInt(c[10], &r.Rebate) &&
        ParseInt(c[11], &r.Message) && ParseInt(c[12], &r.PackageType) &&
        ParseDouble(c[13], &r.PackageWeight) && ParseInt(c[14], &r.Tolerance) &&
        ParseDate(c[15], &r.ProductionDate) && ParseDouble(c[16], &r.IcePercent);
    if (!ok || !scale::IsValidUtf8(r.Name))
      return LineError(error, file, n + 1, "bad value");
    if (!plus->emplace(r.Number, r).second) {
      return LineError(error, file, n + 1, "PLU number repeated");
    }
  }
  return true;
}

bool ParseMessages(const std::string& text, std::map<int32_t, MessageRecord>* messages,
                   std::string* error) {
  const char* file = "messages.tsv";
  std::vector<std::string> lines;
  if (!SplitLines(text, &lines))
    return LineError(error, file, 0, "no line end at the end");
  if (lines.empty() || lines[0] != kMessagesHeader) {
    return LineError(error, file, 1, "bad header");
  }
  messages->clear();
  for (size_t n = 1; n < lines.size(); ++n) {
    std::vector<std::string> c = Split(lines[n], '\t');
    if (c.size() != 1 + scale::kMessageLines) {
      return LineError(error, file, n + 1, "wrong number of columns");
    }
    MessageRecord m;
    if (!ParseInt(c[0], &m.No))
      return LineError(error, file, n + 1, "bad number");
    for (int k = 0; k < scale::kMessageLines; ++k) {
      if (!UnescapeText(c[k + 1], &m.Lines[k]) || !scale::IsValidUtf8(m.Lines[k])) {
        return LineError(error, file, n + 1, "bad text");
      }
    }
    if (!messages->emplace(m.No, m).second) {
      return LineError(error, file, n + 1, "message number repeated");
    }
  }
  return true;
}

bool ParseSettings(const std::string& text, scale::SettingValues* settings, std::string* error) {
  const char* file = "settings.ini";
  std::vector<std::string> lines;
  if (!SplitLines(text, &lines))
    return LineError(error, file, 0, "no line end at the end");
  if (lines.empty() || lines[0] != kSettingsSection) {
    return LineError(error, file, 1, "no [Settings] section");
  }
  for (size_t n = 1; n < lines.size(); ++n) {
    size_t eq = lines[n].find('=');
    if (eq == std::string::npos)
      return LineError(error, file, n + 1, "no \"=\"");
    int key = scale::FindSettingKey(lines[n].substr(0, eq));
    if (key < 0)
      return LineError(error, file, n + 1, "unknown setting");
    std::string value;
    if (!UnescapeText(lines[n].substr(eq + 1), &value)) {
      return LineError(error, file, n + 1, "bad text");
    }
    scale::SettingValue& v = (*settings)[key];
    if (scale::SettingKeys()[key].Kind == scale::SettingKind::kInt) {
      if (!ParseInt(value, &v.Int))
        return LineError(error, file, n + 1, "not an integer");
    } else if (std::string(scale::SettingKeys()[key].Name) == "UserBarCode" &&
               !scale::IsUserBarCode(value)) {
      return LineError(error, file, n + 1, "not 12 hexadecimal digits");
    } else {
      v.Text = value;
    }
  }
  return true;
}

bool ParseHotKeys(const std::string& text, scale::HotKeyTable* keys, std::string* error) {
  const char* file = "hotkeys.tsv";
  std::vector<std::string> lines;
  if (!SplitLines(text, &lines))
    return LineError(error, file, 0, "no line end at the end");
  if (lines.size() != 1 + kHotKeyCount || lines[0] != kHotKeysHeader) {
    return LineError(error, file, 1, "not a table of 224 keys");
  }
  for (int k = 0; k < kHotKeyCount; ++k) {
    std::vector<std::string> c = Split(lines[k + 1], '\t');
    int32_t key;
    if (c.size() != 2 || !ParseInt(c[0], &key) || key != k + 1 || !ParseInt(c[1], &(*keys)[k])) {
      return LineError(error, file, k + 2, "bad row");
    }
  }
  return true;
}

// ---------------------------------------------------------------------------

std::string ScaleMirror::File(const std::string& name) const {
  return IncludeTrailingPathDelimiter(folder_) + name;
}

bool ScaleMirror::Load(ScaleMemory* memory, std::string* error) const {
  std::string text;
  auto fail = [&](const std::string& what) {
    *error = folder_ + ": " + what;
    return false;
  };
  if (FileExists(File("plus.tsv"))) {
    if (!ReadFileToString(File("plus.tsv"), &text))
      return fail("cannot read plus.tsv");
    if (!ParsePlus(text, &memory->Plus, error))
      return fail(*error);
  }
  if (FileExists(File("messages.tsv"))) {
    if (!ReadFileToString(File("messages.tsv"), &text))
      return fail("cannot read messages.tsv");
    if (!ParseMessages(text, &memory->Messages, error))
      return fail(*error);
  }
  if (FileExists(File("settings.ini"))) {
    if (!ReadFileToString(File("settings.ini"), &text))
      return fail("cannot read settings.ini");
    if (!ParseSettings(text, &memory->Settings, error))
      return fail(*error);
  }
  if (FileExists(File("hotkeys.tsv"))) {
    scale::HotKeyTable keys{};
    if (!ReadFileToString(File("hotkeys.tsv"), &text))
      return fail("cannot read hotkeys.tsv");
    if (!ParseHotKeys(text, &keys, error))
      return fail(*error);
    memory->HotKeys = keys;
  }
  if (FileExists(File("label.scr"))) {
    if (!ReadFileToString(File("label.scr"), &text))
      return fail("cannot read label.scr");
    memory->Label = text;
  }
  if (FileExists(File("logo.bmp"))) {
    if (!ReadFileToString(File("logo.bmp"), &text))
      return fail("cannot read logo.bmp");
    memory->Logo = text;
  }
  for (const FileEntry& entry : ListFolder(folder_, "font*.fnt")) {
    std::string digits = entry.Name.substr(4, entry.Name.size() - 8);
    int32_t number;
    if (entry.IsFolder || !ParseInt(digits, &number) || number < 0 ||
        std::to_string(number) != digits) {
      continue;  // not a name this emulator writes
    }
    if (!ReadFileToString(File(entry.Name), &text))
      return fail("cannot read " + entry.Name);
    memory->Fonts[number] = text;
  }
  return true;
}

bool ScaleMirror::WriteAll(const ScaleMemory& memory, std::string* error) const {
  if (!ForceDirectories(folder_, error))
    return false;
  bool ok =
      WritePlus(memory, error) && WriteMessages(memory, error) && WriteSettings(memory, error);
  if (ok && memory.HotKeys)
    ok = WriteHotKeys(memory, error);
  return ok;
}

bool ScaleMirror::WriteText(const std::string& name, const std::string& text,
                            std::string* error) const {
  return WriteFileAtomic(File(name), text, error);
}

bool ScaleMirror::WritePlus(const ScaleMemory& memory, std::string* error) const {
  return WriteFileAtomic(File("plus.tsv"), FormatPlus(memory.Plus), error);
}

bool ScaleMirror::WriteMessages(const ScaleMemory& memory, std::string* error) const {
  return WriteFileAtomic(File("messages.tsv"), FormatMessages(memory.Messages), error);
}

bool ScaleMirror::WriteSettings(const ScaleMemory& memory, std::string* error) const {
  return WriteFileAtomic(File("settings.ini"), FormatSettings(memory.Settings), error);
}

bool ScaleMirror::WriteHotKeys(const ScaleMemory& memory, std::string* error) const {
  return memory.HotKeys &&
         WriteFileAtomic(File("hotkeys.tsv"), FormatHotKeys(*memory.HotKeys), error);
}

bool ScaleMirror::WriteLabel(const std::string& bytes, std::string* error) const {
  return WriteFileAtomic(File("label.scr"), bytes, error);
}

bool ScaleMirror::WriteFont(int32_t number, const std::string& bytes, std::string* error) const {
  return WriteFileAtomic(File("font" + std::to_string(number) + ".fnt"), bytes, error);
}

bool ScaleMirror::WriteLogo(const std::string& bytes, std::string* error) const {
  return WriteFileAtomic(File("logo.bmp"), bytes, error);
}

void ScaleMirror::LogOperation(const std::string& operation, int32_t code) const {
  DateTimeParts t = Clock::Real()->LocalNow().Parts();
  char stamp[48];
  std::snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  AppendToFile(File("operations.log"),
               std::string(stamp) + '\t' + operation + '\t' + std::to_string(code) + '\n');
}

}  // namespace tarvo::emu
