#include "tools/tarvoctl/commands.h"

#include <charconv>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <stop_token>
#include <thread>

#include "common/ip_address.h"
#include "common/structdefines.h"
#include "common/textnames.h"
#include "platform/clock.h"
#include "platform/terminal.h"
#include "tools/tarvoctl/views.h"

namespace tarvo::ctl {

namespace {

// The status keywords in the order the status port matches them.
const char* const kKeywords[] = {"TimeWork",      "ConfigClient", "LogClient", "StatClient",
                                 "CmdStatClient", "Scales",       "RetryQuery"};

constexpr int kStatusTimeoutMs = 10000;
// The data bytes of one upload line.
constexpr size_t kUploadChunk = 4096;
// Files larger than this show a progress bar on a terminal.
constexpr uint64_t kProgressMinBytes = 1 << 20;
// The workers' retry interval before TARVO_TIMER_SCALE.
constexpr double kRetrySeconds = 600;

bool ToInt(const std::string& text, int* value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return !text.empty() && ec == std::errc() && ptr == end;
}

// Throws ServiceError unless `reply` is the plain 200.
void RequireOk(const Reply& reply, const std::string& what) {
  if (!reply.Ok())
    throw ServiceError(what + ": the service answered " + reply.Describe());
}

std::vector<StatusEntry> FetchStatus(const Endpoint& where) {
  LineConnection status(where, Port::kStatus, kStatusTimeoutMs);
  for (const char* keyword : kKeywords)
    status.SendLine(keyword);
  std::vector<StatusEntry> entries;
  for (const char* keyword : kKeywords) {
    entries.push_back({keyword, status.ReadLine()});
    // The time is followed by an empty line.
    if (entries.back().Keyword == "TimeWork")
      status.ReadLine();
  }
  status.SendLine("quit");
  return entries;
}

std::vector<std::string> FetchScaleList(const Endpoint& where) {
  CommandConnection command(where, Port::kCommand);
  const Reply reply = command.Exchange("GetScaleList");
  RequireOk(reply, "GetScaleList");
  std::vector<std::string> ips;
  for (const std::string& line : reply.Lines) {
    const size_t eq = line.find('=');
    if (line.rfind("Scale", 0) == 0 && eq != std::string::npos)
      ips.push_back(line.substr(eq + 1));
  }
  return ips;
}

// The answer of "ScaleLastSend": three lines and the reply.
Reply AskLastSend(CommandConnection& connection, const std::string& ip) {
  const Reply reply = connection.Exchange("ScaleLastSend " + ip);
  if (reply.Code == 203)
    throw ServiceError(ip + " is not in the scale list (" + reply.Describe() + ")");
  RequireOk(reply, "ScaleLastSend " + ip);
  return reply;
}

ScaleRow FetchLastSend(CommandConnection& connection, const std::string& ip) {
  const Reply reply = AskLastSend(connection, ip);
  ScaleRow row;
  row.IP = ip;
  if (reply.Lines.size() != 3 || !ToInt(reply.Lines[0], &row.State) ||
      !ToInt(reply.Lines[1], &row.Operation) || !ParseDayNumber(reply.Lines[2], &row.StateTime))
    throw ServiceError("ScaleLastSend " + ip + ": an answer this client does not understand");
  return row;
}

std::vector<ScaleRow> FetchScales(const Endpoint& where) {
  const std::vector<std::string> ips = FetchScaleList(where);
  std::vector<ScaleRow> rows;
  if (ips.empty())
    return rows;
  CommandConnection stat(where, Port::kScaleStatus);
  for (const std::string& ip : ips)
    rows.push_back(FetchLastSend(stat, ip));
  return rows;
}

SettingList FetchSettings(const Endpoint& where) {
  CommandConnection command(where, Port::kCommand);
  const Reply reply = command.Exchange("GetAllSettings");
  RequireOk(reply, "GetAllSettings");
  // A rule, a title, an empty line, "Count=N", an empty line, N settings, a rule.
  SettingList settings;
  size_t at = 0;
  while (at < reply.Lines.size() && reply.Lines[at].rfind("Count=", 0) != 0)
    ++at;
  int count = 0;
  if (at == reply.Lines.size() || !ToInt(reply.Lines[at].substr(6), &count) ||
      at + 2 + count > reply.Lines.size())
    throw ServiceError("GetAllSettings: a listing this client does not understand");
  for (size_t i = at + 2; i < at + 2 + count; ++i) {
    const std::string& line = reply.Lines[i];
    const size_t eq = line.find('=');
    settings.emplace_back(line.substr(0, eq), eq == std::string::npos ? "" : line.substr(eq + 1));
  }
  return settings;
}

std::vector<FieldRow> FetchFields(const Endpoint& where) {
  CommandConnection command(where, Port::kCommand);
  const Reply reply = command.Exchange("GetFieldsConfig");
  RequireOk(reply, "GetFieldsConfig");
  std::vector<FieldRow> fields;
  for (const std::string& line : reply.Lines) {
    // Field<Name>_<Attribute>=<value>
    const size_t eq = line.find('=');
    const size_t underscore = line.rfind('_', eq);
    if (line.rfind("Field", 0) != 0 || eq == std::string::npos || underscore == std::string::npos)
      continue;
    const std::string name = line.substr(5, underscore - 5);
    const std::string attribute = line.substr(underscore + 1, eq - underscore - 1);
    const std::string value = line.substr(eq + 1);
    if (fields.empty() || fields.back().Name != name) {
      fields.emplace_back();
      fields.back().Name = name;
    }
    FieldRow& field = fields.back();
    if (attribute == "DefVal") {
      field.DefVal = value;
    } else {
      int number = 0;
      if (!ToInt(value, &number))
        throw ServiceError("GetFieldsConfig: a listing this client does not understand");
      if (attribute == "Pos")
        field.Pos = number;
      else if (attribute == "PosHome")
        field.PosHome = number;
      else if (attribute == "PosEnd")
        field.PosEnd = number;
    }
  }
  return fields;
}

// An upload ends at the first line that holds "end." in any letter case.
bool EndsUpload(const std::string& line) {
  std::string lower = line;
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("end.") != std::string::npos;
}

// A file name the import folder takes: no folder parts, no control characters.
bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..")
    return false;
  for (char c : name) {
    if (c == '/' || c == '\\' || c == ':')
      return false;
  }
  return true;
}

// Checks one line of a field layout file; throws UsageError naming the line.
void CheckFieldLine(const std::string& where, const std::string& line) {
  RequireWireText(where, line);
  const size_t eq = line.find('=');
  const size_t underscore = line.rfind('_', eq);
  std::string prefix = line.substr(0, 5);
  for (char& c : prefix)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (eq == std::string::npos || prefix != "field" || underscore == std::string::npos ||
      underscore < 5)
    throw UsageError(where + ": expected Field<name>_<attribute>=value, got '" + line + "'");
  const std::string name = line.substr(5, underscore - 5);
  const std::string attribute = line.substr(underscore + 1, eq - underscore - 1);
  const std::string value = line.substr(eq + 1);
  if (PLUFieldIndex(name) < 0)
    throw UsageError(where + ": no field is named '" + name + "'");
  int number = 0;
  if (attribute == "DefVal") {
    if (EndsUpload(value))
      throw UsageError(where + ": a default holding 'end.' would end the upload early");
  } else if (attribute == "Pos" || attribute == "PosHome" || attribute == "PosEnd") {
    if (!ToInt(value, &number))
      throw UsageError(where + ": " + attribute + " needs a whole number, got '" + value + "'");
  } else {
    throw UsageError(where + ": unknown attribute '" + attribute +
                     "' (DefVal, Pos, PosHome or PosEnd)");
  }
}

std::string HexLine(const char* data, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string line(size * 2, '0');
  for (size_t i = 0; i < size; ++i) {
    const unsigned char byte = static_cast<unsigned char>(data[i]);
    line[2 * i] = kDigits[byte >> 4];
    line[2 * i + 1] = kDigits[byte & 15];
  }
  return line;
}

// The service's "200 OK" that acknowledges each upload line.
void RequireUploadOk(const Reply& reply, const std::string& what) {
  if (reply.Code != 200 || !reply.Lines.empty())
    throw ServiceError(what + ": the service answered " + reply.Describe());
}

bool Confirm(const std::string& question) {
  std::cerr << question << " [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  return answer == "y" || answer == "Y" || answer == "yes";
}

void PrintLogLine(const std::string& line, bool colour) {
  std::cout << (colour ? ColourLogLine(line) : line) << '\n' << std::flush;
}

}  // namespace

