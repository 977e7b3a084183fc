#include "net/command_server.h"

#include <array>
#include <exception>
#include <stdexcept>
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

// How long a closing connection waits for its peer to stop sending, so the
// last reply is read rather than reset.
constexpr int kFinishLingerMs = 2000;

// A limit of the protocol was passed: the client gets one 500 reply with
// `what()` and the connection is closed.
class ProtocolLimitError : public std::runtime_error {
 public:
  ProtocolLimitError(const std::string& reply, std::string log_text)
      : std::runtime_error(reply), log_text_(std::move(log_text)) {}
  const std::string& LogText() const { return log_text_; }

 private:
  std::string log_text_;
};

// The connection ended while a command still read from it.
class ConnectionLostError : public std::runtime_error {
 public:
  ConnectionLostError() : std::runtime_error("Connection closed.") {}
};

// Text crosses the wire as 7-bit ASCII: other bytes read as "?".
void KeepAscii(std::string* line) {
  for (char& c : *line) {
    if (static_cast<unsigned char>(c) > 127)
      c = '?';
  }
}

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

// The reply that ends a command's exchange: code and text.
struct Reply {
  int Code = 200;
  std::string Text;
};

// One command connection.
class Session {
 public:
  Session(ServiceHost& host, const CommandLimits& limits, TcpConnection& connection)
      : host_(host), limits_(limits), c_(connection) {}

  // Reads and serves one line. A line that names no command draws the 400
  // reply; an empty line draws nothing.
  void ServeLine();

 private:
  void CmdTCPServerCommandHandlers_Execute(const CommandCall& call, Reply* reply);
  void SetSettings(const std::string& params, Reply* reply);
  void GetAllSettings();
  void GetScaleList();
  void SetScaleList(Reply* reply);
  void GetFieldsConfig();
  void SetFieldsConfig(Reply* reply);
  void SetHexFile(Reply* reply);

  // Reads one line, non-ASCII bytes as "?". False when the connection
  // ended; a line past the limit raises ProtocolLimitError.
  bool ReadLine(std::string* line);
  // Reads one line of an upload and counts it against the upload's limit;
  // a lost connection raises ConnectionLostError.
  std::string ReadUploadLine();
  // Sends one plain line; a lost connection ends the exchange.
  void Send(const std::string& line);
  // A level-5 line and the failure reply of an upload.
  void Fail(Reply* reply, const std::string& log_text, const std::string& reply_text);
  // The 500 reply past a limit, then the end of the connection.
  void Refuse(const ProtocolLimitError& e);

  void Log(const std::string& text, int level) { host_.LogWrite(text, level); }
  MServiceSettings& Settings() { return host_.ServiceSettings(); }

  ServiceHost& host_;
  const CommandLimits& limits_;
  TcpConnection& c_;
  size_t upload_bytes_ = 0;
};

void Session::ServeLine() {
  std::string line;
  try {
    if (!ReadLine(&line))
      return;
  } catch (const ProtocolLimitError& e) {
    Refuse(e);
    return;
  }
  if (line.empty())
    return;
  const CommandCall call = MatchCommand(kCommands, line);
  if (call.Tag < 0) {
    WriteLines(c_, UnknownCommandReply(line));
    return;
  }
  Reply reply;
  try {
    upload_bytes_ = 0;
    CmdTCPServerCommandHandlers_Execute(call, &reply);
  } catch (const ProtocolLimitError& e) {
    Refuse(e);
    return;
  } catch (const std::exception& e) {
    const std::string message = SingleLineText(e.what());
    Log("ServiceCmdReload: " + message, 5);
    reply = Reply{500, message};
  }
  WriteLines(c_, ReplyLines(reply.Code, {reply.Text}));
  if (kCommands[call.Tag].Closes)
    c_.Finish(kFinishLingerMs);
}

void Session::CmdTCPServerCommandHandlers_Execute(const CommandCall& call, Reply* reply) {
  Log(std::string("ServiceCmd: Receive command - ") + kCommands[call.Tag].Word + ".", 0);
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
      Send("Settings reloaded.");
      break;
    case kSetSettings:
      SetSettings(call.Params, reply);
      break;
    case kGetAllSettings:
      GetAllSettings();
      break;
    case kVersion:
      Send(GetFileVersion(host_.ExecutableFile()) + " (R)");
      break;
    case kGetScaleList:
      GetScaleList();
      break;
    case kSetScaleList:
      SetScaleList(reply);
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
      GetFieldsConfig();
      break;
    case kSetFieldsConfig:
      SetFieldsConfig(reply);
      break;
    case kRestartTCPServers:
      host_.RestartTCPServersRequested = true;
      break;
    case kSetHexFile:
      SetHexFile(reply);
      break;
  }
}

void Session::SetSettings(const std::string& params, Reply* reply) {
  std::string name, value;
  SplitNameValue(params, &name, &value);
  if (!Settings().ChangeGlobalSetting(name, value)) {
    *reply = Reply{201, "Value not found. (" + name + "..." + value + ")"};
    return;
  }
  Log("ServiceCmd: Change setting " + SingleLineText(name + "=" + value), 0);
  if (!Settings().SaveSettings()) {
    Fail(reply, "ServiceCmd: Error save settings.", "Error save settings.");
    return;
  }
  Send("Settings saved.");
}

void Session::GetAllSettings() {
  const std::vector<std::string> list = Settings().GlobalSettingsCopy();
  Send(kRule);
  Send(kTitleIndent + "Tarvo Service Configuration");
  Send("");
  Send("Count=" + std::to_string(list.size()));
  Send("");
  for (const std::string& line : list)
    Send(line);
  Send(kRule);
  Log("ServiceCmd: Setting sended.", 0);
}

