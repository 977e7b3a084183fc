// The service's configuration record and its INI file.
//
// The file (IniFileName) has three sections: "GlobalSettings" (the 18 scalar
// settings, also held as the name=value list GlobalSettingsList), "ListScales"
// (Scale1=address, ...) and "FieldsConfig" (Field<name>_DefVal/_Pos/_PosHome/
// _PosEnd for the 32 PLU fields). Values: text as is, int32 in decimal, bool
// written "True"/"False" and read from those in any case or from a number.
#ifndef TARVO_SETTINGS_WORKSERVICESETTINGS_H_
#define TARVO_SETTINGS_WORKSERVICESETTINGS_H_

#include <array>
#include <cstdint>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/structdefines.h"
#include "common/textnames.h"
#include "log/logoperations.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace tarvo {

// Raised when a "GlobalSettings" value does not convert to its setting's type.
class SettingValueError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The plain values of the settings record; a copy is a consistent snapshot.
// Construction values: EnableLogFile true, MaxLogLevelEvent 5, everything
// else false, 0 or empty (SendThreadsCount is 0 until a load succeeds).
// Paths are ANSI text; the defaults a load gives are noted per field.
struct MSettingsValues {
  bool FieldConfigError = false;  // field configuration unusable: no workers
  bool ScaleListError = false;    // scale list unreadable: no workers, no import scan
  std::string IniFileName;        // the settings file (executable path, extension ".ini")
  std::string LogFileName;        // log file name, no folder (executable name + ".log")
  std::string QueryPath;          // command file folder (program folder + "/Query")
  bool EnableLogFile = true;      // log file on or off
  int32_t MaxLogLevelEvent = 5;   // lowest level written to the log file, 0 to 6
  bool EnableQueryArchive = false;
  bool ReWriteLog = false;               // start a fresh log file
  int32_t SendThreadsCount = 0;          // worker threads, 1 to 255 (5)
  std::string JournalsPath;              // folder of the log and journals (program folder + "/Log")
  bool EnableJournals = false;           // (true)
  int32_t ImportExtraFormat = 0;         // (0)
  int32_t ImportInterval = 0;            // seconds between import scans (20)
  std::string ImportPath;                // the watched import folder (program folder + "/Import")
  bool ImportEncodingWindows = false;    // (true)
  bool ImportSimpleText = false;         // (true) kept and written back only
  std::string ImportSimpleSeparator;     // (",")
  bool ImportFileFixField = false;       // (false)
  bool ClearDataBeforeDownload = false;  // (false) kept and written back only
  std::string FileMask_DividerIP;        // ("#")
  std::array<MFieldConfig, kPLUFieldCount> FieldsConfig;  // indexed like PLUFieldName()
};

// The settings record, one per service. The load and save operations catch
// every error inside them and return normally; problems of a load show in the
// log and in FieldConfigError and ScaleListError, a save says whether the
// file was written.
//
// Locking. `Lock` guards every field. Loads, saves and the Replace/Change
// accessors take it exclusively; Snapshot() and the *Copy accessors take it
// shared. Code that reads fields directly holds it shared for a short time;
// it is never held across a driver call, a socket write or a hand-off, and
// never taken twice by one thread. Lock order: Lock, then the worker pool's
// ScaleStateLock (which guards State/Operation/StateTime of ScaleList entries
// in place), then TSystemLog's mutex. The loads and saves write to the log
// while holding Lock.
class MServiceSettings : public MSettingsValues {
 public:
  // `exe_path` is the executable's full path: the defaults are formed in its
  // folder. `log` receives the load and save messages and is configured by
  // LoadSettings; `clock` stamps the scale entries. Both must outlive this.
  MServiceSettings(std::string exe_path, TSystemLog& log, const Clock& clock);

  MServiceSettings(const MServiceSettings&) = delete;
  MServiceSettings& operator=(const MServiceSettings&) = delete;

  std::vector<std::string> GlobalSettingsList;  // name=value image of "GlobalSettings"
  std::vector<MScaleState> ScaleList;           // the scales to serve, in file order

  mutable std::shared_mutex Lock;

  // The executable's folder with its trailing delimiter.
  const std::string& ProgramFolder() const { return program_folder_; }