bool IsScaleAddress(const std::string& text) {
  int dots = 0;
  for (char c : text) {
    if (c == '.')
      ++dots;
    else if (c < '0' || c > '9')
      return false;
  }
  return dots == 3 && ParseIPAddress(text) != 0;
}

int StatusCommand(const Options& options) {
  std::cout << StatusView(FetchStatus(options.Where), options.Json);
  return 0;
}

int ScalesCommand(const Options& options) {
  std::cout << ScalesView(FetchScales(options.Where), options.Json);
  return 0;
}

int LastSendCommand(const Options& options, const std::string& ip) {
  RequireWireText("the address", ip);
  CommandConnection stat(options.Where, Port::kScaleStatus);
  for (const std::string& line : AskLastSend(stat, ip).Lines)
    std::cout << line << '\n';
  return 0;
}

int SettingsCommand(const Options& options) {
  std::cout << SettingsView(FetchSettings(options.Where), options.Json);
  return 0;
}

int SetCommand(const Options& options, const std::string& assignment) {
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0)
    throw UsageError("expected NAME=VALUE, got '" + assignment + "'");
  RequireWireText("the setting", assignment);
  const std::string name = assignment.substr(0, eq);
  CommandConnection command(options.Where, Port::kCommand);
  const Reply reply = command.Exchange("SetSettings " + assignment);
  if (reply.Code == 201)
    throw ServiceError("the service has no setting named '" + name + "' (" + reply.Describe() +
                       ")");
  RequireOk(reply, "SetSettings");
  std::cout << (eq + 1 == assignment.size() ? name + " removed; the next load restores its default."
                                            : "Saved " + assignment + ".")
            << "\nThe running service applies it after 'tarvoctl reload'.\n";
  return 0;
}