void Session::GetScaleList() {
  const std::vector<MScaleState> scales = Settings().ScaleListCopy();
  Send(kRule);
  Send(kTitleIndent + "Tarvo Service Scale List");
  Send("");
  for (size_t i = 0; i < scales.size(); ++i)
    Send("Scale" + std::to_string(i + 1) + "=" + scales[i].IP);
  Send(kRule);
}

void Session::SetScaleList(Reply* reply) {
  std::vector<std::string> addresses;
  for (;;) {
    const std::string line = ReadUploadLine();
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
  Send("Scale list saved.");
}

void Session::GetFieldsConfig() {
  const MSettingsValues values = Settings().Snapshot();
  Send(kRule);
  Send(kTitleIndent + "Tarvo Service Fields Config");
  Send("");
  for (int i = 0; i < kPLUFieldCount; ++i) {
    const std::string prefix = "Field" + PLUFieldName(i);
    const MFieldConfig& field = values.FieldsConfig[i];
    Send(prefix + "_DefVal=" + field.DefVal);
    Send(prefix + "_Pos=" + std::to_string(field.Pos));
    Send(prefix + "_PosHome=" + std::to_string(field.PosHome));
    Send(prefix + "_PosEnd=" + std::to_string(field.PosEnd));
  }
  Send(kRule);
}

void Session::SetFieldsConfig(Reply* reply) {
  std::array<MFieldConfig, kPLUFieldCount> fields{};
  for (;;) {
    const std::string line = ReadUploadLine();
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
  Send("Fields config saved.");
}

void Session::SetHexFile(Reply* reply) {
  const std::string name = ReadUploadLine();
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
  Send("200 OK");
  std::string data;
  for (;;) {
    const std::string line = ReadUploadLine();
    if (line.empty()) {
      Fail(reply, "ServiceCmd: Error receive file. Uninspected end.", "Error receive file.");
      return;
    }
    if (IsEndLine(line)) {
      Send("200 OK");
      break;
    }
    AppendHexBytes(line, &data);
    Send("200 OK");
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
  Send("File saved.");
  *reply = Reply{200, "OK"};
}

bool Session::ReadLine(std::string* line) {
  if (c_.ReadLn(line, limits_.LineMax)) {
    KeepAscii(line);
    return true;
  }
  if (c_.LineTooLong()) {
    throw ProtocolLimitError("Line too long.", "CmdTCPServerException: Line longer than " +
                                                   std::to_string(limits_.LineMax) +
                                                   " bytes, connection closed.");
  }
  return false;
}

std::string Session::ReadUploadLine() {
  std::string line;
  if (!ReadLine(&line))
    throw ConnectionLostError();
  upload_bytes_ += line.size();
  if (upload_bytes_ > limits_.UploadTextMax) {
    throw ProtocolLimitError("Upload too large.", "CmdTCPServerException: Upload longer than " +
                                                      std::to_string(limits_.UploadTextMax) +
                                                      " bytes, connection closed.");
  }
  return line;
}

void Session::Send(const std::string& line) {
  if (!c_.WriteLn(line))
    throw ConnectionLostError();
}

void Session::Fail(Reply* reply, const std::string& log_text, const std::string& reply_text) {
  Log(log_text, 5);
  *reply = Reply{500, reply_text};
}

void Session::Refuse(const ProtocolLimitError& e) {
  Log(e.LogText(), 5);
  WriteLines(c_, ReplyLines(500, {e.what()}));
  c_.Finish(kFinishLingerMs);
}

}  // namespace

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
    : host_(host), limits_(limits), server_(std::move(ip), port, kMaxServerConnections) {
  server_.SetHandlers([this](TcpConnection& c) { OnConnect(c); },
                      [this](TcpConnection& c) { OnExecute(c); },
                      [this](TcpConnection& c) { OnDisconnect(c); });
  server_.SetRefusedHandler([](TcpConnection& c) {
    WriteLines(c, ReplyLines(300, {"Too many connections. Try again later."}));
  });
}

CommandServer::~CommandServer() {
  Deactivate();
}

std::span<const CommandSpec> CommandServer::Commands() {
  return kCommands;
}

bool CommandServer::Activate(std::string* error) {
  return server_.Activate(error);
}

void CommandServer::Deactivate() {
  server_.Deactivate();
}

void CommandServer::ServeConnection(TcpConnection& connection) {
  OnConnect(connection);
  while (!connection.Closed())
    OnExecute(connection);
  OnDisconnect(connection);
}

void CommandServer::OnConnect(TcpConnection& connection) {
  host_.LogWrite("ServiceCmd: Client connected.", 0);
  ++host_.CmdClientCount;
  WriteLines(connection, ReplyLines(200, {"Hi, this Tarvo service!"}));
}

void CommandServer::OnExecute(TcpConnection& connection) {
  try {
    Session(host_, limits_, connection).ServeLine();
  } catch (const std::exception& e) {
    // A failure outside a command (a reply that cannot be written, say)
    // ends this connection only.
    host_.LogWrite(std::string("CmdTCPServerException: ") + SingleLineText(e.what()), 5);
    connection.Close();
  }
}

void CommandServer::OnDisconnect(TcpConnection&) {
  host_.LogWrite("ServiceCmd: Client disconnected.", 0);
  DecrementClientCount(host_.CmdClientCount);
}

}  // namespace tarvo
