// libFuzzer target for the service's INI-shaped inputs: the INI reader and
// the whole settings load, the command files of the queue, and the scale
// settings and hot-key files of the scale commands.
//
// Input: the first byte chooses what the rest is:
//   0  the service's settings file: read and written back by IniFile, then
//      loaded, saved and loaded again by the settings record;
//   1  the fields of one queued command (scale address, command number,
//      sequence, original file name), written as a command file and read
//      back as the worker reads it;
//   2  a scale settings file, loaded and sent to a scale driver;
//   3  a hot-key file, loaded and sent to a scale driver.
// Every file is written inside one folder made at start-up; the folder
// settings of a settings file are moved inside it before the load.
//
// Besides crashes and sanitizer reports the target checks what each reader
// promises: an INI text written back reads the same, a value written reads
// back as written, the scale list holds exactly the valid addresses, the
// numeric settings stay in their ranges, a saved configuration loads back
// equal, a command file gives back its command, and the load and send steps
// record one state each and hand the driver the file's values (or send
// nothing when the file is refused).

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/ip_address.h"
#include "common/newrxstrutils.h"
#include "common/structdefines.h"
#include "fuzz_support.h"
#include "log/logoperations.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "query/file_transfers.h"
#include "query/settings_transfer.h"
#include "query/step_context.h"
#include "scaledriver/protocol.h"
#include "scaledriver/scale_driver.h"
#include "service/command_files.h"
#include "settings/inifile.h"
#include "settings/workservicesettings.h"

namespace {

using namespace tarvo;
using fuzz::Check;

const std::string& Folder() {
  static const fuzz::RunFolder folder("settings_fuzz", {"/query", "/import"});
  return folder.path();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr)
    return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && written;
}

// ---------------------------------------------------------------------------
// The settings file

// A key and a value that IniFile stores as they are: one line, no "=" in the
// key, no blanks around either, no comment or section mark at the start.
bool StorableKey(const std::string& key) {
  return !key.empty() && key == TrimBlanks(key) && key.find('=') == std::string::npos &&
         key[0] != ';' && key[0] != '[' && key.find_first_of("\r\n") == std::string::npos;
}

std::string StorableValue(std::string value) {
  for (char& c : value) {
    if (c == '\r' || c == '\n')
      c = '_';
  }
  return TrimBlanks(value);
}

void CheckIniText(const std::string& bytes) {
  // Read from a file, the bytes are first converted by their byte-order mark.
  const std::string file = Folder() + "/query/read.ini";
  WriteFile(file, bytes);
  const std::string text = DecodeTextFileToAnsi(bytes);
  IniFile ini;
  Check(ini.LoadFromFile(file), "an INI file reads");
  Check(ini.ToText() == IniFile::Parse(text).ToText(), "a file reads as its converted text");

  const std::string written = ini.ToText();
  const IniFile reread = IniFile::Parse(written);
  Check(reread.ToText() == written, "INI text written back reads the same");
  for (const std::string& section : ini.SectionNames()) {
    Check(reread.ReadSectionLines(section) == ini.ReadSectionLines(section),
          "a section written back keeps its lines");
  }

  // A value written under the first section's first key reads back as
  // written, in memory and after a round trip through the text.
  const std::vector<std::string> sections = ini.SectionNames();
  if (sections.empty())
    return;
  const std::vector<std::string> keys = ini.ReadSectionKeys(sections[0]);
  const std::string key = keys.empty() ? "Probe" : keys[0];
  if (!StorableKey(key) || sections[0].find(']') != std::string::npos)
    return;
  const std::string value =
      StorableValue(ini.ReadString(sections.back(), "Value", text.substr(0, 40)));
  ini.WriteString(sections[0], key, value);
  Check(ini.ReadString(sections[0], key, "\x01") == value, "a value written reads back");
  Check(IniFile::Parse(ini.ToText()).ReadString(sections[0], key, "\x01") == value,
        "a value written reads back from the text");
}

// The folder settings of the file, moved inside the fuzzing folder so that
// the load creates nothing outside it. Empty values stay empty: the load's
// fallback to the default folders is part of what is checked.
std::string FoldersInside(const std::string& text, const std::string& inside) {
  IniFile ini = IniFile::Parse(text);
  for (const char* key : {"JournalsPath", "QueryPath", "ImportPath"}) {
    const std::string value = ini.ReadString("GlobalSettings", key, "");
    if (value.empty())
      continue;
    std::string name = value;
    for (char& c : name) {
      if (c == '/' || c == '.')
        c = '_';
    }
    ini.WriteString("GlobalSettings", key, inside + "/" + name.substr(0, 64));
  }
  return ini.ToText();
}