int SetScalesCommand(const Options& options, const std::vector<std::string>& ips) {
  for (const std::string& ip : ips) {
    if (!IsScaleAddress(ip))
      throw UsageError("'" + ip + "' is not an IPv4 address; nothing was sent");
  }
  std::vector<std::string> lines = {"SetScaleList"};
  for (size_t i = 0; i < ips.size(); ++i)
    lines.push_back("Scale" + std::to_string(i + 1) + "=" + ips[i]);
  lines.push_back("End.");
  CommandConnection command(options.Where, Port::kCommand);
  for (const std::string& line : lines)
    command.SendLine(line);
  RequireOk(command.ReadReply(), "SetScaleList");
  std::cout << "Scale list saved: " << ips.size() << (ips.size() == 1 ? " scale." : " scales.")
            << "\n";
  return 0;
}

int FieldsCommand(const Options& options, bool all) {
  std::cout << FieldsView(FetchFields(options.Where), all, options.Json);
  return 0;
}

int SetFieldsCommand(const Options& options, const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throw UsageError("cannot read " + file);
  std::vector<std::string> lines = {"SetFieldsConfig"};
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == ';' || line[start] == '#' ||
        line[start] == '[')
      continue;
    CheckFieldLine(file + ":" + std::to_string(number), line);
    lines.push_back(line);
  }
  lines.push_back("End.");
  CommandConnection command(options.Where, Port::kCommand);
  for (const std::string& l : lines)
    command.SendLine(l);
  RequireOk(command.ReadReply(), "SetFieldsConfig");
  std::cout << "Field layout saved: " << lines.size() - 2 << " lines; every field not named is "
            << "reset.\n";
  return 0;
}

int UploadCommand(const Options& options, const std::string& file, const std::string& name) {
  const std::string target = name.empty() ? std::filesystem::path(file).filename().string() : name;
  RequireWireText("the file name", target);
  if (!IsPlainFileName(target))
    throw UsageError("'" + target + "' is not a plain file name");
  std::ifstream in(file, std::ios::binary);
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(file, ec);
  if (!in || ec)
    throw UsageError("cannot read " + file);

  const bool progress = size > kProgressMinBytes && IsTerminal(StandardStream::kError);
  const int width = TerminalColumns(StandardStream::kError);
  CommandConnection command(options.Where, Port::kCommand);
  command.SendLine("SetHexFile");
  RequireUploadOk(command.Exchange(target), "SetHexFile " + target);
  std::vector<char> buffer(kUploadChunk);
  uint64_t sent = 0;
  int shown = -1;
  while (in.read(buffer.data(), buffer.size()) || in.gcount() > 0) {
    const size_t got = static_cast<size_t>(in.gcount());
    RequireUploadOk(command.Exchange(HexLine(buffer.data(), got)), "SetHexFile " + target);
    sent += got;
    const int percent = size == 0 ? 100 : static_cast<int>(sent * 100 / size);
    if (progress && percent != shown) {
      std::cerr << ProgressBar(sent, size, width) << std::flush;
      shown = percent;
    }
  }
  if (in.bad())
    throw UsageError("reading " + file + " failed");
  if (progress)
    std::cerr << "\n";
  RequireUploadOk(command.Exchange("End."), "SetHexFile " + target);
  const Reply saved = command.ReadReply();
  if (saved.Code != 200)
    throw ServiceError("SetHexFile " + target + ": the service answered " + saved.Describe());
  std::cout << "Sent " << file << " (" << sent << " bytes) to the import folder as " << target
            << ".\n";
  return 0;
}

