// What tarvoctl prints: aligned tables and words for people, JSON for
// scripts. Nothing here talks to the service.
#ifndef TARVO_TOOLS_TARVOCTL_VIEWS_H_
#define TARVO_TOOLS_TARVOCTL_VIEWS_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tarvo::ctl {

// One status keyword and its answer.
struct StatusEntry {
  std::string Keyword;
  std::string Value;
};

// One scale of the scale list with its last recorded result.
struct ScaleRow {
  std::string IP;
  int State = -1;        // -1 no result yet
  int Operation = -1;    // -1 none
  double StateTime = 0;  // days since 30 December 1899, time of day as fraction
};

// The placement of one PLU field.
struct FieldRow {
  std::string Name;
  std::string DefVal;
  int Pos = 0;
  int PosHome = 0;
  int PosEnd = 0;

  // Placed in a line, or given a default.
  bool Placed() const { return Pos != 0 || PosHome != 0 || PosEnd != 0 || !DefVal.empty(); }
};

using SettingList = std::vector<std::pair<std::string, std::string>>;

// Rows of cells printed in columns as wide as their widest cell, two
// spaces apart, each row ending in a newline.
class Table {
 public:
  void AddRow(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
  std::string Render() const;

 private:
  std::vector<std::vector<std::string>> rows_;
};

// A scale state in words ("no result yet", "success", "driver error", ...);
// "state N" for a code the service does not use.
std::string StateWords(int state);
// The name of operation `operation` ("SetSettings" .. "SetLogo"); "-" for
// none (-1) and "operation N" for a number the service does not use.
std::string OperationName(int operation);

// A day number as date and time in the shop's formats.
std::string FormatDayNumber(double days);
// A day number as the service prints it, with "." or "," as the decimal
// separator. False when `text` is not one.
bool ParseDayNumber(const std::string& text, double* days);

// The views of each command; `json` selects JSON text.
std::string StatusView(const std::vector<StatusEntry>& entries, bool json);
std::string ScalesView(const std::vector<ScaleRow>& scales, bool json);
std::string SettingsView(const SettingList& settings, bool json);
// Only the placed fields unless `all`.
std::string FieldsView(const std::vector<FieldRow>& fields, bool all, bool json);

// A live-log line ("{level} [time] text") with its level in colour.
std::string ColourLogLine(const std::string& line);

// A progress bar of `width` columns for `done` of `total` bytes, drawn over
// the current line.
std::string ProgressBar(uint64_t done, uint64_t total, int width);

}  // namespace tarvo::ctl

#endif  // TARVO_TOOLS_TARVOCTL_VIEWS_H_
