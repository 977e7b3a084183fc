#include "settings/workservicesettings.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "common/ip_address.h"
#include "common/number_text.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/system_formats.h"
#include "settings/inifile.h"

namespace tarvo {

namespace {

const char kGlobalSection[] = "GlobalSettings";
const char kScalesSection[] = "ListScales";
const char kFieldsSection[] = "FieldsConfig";

// Index of the line named `key` in a name=value list; -1 when missing.
int FindName(const std::vector<std::string>& list, const std::string& key) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (SameTextAnsi(IniLineKey(list[i]), key))
      return static_cast<int>(i);
  }
  return -1;
}

int32_t IntOrZero(const std::string& text) {
  int32_t value = 0;
  return TryParseSettingInt(text, &value) ? value : 0;
}

// Keeps the first line of each key (case ignored) and drops the later ones:
// readers take the first line of a key, and a later one, once sorted in
// front of it or written over it, would change the value in effect.
void DropRepeatedKeys(std::vector<std::string>* lines) {
  std::vector<std::string> kept;
  for (std::string& line : *lines) {
    if (FindName(kept, IniLineKey(line)) < 0)
      kept.push_back(std::move(line));
  }
  *lines = std::move(kept);
}

std::string FieldKey(int index, const char* attribute) {
  return "Field" + PLUFieldName(index) + attribute;
}

}  // namespace

bool TryParseSettingInt(const std::string& text, int32_t* value) {
  return TryStrToInt(TrimBlanks(text), value);
}

bool TryParseSettingBool(const std::string& text, bool* value) {
  const std::string t = TrimBlanks(text);
  if (SameTextAnsi(t, "True")) {
    *value = true;
    return true;
  }
  if (SameTextAnsi(t, "False")) {
    *value = false;
    return true;
  }
  // A number: 0 is false, any other number true. Only texts that start like
  // a number are tried, so words such as "inf" are not taken for one.
  const char first = t.empty() ? '\0' : t[0];
  const bool numeric_start = (first >= '0' && first <= '9') || first == '+' || first == '-' ||
                             first == GetSystemFormats().DecimalSeparator;
  double number = 0;
  if (!numeric_start || !TryStrToFloat(t, &number))
    return false;
  *value = number != 0;
  return true;
}

std::string SettingBoolText(bool value) {
  return value ? "True" : "False";
}

std::string ReadSettingValue(std::vector<std::string>& list, const std::string& key,
                             const std::string& def) {
  const int index = FindName(list, key);
  if (index < 0) {
    list.push_back(key + "=" + def);
    return def;
  }
  return IniLineValue(list[index]);
}

std::string ReadSettingValue(std::vector<std::string>& list, const std::string& key,
                             const char* def) {
  return ReadSettingValue(list, key, std::string(def));
}

int32_t ReadSettingValue(std::vector<std::string>& list, const std::string& key, int32_t def) {
  const int index = FindName(list, key);
  if (index < 0) {
    list.push_back(key + "=" + std::to_string(def));
    return def;
  }
  const std::string text = IniLineValue(list[index]);
  int32_t value = 0;
  if (!TryParseSettingInt(text, &value)) {
    throw SettingValueError("'" + text + "' is not a valid integer value");
  }
  return value;
}

bool ReadSettingValue(std::vector<std::string>& list, const std::string& key, bool def) {
  const int index = FindName(list, key);
  if (index < 0) {
    list.push_back(key + "=" + SettingBoolText(def));
    return def;
  }
  const std::string text = IniLineValue(list[index]);
  bool value = false;
  if (!TryParseSettingBool(text, &value)) {
    throw SettingValueError("'" + text + "' is not a valid boolean value");
  }
  return value;
}

bool WriteIniSection(const std::string& file_name, const std::string& section,
                     std::vector<std::string>& lines) {
  ForceDirectories(ExtractFileDir(file_name));
  IniFile ini;
  if (!ini.LoadFromFile(file_name))
    return false;
  ini.EraseSection(section);
  DropRepeatedKeys(&lines);
  std::stable_sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
    return CompareTextAnsi(a, b) < 0;
  });
  for (const std::string& line : lines) {
    ini.WriteString(section, IniLineKey(line), IniLineValue(line));
  }
  return ini.SaveToFile(file_name);
}

MServiceSettings::MServiceSettings(std::string exe_path, TSystemLog& log, const Clock& clock)
    : exe_path_(std::move(exe_path)),
      program_folder_(ExtractFilePath(exe_path_)),
      log_(log),
      clock_(clock) {}

std::string MServiceSettings::ReadSettingValue(const std::string& key, const std::string& def) {
  return tarvo::ReadSettingValue(GlobalSettingsList, key, def);
}

std::string MServiceSettings::ReadSettingValue(const std::string& key, const char* def) {
  return tarvo::ReadSettingValue(GlobalSettingsList, key, def);
}

