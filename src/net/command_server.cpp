#include "net/command_server.h"

#include <array>
#include <exception>
#include <stdexcept>
#include <utility>
#include <vector>

#include "common/ip_address.h"
#include "common/newrxstrutils.h"
#include "common/number_text.h"
#include "common/textnames.h"
#include "common/verutil.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace tarvo {

namespace {

enum CommandTag {
  kQuit,
  kReloadSettings,
  kSetSettings,
  kGetAllSettings,
  kSendAll,
  kSendPLUs,
  kSendMessages,
  kSendScaleSettings,
  kVersion,
  kGetScaleList,
  kSetScaleList,
  kShutdown,
  kDeleteSendQueries,
  kRestartQueryThreads,
  kGetFieldsConfig,
  kSetFieldsConfig,
  kRestartTCPServers,
  kSetHexFile,
};

constexpr CommandSpec kCommands[] = {
    {"Quit", false, true},
    {"ReloadSettings", false, false},
    {"SetSettings", true, false},
    {"GetAllSettings", true, false},
    {"SendAll", true, false},
    {"SendPLUs", true, false},
    {"SendMessages", true, false},
    {"SendScaleSettings", true, false},
    {"Version", true, false},
    {"GetScaleList", true, false},
    {"SetScaleList", true, false},
    {"Shutdown", true, false},
    {"DeleteSendQueries", true, false},
    {"RestartQueryThreads", true, false},
    {"GetFieldsConfig", true, false},
    {"SetFieldsConfig", true, false},
    {"RestartTCPServers", true, false},
    {"SetHexFile", true, false},
};

const std::string kRule(69, '*');
const std::string kTitleIndent(21, ' ');

// Name before the first "=", value after it; without "=" the name is empty
// and the value is the whole text.
void SplitNameValue(const std::string& text, std::string* name, std::string* value) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos) {
    name->clear();
    *value = text;
  } else {
    *name = text.substr(0, eq);
    *value = text.substr(eq + 1);
  }
}

// An upload ends at a line that holds "end." in any letter case.
bool IsEndLine(const std::string& line) {
  return AsciiLower(line).find("end.") != std::string::npos;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  c = AsciiLower(c);
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

// Appends the bytes of the hexadecimal text `line` (two digits a byte from
// the start; a last odd digit is ignored) to `data`. A pair that is not
// hexadecimal raises.
void AppendHexBytes(const std::string& line, std::string* data) {
  for (size_t i = 0; i + 1 < line.size(); i += 2) {
    const int high = HexDigit(line[i]);
    const int low = HexDigit(line[i + 1]);
    if (high < 0 || low < 0) {
      throw std::runtime_error("'$" + SingleLineText(line.substr(i, 2)) +
                               "' is not a valid integer value");
    }
    data->push_back(static_cast<char>(high * 16 + low));
  }
}

int32_t FieldNumber(const std::string& value) {
  int32_t number = 0;
  if (!TryStrToInt(value, &number))
    throw std::runtime_error("'" + SingleLineText(value) + "' is not a valid integer value");
  return number;
}

}  // namespace

void CommandServer::Execute(const CommandCall& call, CommandLines& lines, CommandReply* reply) {
  CmdTCPServerCommandHandlers_Execute(call, lines, reply);
}

void CommandServer::CmdTCPServerCommandHandlers_Execute(const CommandCall& call,
                                                        CommandLines& lines, CommandReply* reply) {
  switch (static_cast<CommandTag>(call.Tag)) {
    case kQuit:
    case kSendAll:
    case kSendPLUs:
    case kSendMessages:
    case kSendScaleSettings:
      break;
    case kReloadSettings:
      Settings().LoadSettings();
      Settings().LoadScaleList();
      Settings().LoadFieldsConfig();
      host_.ReloadSettingsRequested = true;
      lines.Send("Settings reloaded.");
      break;
    case kSetSettings:
      SetSettings(call.Params, lines, reply);
      break;
    case kGetAllSettings:
      GetAllSettings(lines);
      break;
    case kVersion:
      lines.Send(GetFileVersion(host_.ExecutableFile()) + " (R)");
      break;
    case kGetScaleList:
      GetScaleList(lines);
      break;
    case kSetScaleList:
      SetScaleList(lines, reply);
      break;
    case kShutdown:
      host_.ShutdownRequested = true;
      break;
    case kDeleteSendQueries:
      host_.DeleteSendQueriesRequested = true;
      break;
    case kRestartQueryThreads:
      host_.RestartQueryThreadsRequested = true;
      break;
    case kGetFieldsConfig:
      GetFieldsConfig(lines);
      break;
    case kSetFieldsConfig:
      SetFieldsConfig(lines, reply);
      break;
    case kRestartTCPServers:
      host_.RestartTCPServersRequested = true;
      break;
    case kSetHexFile:
      SetHexFile(lines, reply);
      break;
  }
}

