#include "tools/tarvoctl/views.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <nlohmann/json.hpp>

#include "common/structdefines.h"
#include "common/textnames.h"
#include "platform/datetime.h"
#include "platform/system_formats.h"

namespace tarvo::ctl {

namespace {

using Json = nlohmann::ordered_json;

std::string JsonText(const Json& json) {
  // The ports carry ASCII; any other byte would be a fault of the peer.
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

// What each status keyword counts, for people.
std::string KeywordMeaning(const std::string& keyword) {
  static const std::pair<const char*, const char*> kMeanings[] = {
      {"TimeWork", "uptime (hh:nn:ss)"},
      {"ConfigClient", "clients of the command port"},
      {"LogClient", "clients of the live log"},
      {"StatClient", "clients of the status port"},
      {"CmdStatClient", "clients of the scale status port"},
      {"Scales", "scales in the scale list"},
      {"RetryQuery", "sends waiting for their retry"},
  };
  for (const auto& [word, meaning] : kMeanings) {
    if (keyword == word)
      return meaning;
  }
  return "";
}

// Counters go into JSON as numbers, anything else as text.
Json JsonValue(const std::string& text) {
  int number = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, number);
  if (ec == std::errc() && ptr == end && !text.empty())
    return number;
  return text;
}

}  // namespace

std::string Table::Render() const {
  std::vector<size_t> widths;
  for (const auto& row : rows_) {
    if (widths.size() < row.size())
      widths.resize(row.size(), 0);
    for (size_t i = 0; i < row.size(); ++i)
      widths[i] = std::max(widths[i], row[i].size());
  }
  std::string text;
  for (const auto& row : rows_) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      if (i > 0)
        line += "  ";
      line += row[i];
      if (i + 1 < row.size())
        line.append(widths[i] - row[i].size(), ' ');
    }
    // A last cell that is empty leaves padding behind.
    line.erase(line.find_last_not_of(' ') + 1);
    text += line + "\n";
  }
  return text;
}

std::string StateWords(int state) {
  switch (state) {
    case kStateNone:
      return "no result yet";
    case kStateSuccess:
      return "success";
    case kStateDriverError:
      return "driver error";
    case kStateUnreadable:
      return "unreadable file";
    case kStateBadData:
      return "refused data";
    case kStateSendFailed:
      return "exception";
    case kStatePLULoaded:
      return "PLU data loaded";
  }
  return "state " + std::to_string(state);
}

std::string OperationName(int operation) {
  if (operation == -1)
    return "-";
  const std::string name = CommandName(operation);
  return name.empty() ? "operation " + std::to_string(operation) : name;
}

std::string FormatDayNumber(double days) {
  const DateTime dt(days);
  return DateToStr(dt) + " " + TimeToStr(dt);
}

bool ParseDayNumber(const std::string& text, double* days) {
  std::string normal = text;
  std::replace(normal.begin(), normal.end(), ',', '.');
  const char* end = normal.data() + normal.size();
  const auto [ptr, ec] = std::from_chars(normal.data(), end, *days);
  return !normal.empty() && ec == std::errc() && ptr == end;
}

std::string StatusView(const std::vector<StatusEntry>& entries, bool json) {
  if (json) {
    Json object = Json::object();
    for (const StatusEntry& e : entries)
      object[e.Keyword] = JsonValue(e.Value);
    return JsonText(object);
  }
  Table table;
  for (const StatusEntry& e : entries)
    table.AddRow({e.Keyword, e.Value, KeywordMeaning(e.Keyword)});
  return table.Render();
}

std::string ScalesView(const std::vector<ScaleRow>& scales, bool json) {
  if (json) {
    Json array = Json::array();
    for (const ScaleRow& s : scales) {
      array.push_back({{"IP", s.IP},
                       {"State", s.State},
                       {"StateText", StateWords(s.State)},
                       {"Operation", s.Operation},
                       {"OperationName", s.Operation == -1 ? "" : OperationName(s.Operation)},
                       {"StateTime", s.StateTime},
                       {"StateTimeText", FormatDayNumber(s.StateTime)}});
    }
    return JsonText(array);
  }
  if (scales.empty())
    return "The scale list is empty.\n";
  Table table;
  table.AddRow({"SCALE", "STATE", "OPERATION", "SINCE"});
  for (const ScaleRow& s : scales)
    table.AddRow(
        {s.IP, StateWords(s.State), OperationName(s.Operation), FormatDayNumber(s.StateTime)});
  return table.Render();
}

std::string SettingsView(const SettingList& settings, bool json) {
  if (json) {
    Json object = Json::object();
    for (const auto& [name, value] : settings)
      object[name] = value;
    return JsonText(object);
  }
  size_t width = 0;
  for (const auto& setting : settings)
    width = std::max(width, setting.first.size());
  std::string text;
  for (const auto& [name, value] : settings)
    text += name + std::string(width - name.size(), ' ') + " = " + value + "\n";
  return text;
}

std::string FieldsView(const std::vector<FieldRow>& fields, bool all, bool json) {
  Json array = Json::array();
  Table table;
  table.AddRow({"FIELD", "POS", "POSHOME", "POSEND", "DEFAULT"});
  size_t shown = 0;
  for (const FieldRow& f : fields) {
    if (!all && !f.Placed())
      continue;
    ++shown;
    array.push_back({{"Name", f.Name},
                     {"DefVal", f.DefVal},
                     {"Pos", f.Pos},
                     {"PosHome", f.PosHome},
                     {"PosEnd", f.PosEnd}});
    table.AddRow({f.Name, std::to_string(f.Pos), std::to_string(f.PosHome),
                  std::to_string(f.PosEnd), f.DefVal});
  }
  if (json)
    return JsonText(array);
  if (shown == 0)
    return "No field is placed (--all lists every field).\n";
  return table.Render();
}

std::string ColourLogLine(const std::string& line) {
  // Levels run from 0 (detail) to 5 (error).
  static const char* const kColours[] = {"\033[2m",  "\033[2m",  "",
                                         "\033[36m", "\033[33m", "\033[1;31m"};
  if (line.size() < 3 || line[0] != '{' || line[2] != '}' || line[1] < '0' || line[1] > '5')
    return line;
  const char* colour = kColours[line[1] - '0'];
  if (*colour == '\0')
    return line;
  return std::string(colour) + line + "\033[0m";
}

std::string ProgressBar(uint64_t done, uint64_t total, int width) {
  const double part = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
  char numbers[64];
  std::snprintf(numbers, sizeof(numbers), " %3d%% %.1f/%.1f MB", static_cast<int>(part * 100),
                static_cast<double>(done) / 1e6, static_cast<double>(total) / 1e6);
  const int bar = std::max(10, width - static_cast<int>(std::strlen(numbers)) - 3);
  const int filled = static_cast<int>(part * bar);
  return "\r[" + std::string(filled, '#') + std::string(bar - filled, ' ') + "]" + numbers;
}

}  // namespace tarvo::ctl