struct LoadedSettings {
  ManualClock clock;
  TSystemLog log{LogOptions{slDisabled}, clock, LogProcessInfo()};
  MServiceSettings settings;

  explicit LoadedSettings(const std::string& folder)
      : settings(folder + "/tarvo-scale-server", log, clock) {
    settings.IniFileName = folder + "/tarvo-scale-server.ini";
    settings.LoadSettings();
    settings.LoadScaleList();
    settings.LoadFieldsConfig();
  }
};

bool SameValues(const MSettingsValues& a, const MSettingsValues& b) {
  for (int i = 0; i < kPLUFieldCount; ++i) {
    const MFieldConfig& x = a.FieldsConfig[i];
    const MFieldConfig& y = b.FieldsConfig[i];
    if (x.DefVal != y.DefVal || x.Pos != y.Pos || x.PosHome != y.PosHome || x.PosEnd != y.PosEnd)
      return false;
  }
  return a.FieldConfigError == b.FieldConfigError && a.ScaleListError == b.ScaleListError &&
         a.LogFileName == b.LogFileName && a.QueryPath == b.QueryPath &&
         a.EnableLogFile == b.EnableLogFile && a.MaxLogLevelEvent == b.MaxLogLevelEvent &&
         a.EnableQueryArchive == b.EnableQueryArchive && a.ReWriteLog == b.ReWriteLog &&
         a.SendThreadsCount == b.SendThreadsCount && a.JournalsPath == b.JournalsPath &&
         a.EnableJournals == b.EnableJournals && a.ImportExtraFormat == b.ImportExtraFormat &&
         a.ImportInterval == b.ImportInterval && a.ImportPath == b.ImportPath &&
         a.ImportEncodingWindows == b.ImportEncodingWindows &&
         a.ImportSimpleText == b.ImportSimpleText &&
         a.ImportSimpleSeparator == b.ImportSimpleSeparator &&
         a.ImportFileFixField == b.ImportFileFixField &&
         a.ClearDataBeforeDownload == b.ClearDataBeforeDownload &&
         a.FileMask_DividerIP == b.FileMask_DividerIP;
}

std::vector<std::string> Addresses(const std::vector<MScaleState>& scales) {
  std::vector<std::string> ips;
  for (const MScaleState& s : scales)
    ips.push_back(s.IP);
  return ips;
}

void CheckSettingsLoad(const std::string& text) {
  const std::string folder = Folder() + "/service";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  // The file as the load reads it (a byte-order mark converted), with its
  // folders moved inside.
  const std::string ini_text = FoldersInside(DecodeTextFileToAnsi(text), folder + "/paths");
  WriteFile(folder + "/tarvo-scale-server.ini", ini_text);

  LoadedSettings first(folder);
  const MSettingsValues values = first.settings.Snapshot();
  Check(!values.ScaleListError, "a readable file gives a scale list");
  Check(values.MaxLogLevelEvent >= 0 && values.MaxLogLevelEvent <= 6, "log level in range");
  Check(values.SendThreadsCount == 0 ||
            (values.SendThreadsCount >= 1 && values.SendThreadsCount <= 255),
        "worker count in range");
  Check(!values.QueryPath.empty() || values.SendThreadsCount == 0, "a query folder is never empty");

  // The scale list holds exactly the valid addresses of the file, in order.
  std::vector<std::string> expected;
  for (const std::string& line : IniFile::Parse(ini_text).ReadSectionLines("ListScales")) {
    const std::string ip = TrimBlanks(IniLineValue(line));
    if (ParseIPAddress(ip) != 0)
      expected.push_back(ip);
  }
  const std::vector<std::string> ips = Addresses(first.settings.ScaleListCopy());
  Check(ips == expected, "the scale list holds the file's valid addresses");

  // Saved and loaded again, the configuration is the same.
  Check(first.settings.SaveSettings(), "the settings are saved");
  Check(first.settings.SaveScaleList(), "the scale list is saved");
  Check(first.settings.SaveFieldsConfig(), "the field configuration is saved");
  LoadedSettings second(folder);
  Check(SameValues(second.settings.Snapshot(), first.settings.Snapshot()),
        "saved settings load back equal");
  // The save writes the list in the text order of its keys (Scale10 before
  // Scale2), so ten or more scales come back in another order.
  std::vector<std::string> reloaded = Addresses(second.settings.ScaleListCopy());
  std::vector<std::string> saved = ips;
  std::sort(reloaded.begin(), reloaded.end());
  std::sort(saved.begin(), saved.end());
  Check(reloaded == saved, "a saved scale list loads back with the same scales");
}