void CommandServer::SetSettings(const std::string& params, CommandLines& lines,
                                CommandReply* reply) {
  std::string name, value;
  SplitNameValue(params, &name, &value);
  if (!Settings().ChangeGlobalSetting(name, value)) {
    *reply = CommandReply{201, "Value not found. (" + name + "..." + value + ")"};
    return;
  }
  Log("ServiceCmd: Change setting " + SingleLineText(name + "=" + value), 0);
  if (!Settings().SaveSettings()) {
    Fail(reply, "ServiceCmd: Error save settings.", "Error save settings.");
    return;
  }
  lines.Send("Settings saved.");
}

void CommandServer::GetAllSettings(CommandLines& lines) {
  const std::vector<std::string> list = Settings().GlobalSettingsCopy();
  lines.Send(kRule);
  lines.Send(kTitleIndent + "Tarvo Service Configuration");
  lines.Send("");
  lines.Send("Count=" + std::to_string(list.size()));
  lines.Send("");
  for (const std::string& line : list)
    lines.Send(line);
  lines.Send(kRule);
  Log("ServiceCmd: Setting sended.", 0);
}

void CommandServer::GetScaleList(CommandLines& lines) {
  const std::vector<MScaleState> scales = Settings().ScaleListCopy();
  lines.Send(kRule);
  lines.Send(kTitleIndent + "Tarvo Service Scale List");
  lines.Send("");
  for (size_t i = 0; i < scales.size(); ++i)
    lines.Send("Scale" + std::to_string(i + 1) + "=" + scales[i].IP);
  lines.Send(kRule);
}

void CommandServer::SetScaleList(CommandLines& lines, CommandReply* reply) {
  std::vector<std::string> addresses;
  for (;;) {
    const std::string line = lines.ReadUploadLine();
    if (line.empty()) {
      Fail(reply, "ServiceCmd: Error receive list scales. Uninspected end.",
           "Error set scale list.");
      return;
    }
    if (IsEndLine(line))
      break;
    std::string name, value;
    SplitNameValue(line, &name, &value);
    if (name.empty() || value.empty()) {
      Fail(reply, "ServiceCmd: Error receive list scales. Bad parameters.", "Bad set command.");
      return;
    }
    if (ParseIPAddress(value) == 0) {
      Fail(reply, "ServiceCmd: Error receive list scales. Wrong IP.", "Bad scale IP.");
      return;
    }
    addresses.push_back(value);
  }
  const DateTime now = host_.ServiceClock().LocalNow();
  std::vector<MScaleState> scales;
  for (const std::string& ip : addresses) {
    MScaleState scale;
    scale.IP = ip;
    scale.StateTime = now;
    scales.push_back(scale);
  }
  Settings().ReplaceScaleList(std::move(scales));
  if (!Settings().SaveScaleList()) {
    Fail(reply, "ServiceCmd: Error save scale list.", "Error save scale list.");
    return;
  }
  lines.Send("Scale list saved.");
}

void CommandServer::GetFieldsConfig(CommandLines& lines) {
  const MSettingsValues values = Settings().Snapshot();
  lines.Send(kRule);
  lines.Send(kTitleIndent + "Tarvo Service Fields Config");
  lines.Send("");
  for (int i = 0; i < kPLUFieldCount; ++i) {
    const std::string prefix = "Field" + PLUFieldName(i);
    const MFieldConfig& field = values.FieldsConfig[i];
    lines.Send(prefix + "_DefVal=" + field.DefVal);
    lines.Send(prefix + "_Pos=" + std::to_string(field.Pos));
    lines.Send(prefix + "_PosHome=" + std::to_string(field.PosHome));
    lines.Send(prefix + "_PosEnd=" + std::to_string(field.PosEnd));
  }
  lines.Send(kRule);
}