int32_t MServiceSettings::ReadSettingValue(const std::string& key, int32_t def) {
  return tarvo::ReadSettingValue(GlobalSettingsList, key, def);
}

bool MServiceSettings::ReadSettingValue(const std::string& key, bool def) {
  return tarvo::ReadSettingValue(GlobalSettingsList, key, def);
}

void MServiceSettings::LoadSettings() {
  std::unique_lock<std::shared_mutex> lock(Lock);
  try {
    LoadSettingsLocked();
  } catch (const std::exception&) {
    // A value that does not convert (or any other failure) ends the load
    // here; what was read before stays.
  }
}

void MServiceSettings::LoadSettingsLocked() {
  IniFile ini;
  if (!ini.LoadFromFile(IniFileName))
    return;  // exists but unreadable: nothing changes
  GlobalSettingsList = ini.ReadSectionLines(kGlobalSection);

  // A folder setting is never left empty: an empty folder would mean the
  // working directory or the file-system root.
  const std::string journals_default = DefaultJournalsPath();
  JournalsPath = ReadSettingValue("JournalsPath", journals_default);
  if (JournalsPath.empty())
    JournalsPath = journals_default;
  ForceDirectories(JournalsPath);

  LogFileName = ExtractFileName(
      ReadSettingValue("LogFileName", ChangeFileExt(ExtractFileName(exe_path_), ".log")));
  const std::string log_path = JournalsPath + kPathDelim + LogFileName;
  if (log_path != log_.FileName())
    log_.SetFileName(log_path);
  ForceDirectories(ExtractFileDir(log_.FileName()));

  EnableLogFile = ReadSettingValue("EnableLogFile", EnableLogFile);

  MaxLogLevelEvent = ReadSettingValue("MaxLogLevelEvent", MaxLogLevelEvent);
  if (MaxLogLevelEvent < 0 || MaxLogLevelEvent > 6)
    MaxLogLevelEvent = 5;
  log_.SetMinLevel(MaxLogLevelEvent);

  EnableQueryArchive = ReadSettingValue("EnableQueryArchive", false);

  ReWriteLog = ReadSettingValue("ReWriteLog", false);
  log_.SetOption(slRewrite, ReWriteLog);

  // An empty query folder falls back to the default query folder, never to
  // the import folder: commands written there would be imported again.
  const std::string query_default = DefaultQueryPath();
  QueryPath = ReadSettingValue("QueryPath", query_default);
  if (QueryPath.empty())
    QueryPath = query_default;
  ForceDirectories(QueryPath);

  const std::string import_default = DefaultImportPath();
  ImportPath = ReadSettingValue("ImportPath", import_default);
  log_.WriteEvent("Create import path (" + ImportPath + ").", 0);
  std::string error;
  if (!ForceDirectories(ImportPath, &error)) {
    log_.WriteEvent("Error create import path (" + error + ").", 5);
    if (ImportPath.empty()) {
      ImportPath = import_default;
      ForceDirectories(ImportPath);
    }
  }

  SendThreadsCount = ReadSettingValue("SendThreadsCount", 5);
  if (SendThreadsCount < 1 || SendThreadsCount > 255)
    SendThreadsCount = 5;

  ImportInterval = ReadSettingValue("ImportInterval", 20);

  EnableJournals = ReadSettingValue("EnableJournals", true);
  ImportExtraFormat = ReadSettingValue("ImportExtraFormat", 0);
  ImportEncodingWindows = ReadSettingValue("ImportEncodingWindows", true);
  ImportSimpleText = ReadSettingValue("ImportSimpleText", true);
  ImportSimpleSeparator = ReadSettingValue("ImportSimpleSeparator", ",");
  ImportFileFixField = ReadSettingValue("ImportFileFixField", false);
  ClearDataBeforeDownload = ReadSettingValue("ClearDataBeforeDownload", false);
  FileMask_DividerIP = ReadSettingValue("FileMask_DividerIP", "#");
}

bool MServiceSettings::SaveSettings() {
  std::unique_lock<std::shared_mutex> lock(Lock);
  try {
    log_.WriteEvent("Service: Save settings.", 1);
    return WriteIniSection(IniFileName, kGlobalSection, GlobalSettingsList);
  } catch (const std::exception&) {
    return false;
  }
}

void MServiceSettings::LoadScaleList() {
  std::unique_lock<std::shared_mutex> lock(Lock);
  try {
    IniFile ini;
    if (!ini.LoadFromFile(IniFileName)) {
      ScaleListError = true;
      return;
    }
    std::vector<MScaleState> scales;
    for (const std::string& line : ini.ReadSectionLines(kScalesSection)) {
      // Blanks around an address are a typing slip, not part of the address.
      const std::string ip = TrimBlanks(IniLineValue(line));
      if (ParseIPAddress(ip) == 0)
        continue;
      MScaleState scale;
      scale.IP = ip;
      scale.State = -1;
      scale.Operation = -1;
      scale.StateTime = clock_.LocalNow();
      scales.push_back(std::move(scale));
    }
    ScaleList = std::move(scales);
    ScaleListError = false;
  } catch (const std::exception&) {
  }
}