// ---------------------------------------------------------------------------
// Command files

void CheckCommandFile(const std::string& bytes) {
  if (bytes.size() < 13)
    return;
  const std::string ip = std::to_string(static_cast<uint8_t>(bytes[0])) + "." +
                         std::to_string(static_cast<uint8_t>(bytes[1])) + "." +
                         std::to_string(static_cast<uint8_t>(bytes[2])) + "." +
                         std::to_string(static_cast<uint8_t>(bytes[3]));
  const int command = static_cast<uint8_t>(bytes[4]) % 8;
  int64_t sequence = 0;
  for (int i = 5; i < 13; ++i)
    sequence =
        static_cast<int64_t>(static_cast<uint64_t>(sequence) << 8 | static_cast<uint8_t>(bytes[i]));
  // A file name of the import folder: no folder delimiter, no NUL.
  std::string name = bytes.substr(13, 200);
  for (char& c : name) {
    if (c == '/' || c == '\0')
      c = '_';
  }

  // The import file must exist: a command is only queued with its data. It
  // is written as the service names files (the name is Windows-1251 text);
  // a name no file can have ("", ".", "..", too long) queues nothing.
  const std::string source = Folder() + "/import/" + name;
  if (!WriteFileAtomic(source, "data"))
    return;
  const std::string base = Folder() + "/query/command";
  ManualClock clock;
  CreateCommandFile(base, Folder() + "/import", name, command, ip, clock.LocalNow(), sequence);
  DeleteFile(source);
  IniFile read;
  Check(read.LoadFromFile(base + ".cmd"), "a command file reads");
  const auto value = [&read](const char* key) {
    return read.ReadString("ServiceCommand", key, "\x01");
  };
  Check(value("Scale") == ip, "the command names its scale");
  int32_t number = -1;
  Check(TryParseSettingInt(value("CommandNo"), &number) && number == command,
        "the command keeps its number");
  Check(value("Sequence") == std::to_string(sequence), "the command keeps its sequence");
  // An INI line ends at its last non-blank: blanks that end a file name
  // are not kept (the name is used for the journal only).
  std::string shown = SingleLineText(name);
  shown.erase(shown.find_last_not_of(' ') + 1);
  Check(value("OriginalFileName") == shown, "the command keeps its file name");
  if (command == 5) {
    Check(value("FontNumber") == std::to_string(FontNumberOf(name)), "a font keeps its number");
  }
}

// ---------------------------------------------------------------------------
// Scale settings and hot-key files

// The scale driver, with every call it gets recorded.
class RecordingDriver : public AutomationObject {
 public:
  struct Call {
    std::string Name;
    std::vector<Variant> Args;
  };

  Variant GetProperty(const std::string& name) override { return driver_.GetProperty(name); }
  void SetProperty(const std::string& name, const Variant& value) override {
    driver_.SetProperty(name, value);
  }
  Variant Invoke(const std::string& name, const std::vector<Variant>& args) override {
    Calls.push_back(Call{name, args});
    return driver_.Invoke(name, args);
  }

  std::vector<Call> Calls;

 private:
  ScaleDriver driver_;
};

struct StepRun {
  RecordingDriver driver;
  std::vector<std::string> values;
  std::vector<int32_t> states;
  StepContext context;

  explicit StepRun(const std::string& file) {
    context.Driver = &driver;
    context.DataFileName = file;
    context.ValueList = &values;
    context.AddLog = [](const std::string&, int) {};
    context.SetScaleState = [this](int32_t state) { states.push_back(state); };
    context.Terminated = [] { return false; };
  }
};

// The first key=value line of `lines` named `key` (case ignored).
const std::string* FindLine(const std::vector<std::string>& lines, const std::string& key) {
  for (const std::string& line : lines) {
    if (line.find('=') != std::string::npos && SameTextAnsi(IniLineKey(line), key))
      return &line;
  }
  return nullptr;
}

void CheckLoadStep(const StepRun& run, bool loaded, const char* section) {
  Check(run.states.size() == 1, "a load records one state");
  Check(loaded == (run.states[0] == kStateSuccess), "a load succeeds with state 0");
  if (!loaded)
    return;
  const std::string* version = FindLine(run.values, "Version");
  int32_t number = 0;
  Check(version != nullptr && TryParseSettingInt(IniLineValue(*version), &number) && number <= 1,
        "a loaded file has a version the service reads");
  IniFile ini;
  ini.LoadFromFile(run.context.DataFileName);
  Check(run.values == ini.ReadSectionLines(section), "the load keeps the section's lines");
}