  // The default folders: program folder + "/Query", "/Import", "/Log". A
  // folder setting that is empty when used (a load that stopped early leaves
  // the empty construction value) is replaced by its default, never used as
  // a folder. No lock needed.
  std::string DefaultQueryPath() const { return program_folder_ + kPathDelim + "Query"; }
  std::string DefaultImportPath() const { return program_folder_ + kPathDelim + "Import"; }
  std::string DefaultJournalsPath() const { return program_folder_ + kPathDelim + "Log"; }

  // Reads "GlobalSettings" into the record and GlobalSettingsList, applies
  // the log file name, MinLevel and slRewrite to the log, creates the
  // folders. A value that does not convert ends the load at that key: keys
  // after it keep their previous values and are not added to the list.
  void LoadSettings();
  // Writes GlobalSettingsList as "GlobalSettings" (leaving the list sorted,
  // without the later lines of a key that occurs more than once).
  // False when the file could not be written.
  bool SaveSettings();

  // Reads "ListScales": every value that is a valid IPv4 address becomes an
  // entry (State and Operation -1, StateTime now), in file order.
  // ScaleListError is set when the file exists but cannot be read (the list
  // is then left as it was) and cleared otherwise; an empty list is not an
  // error here (the import scan checks for it).
  void LoadScaleList();
  // Writes "Scale<n>=<IP>" lines, n from 1, as "ListScales". False when
  // the file could not be written.
  bool SaveScaleList();

  // Reads "FieldsConfig" and sets FieldConfigError when the PLU number or
  // name is not placed (by PosHome/PosEnd when ImportFileFixField, else by
  // Pos). Runs after LoadSettings.
  void LoadFieldsConfig();
  // Writes all 128 "FieldsConfig" keys in entry order. False when the file
  // could not be read or written.
  bool SaveFieldsConfig();

  // Copies under the shared lock.
  MSettingsValues Snapshot() const;
  std::vector<std::string> GlobalSettingsCopy() const;
  std::vector<MScaleState> ScaleListCopy() const;

  // Sets the value of the GlobalSettingsList line named `name` (case
  // ignored); an empty value removes the line. False when no line has that
  // name. Does not save.
  bool ChangeGlobalSetting(const std::string& name, const std::string& value);
  // Replace the scale list or the field configuration. Do not save.
  void ReplaceScaleList(std::vector<MScaleState> scales);
  void ReplaceFieldsConfig(const std::array<MFieldConfig, kPLUFieldCount>& fields);

  // ReadSettingValue on GlobalSettingsList; the caller holds Lock exclusively.
  std::string ReadSettingValue(const std::string& key, const std::string& def);
  std::string ReadSettingValue(const std::string& key, const char* def);
  int32_t ReadSettingValue(const std::string& key, int32_t def);
  bool ReadSettingValue(const std::string& key, bool def);

 private:
  void LoadSettingsLocked();

  const std::string exe_path_;
  const std::string program_folder_;
  TSystemLog& log_;
  const Clock& clock_;
};

// One value of a name=value list, typed like the default. The name is
// matched without regard to case. A missing name appends name=default (bool
// as "True"/"False", int32 in decimal) and returns the default. A present
// value that does not convert raises SettingValueError.
std::string ReadSettingValue(std::vector<std::string>& list, const std::string& key,
                             const std::string& def);
std::string ReadSettingValue(std::vector<std::string>& list, const std::string& key,
                             const char* def);
int32_t ReadSettingValue(std::vector<std::string>& list, const std::string& key, int32_t def);
bool ReadSettingValue(std::vector<std::string>& list, const std::string& key, bool def);

// Value conversions of the settings file. False when the text does not
// convert: an int is decimal (blanks around it allowed); a bool is "True" or
// "False" in any case, or a number (0 false, other true).
bool TryParseSettingInt(const std::string& text, int32_t* value);
bool TryParseSettingBool(const std::string& text, bool* value);
std::string SettingBoolText(bool value);  // "True" / "False"

// Drops every line of `lines` whose key (case ignored) an earlier line
// already has, as readers take the first line of a key and never see the
// others; sorts the rest (case ignored, CompareTextAnsi order) and replaces the section
// of the INI file `file_name` by them: the old section is removed and the new
// one appended at the end; other sections and lines are written back
// unchanged. The folder is created if missing; the file is replaced
// atomically. False when the file exists but cannot be read, or cannot be
// written (the file is then unchanged). Callers serialise writes of one file.
bool WriteIniSection(const std::string& file_name, const std::string& section,
                     std::vector<std::string>& lines);

}  // namespace tarvo

#endif  // TARVO_SETTINGS_WORKSERVICESETTINGS_H_