void CommandServer::SetFieldsConfig(CommandLines& lines, CommandReply* reply) {
  std::array<MFieldConfig, kPLUFieldCount> fields{};
  for (;;) {
    const std::string line = lines.ReadUploadLine();
    Log("FieldConfigRcv: " + SingleLineText(line), 0);
    if (line.empty()) {
      Fail(reply, "ServiceCmd: Error receive fields config. Uninspected end.",
           "Error set scale list.");
      return;
    }
    if (IsEndLine(line))
      break;
    std::string key, value;
    SplitNameValue(line, &key, &value);
    if (key.empty()) {
      Fail(reply, "ServiceCmd: Error receive fields config. Bad parameters.", "Bad set command.");
      return;
    }
    const size_t underscore = key.find('_');
    int index = -1;
    std::string attribute;
    if (key.size() >= 5 && SameTextAscii(key.substr(0, 5), "Field") &&
        underscore != std::string::npos && underscore >= 5) {
      const std::string name = key.substr(5, underscore - 5);
      attribute = key.substr(underscore + 1);
      for (int i = 0; i < kPLUFieldCount && index < 0; ++i) {
        if (PLUFieldName(i) == name)
          index = i;
      }
    }
    MFieldConfig* field = index >= 0 ? &fields[index] : nullptr;
    if (field != nullptr && attribute == "DefVal") {
      field->DefVal = value;
    } else if (field != nullptr && !value.empty() && attribute == "Pos") {
      field->Pos = FieldNumber(value);
    } else if (field != nullptr && !value.empty() && attribute == "PosHome") {
      field->PosHome = FieldNumber(value);
    } else if (field != nullptr && !value.empty() && attribute == "PosEnd") {
      field->PosEnd = FieldNumber(value);
    } else {
      Fail(reply, "ServiceCmd: Error receive fields config. Wrong param.", "Wrong param.");
      return;
    }
  }
  Settings().ReplaceFieldsConfig(fields);
  if (!Settings().SaveFieldsConfig()) {
    Fail(reply, "ServiceCmd: Error save fields config.", "Error save fields config.");
    return;
  }
  lines.Send("Fields config saved.");
}

void CommandServer::SetHexFile(CommandLines& lines, CommandReply* reply) {
  const std::string name = lines.ReadUploadLine();
  if (name.empty()) {
    Fail(reply, "ServiceCmd: Error receive file. Uninspected filename.", "Error receive file.");
    return;
  }
  // The name is joined to the import folder: it must stay inside it.
  if (!IsPlainFileName(name)) {
    Fail(reply, "ServiceCmd: Error receive file. Bad file name <" + SingleLineText(name) + ">.",
         "Bad file name.");
    return;
  }
  lines.Send("200 OK");
  std::string data;
  for (;;) {
    const std::string line = lines.ReadUploadLine();
    if (line.empty()) {
      Fail(reply, "ServiceCmd: Error receive file. Uninspected end.", "Error receive file.");
      return;
    }
    if (IsEndLine(line)) {
      lines.Send("200 OK");
      break;
    }
    AppendHexBytes(line, &data);
    lines.Send("200 OK");
  }

  std::string folder = Settings().Snapshot().ImportPath;
  if (folder.empty())
    folder = Settings().DefaultImportPath();
  std::string error;
  if (!ForceDirectories(folder, &error))
    Log("Error create import path (" + error + ").", 5);
  // Written under a temporary name and renamed into place: the import scan
  // never sees a part of the file.
  if (!WriteFileAtomic(IncludeTrailingPathDelimiter(folder) + name, data, &error)) {
    Fail(reply, "ServiceCmd: Error write received file.", "Error write received file.");
    return;
  }
  Log("ServiceCmd: File \"" + name + "\" received.", 0);
  lines.Send("File saved.");
  *reply = CommandReply{200, "OK"};
}

void CommandServer::Fail(CommandReply* reply, const std::string& log_text,
                         const std::string& reply_text) {
  Log(log_text, 5);
  *reply = CommandReply{500, reply_text};
}

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..")
    return false;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || c == ':' || u < 32 || u == 127)
      return false;
  }
  return true;
}

CommandServer::CommandServer(ServiceHost& host, std::string ip, int port, CommandLimits limits)
    : CommandPort(host, std::move(ip), port, kCommands, host.CmdClientCount,
                  {"ServiceCmd", "ServiceCmdReload: ", "CmdTCPServerException: ",
                   "CmdTCPServerListenException: "},
                  limits) {}

CommandServer::~CommandServer() {
  Deactivate();
}

std::span<const CommandSpec> CommandServer::Commands() {
  return kCommands;
}

}  // namespace tarvo