int ControlCommand(const Options& options, Control control, bool confirmed) {
  struct Request {
    const char* word;
    const char* question;  // asked on a terminal; null: none
    const char* done;
  };
  static const Request kRequests[] = {
      {"ReloadSettings", nullptr, "The service reloaded its settings, scales and field layout."},
      {"RestartQueryThreads", nullptr, "The service restarts its workers."},
      {"RestartTCPServers", nullptr, "The service restarts its TCP servers."},
      {"DeleteSendQueries", "Delete every queued command of the service at ",
       "The service deletes every queued command."},
      {"Shutdown", "Shut down the service at ", "The service shuts down."},
      {"Version", nullptr, nullptr},
  };
  const Request& request = kRequests[static_cast<int>(control)];
  if (request.question != nullptr && !confirmed && IsTerminal(StandardStream::kInput) &&
      !Confirm(request.question + options.Where.Name(Port::kCommand) + "?")) {
    std::cerr << "Nothing was sent.\n";
    return 0;
  }
  CommandConnection command(options.Where, Port::kCommand);
  const Reply reply = command.Exchange(request.word);
  RequireOk(reply, request.word);
  if (control == Control::kVersion) {
    for (const std::string& line : reply.Lines)
      std::cout << line << '\n';
  } else {
    std::cout << request.done << '\n';
  }
  return 0;
}

int LogCommand(const Options& options, bool follow, int intervalMs) {
  const bool colour = IsTerminal(StandardStream::kOutput);
  LineConnection log(options.Where, Port::kLog, follow ? 0 : kStatusTimeoutMs);
  // "Hello! (...)", "This Tarvo log server.", "ServiceExecute: ***..."
  for (int i = 0; i < 3; ++i)
    log.ReadLine();
  if (!follow) {
    Clock::Real()->SleepMillis(intervalMs);
    log.SendLine("");
    log.SendLine("quit");
    for (std::string line = log.ReadLine(); line != "ok"; line = log.ReadLine())
      PrintLogLine(line, colour);
    return 0;
  }
  // One thread polls, this one prints what arrives.
  std::mutex mutex;
  std::condition_variable_any wake;
  std::jthread poller([&](std::stop_token stop) {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stop.stop_requested()) {
      try {
        log.SendLine("");
      } catch (const UnreachableError&) {
        return;  // the reader sees the end too
      }
      wake.wait_for(lock, stop, std::chrono::milliseconds(intervalMs), [] { return false; });
    }
  });
  std::string line;
  while (log.TryReadLine(&line))
    PrintLogLine(line, colour);
  poller.request_stop();
  poller.join();
  throw UnreachableError("the service at " + log.name() + " closed the connection");
}

int CheckCommand(const Options& options, int maxRetry) {
  std::vector<StatusEntry> status;
  std::vector<ScaleRow> scales;
  try {
    status = FetchStatus(options.Where);
    scales = FetchScales(options.Where);
  } catch (const UnreachableError& e) {
    std::cout << "TARVO CRITICAL - " << e.what() << '\n';
    return 2;
  } catch (const std::exception& e) {
    std::cout << "TARVO UNKNOWN - " << e.what() << '\n';
    return 3;
  }
  int retries = 0;
  for (const StatusEntry& e : status) {
    if (e.Keyword == "RetryQuery" && !ToInt(e.Value, &retries)) {
      std::cout << "TARVO UNKNOWN - RetryQuery answered '" << e.Value << "'\n";
      return 3;
    }
  }
  const std::string perf =
      " | scales=" + std::to_string(scales.size()) + " retries=" + std::to_string(retries) + "\n";
  const double now = Clock::Real()->LocalNow().Days();
  const double interval = kRetrySeconds * TimerScale() / 86400.0;
  std::string failed;
  for (const ScaleRow& s : scales) {
    if (s.State == kStateDriverError && now - s.StateTime > interval)
      failed += (failed.empty() ? "" : ", ") + s.IP + " since " + FormatDayNumber(s.StateTime);
  }
  if (!failed.empty()) {
    std::cout << "TARVO CRITICAL - driver error on " << failed << perf;
    return 2;
  }
  if (retries > maxRetry) {
    std::cout << "TARVO WARNING - retries pending: " << retries << " (more than " << maxRetry << ")"
              << perf;
    return 1;
  }
  std::cout << "TARVO OK - " << scales.size() << " scales, retries pending: " << retries << perf;
  return 0;
}

}  // namespace tarvo::ctl