// Whether the driver got a send request (the step's last call).
bool Sent(const StepRun& run, const char* method) {
  return !run.driver.Calls.empty() && run.driver.Calls.back().Name == method;
}

void CheckScaleSettings(const std::string& bytes) {
  const std::string file = Folder() + "/query/settings.dat";
  WriteFile(file, bytes);
  StepRun run(file);
  const bool loaded = LoadScaleSettingsFile(run.context);
  CheckLoadStep(run, loaded, "ScaleSettings");
  if (!loaded)
    return;
  run.states.clear();
  const std::vector<std::string> before = run.values;
  const bool sent = SendScaleSettings(run.context);
  Check(run.values == before, "a send leaves the loaded lines as they were");
  Check(run.states.size() == 1, "a send records one state");
  // No scale at the driver's address: a send reaches the driver and fails
  // there, unless a value of the file is refused first and nothing is sent.
  Check(!sent, "no scale, no success");
  if (run.states[0] == kStateSendFailed) {
    Check(!Sent(run, "SetSettings"), "a refused file sends nothing");
    return;
  }
  Check(run.states[0] == kStateDriverError && Sent(run, "SetSettings"),
        "a file that is not refused reaches the driver");
  // What the driver holds now: the file's value for every setting it
  // names, the scale's (here the driver's default) for the others.
  const scale::SettingValues defaults = scale::DefaultSettingValues();
  const std::vector<scale::SettingKey>& keys = scale::SettingKeys();
  for (size_t i = 0; i < keys.size(); ++i) {
    const std::string name = keys[i].Name;
    if (name == "UserBarCode")
      continue;
    const Variant held = run.driver.GetProperty("Settings_" + name);
    const std::string* line = FindLine(before, name);
    if (keys[i].Kind == scale::SettingKind::kInt) {
      int32_t value = defaults[i].Int;
      if (line != nullptr)
        Check(TryParseSettingInt(IniLineValue(*line), &value), "a sent number converts");
      Check(held.AsInt() == value, "the driver holds the file's number");
    } else {
      const std::string value =
          line != nullptr ? AnsiToUtf8(IniLineValue(*line)) : defaults[i].Text;
      Check(held.AsText() == value, "the driver holds the file's text");
    }
  }
}

void CheckHotKeys(const std::string& bytes) {
  const std::string file = Folder() + "/query/hotkeys.dat";
  WriteFile(file, bytes);
  StepRun run(file);
  const bool loaded = LoadHotKeysFile(run.context);
  CheckLoadStep(run, loaded, "HotKeys");
  if (!loaded)
    return;
  run.states.clear();
  const bool sent = SendHotKeys(run.context);
  Check(!sent && run.states.size() == 1 && run.states[0] == kStateDriverError,
        "every hot-key file reaches the driver");
  const std::vector<RecordingDriver::Call>& calls = run.driver.Calls;
  Check(calls.size() == kHotKeyCount + 2 && calls.front().Name == "InitBufferHotKey" &&
            calls.back().Name == "SetHotKeys",
        "the buffer is filled key by key, then sent");
  for (int key = 1; key <= kHotKeyCount; ++key) {
    const RecordingDriver::Call& call = calls[key];
    int32_t value = 0;
    const std::string* line = nullptr;
    for (const std::string& l : run.values) {
      if (SameTextAnsi(IniLineKey(l), "Key" + std::to_string(key))) {
        line = &l;
        break;
      }
    }
    if (line == nullptr || !TryParseSettingInt(IniLineValue(*line), &value))
      value = 0;
    Check(call.Name == "SetHotKeyValue" && call.Args.size() == 2 && call.Args[0].AsInt() == key &&
              call.Args[1].AsInt() == value,
          "each key gets the file's number, 0 when it has none");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      CheckIniText(bytes);
      CheckSettingsLoad(bytes);
      break;
    case 1:
      CheckCommandFile(bytes);
      break;
    case 2:
      CheckScaleSettings(bytes);
      break;
    default:
      CheckHotKeys(bytes);
      break;
  }
  return 0;
}

// Every input allocates many small strings (each INI read copies its
// section); a small quarantine keeps the run from spending its time paging.
extern "C" const char* __asan_default_options() {
  return "quarantine_size_mb=16";
}