bool MServiceSettings::SaveScaleList() {
  std::unique_lock<std::shared_mutex> lock(Lock);
  try {
    log_.WriteEvent("Service: Save list scales.", 1);
    std::vector<std::string> lines;
    for (size_t i = 0; i < ScaleList.size(); ++i) {
      lines.push_back("Scale" + std::to_string(i + 1) + "=" + ScaleList[i].IP);
    }
    return WriteIniSection(IniFileName, kScalesSection, lines);
  } catch (const std::exception&) {
    return false;
  }
}

void MServiceSettings::LoadFieldsConfig() {
  std::unique_lock<std::shared_mutex> lock(Lock);
  try {
    IniFile ini;
    if (!ini.LoadFromFile(IniFileName))
      return;
    std::array<MFieldConfig, kPLUFieldCount> fields;
    for (int i = 0; i < kPLUFieldCount; ++i) {
      MFieldConfig& f = fields[i];
      f.DefVal = ini.ReadString(kFieldsSection, FieldKey(i, "_DefVal"), "");
      f.Pos = IntOrZero(ini.ReadString(kFieldsSection, FieldKey(i, "_Pos"), ""));
      f.PosHome = IntOrZero(ini.ReadString(kFieldsSection, FieldKey(i, "_PosHome"), ""));
      f.PosEnd = IntOrZero(ini.ReadString(kFieldsSection, FieldKey(i, "_PosEnd"), ""));
    }
    FieldsConfig = std::move(fields);
    const MFieldConfig& number = FieldsConfig[kFieldNumber];
    const MFieldConfig& name = FieldsConfig[kFieldName];
    if (ImportFileFixField) {
      FieldConfigError =
          number.PosHome == 0 || number.PosEnd == 0 || name.PosHome == 0 || name.PosEnd == 0;
    } else {
      FieldConfigError = number.Pos == 0 || name.Pos == 0;
    }
  } catch (const std::exception&) {
  }
}

bool MServiceSettings::SaveFieldsConfig() {
  std::unique_lock<std::shared_mutex> lock(Lock);
  try {
    log_.WriteEvent("Service: Save field config.", 1);
    ForceDirectories(ExtractFileDir(IniFileName));
    IniFile ini;
    if (!ini.LoadFromFile(IniFileName))
      return false;
    ini.EraseSection(kFieldsSection);
    for (int i = 0; i < kPLUFieldCount; ++i) {
      const MFieldConfig& f = FieldsConfig[i];
      ini.WriteString(kFieldsSection, FieldKey(i, "_DefVal"), f.DefVal);
      ini.WriteString(kFieldsSection, FieldKey(i, "_Pos"), std::to_string(f.Pos));
      ini.WriteString(kFieldsSection, FieldKey(i, "_PosHome"), std::to_string(f.PosHome));
      ini.WriteString(kFieldsSection, FieldKey(i, "_PosEnd"), std::to_string(f.PosEnd));
    }
    return ini.SaveToFile(IniFileName);
  } catch (const std::exception&) {
    return false;
  }
}

MSettingsValues MServiceSettings::Snapshot() const {
  std::shared_lock<std::shared_mutex> lock(Lock);
  return static_cast<const MSettingsValues&>(*this);
}

std::vector<std::string> MServiceSettings::GlobalSettingsCopy() const {
  std::shared_lock<std::shared_mutex> lock(Lock);
  return GlobalSettingsList;
}

std::vector<MScaleState> MServiceSettings::ScaleListCopy() const {
  std::shared_lock<std::shared_mutex> lock(Lock);
  return ScaleList;
}

bool MServiceSettings::ChangeGlobalSetting(const std::string& name, const std::string& value) {
  std::unique_lock<std::shared_mutex> lock(Lock);
  const int index = FindName(GlobalSettingsList, name);
  if (index < 0)
    return false;
  if (value.empty()) {
    GlobalSettingsList.erase(GlobalSettingsList.begin() + index);
  } else {
    GlobalSettingsList[index] = name + "=" + value;
  }
  return true;
}

void MServiceSettings::ReplaceScaleList(std::vector<MScaleState> scales) {
  std::unique_lock<std::shared_mutex> lock(Lock);
  ScaleList = std::move(scales);
}

void MServiceSettings::ReplaceFieldsConfig(const std::array<MFieldConfig, kPLUFieldCount>& fields) {
  std::unique_lock<std::shared_mutex> lock(Lock);
  FieldsConfig = fields;
}

}  // namespace tarvo
