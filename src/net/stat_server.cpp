#include "net/stat_server.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <shared_mutex>

#include "common/newrxstrutils.h"
#include "platform/codepage.h"
#include "platform/system_formats.h"

namespace tarvo {

namespace {

// A keyword line is short; one longer than this ends the connection.
constexpr size_t kKeywordLineMax = 64 * 1024;

constexpr CommandSpec kStatCommands[] = {
    {"Quit", false, true},
    {"ScaleLastSend", true, false},
};

}  // namespace

StatServer::StatServer(ServiceHost& host, std::string ip, int port)
    : ServicePort(std::move(ip), port), host_(host) {}

StatServer::~StatServer() {
  Deactivate();
}

std::vector<std::string> StatServer::Answer(const std::string& line) const {
  const auto is = [&](const char* keyword) { return SameTextAscii(line, keyword); };
  if (is("LogClient"))
    return {std::to_string(host_.LogClientCount)};
  if (is("StatClient"))
    return {std::to_string(host_.StatClientCount)};
  if (is("TimeWork"))
    return {TimeWorkText(host_.ExecuteStartTime, host_.ServiceClock().LocalNow().Days()), ""};
  if (is("ConfigClient"))
    return {std::to_string(host_.CmdClientCount)};
  if (is("Scales")) {
    MServiceSettings& settings = host_.ServiceSettings();
    std::shared_lock<std::shared_mutex> lock(settings.Lock);
    return {std::to_string(settings.ScaleList.size())};
  }
  if (is("CmdStatClient"))
    return {std::to_string(host_.CmdStatClientCount)};
  if (is("RetryQuery"))
    return {std::to_string(host_.RetryQueryCount())};
  return {};
}

void StatServer::TCPServer_StatConnect(TcpConnection&) {
  ++host_.StatClientCount;
  host_.LogWrite("StatConnect: Stat client connected.", 0);
}

void StatServer::TCPServer_StatExecute(TcpConnection& connection) {
  try {
    std::string line;
    if (!ReadPlainLine(connection, kKeywordLineMax, &line, [&](const std::string& text) {
          host_.LogWrite("StatExecute: " + text, 5);
        })) {
      return;
    }
    for (const std::string& answer : Answer(line)) {
      if (!connection.WriteLn(answer))
        return;
    }
  } catch (const std::exception& e) {
    host_.LogWrite("StatExecute: " + SingleLineText(e.what()), 5);
    connection.Close();
  }
}

void StatServer::TCPServer_StatDisconnect(TcpConnection&) {
  DecrementClientCount(host_.StatClientCount);
  host_.LogWrite("StatDisconnect: Stat client disconnected.", 0);
}

std::string TimeWorkText(double startDays, double nowDays) {
  long long seconds = 0;
  if (startDays != 0 && nowDays > startDays)
    seconds = std::llround((nowDays - startDays) * 86400.0);
  char text[32];
  std::snprintf(text, sizeof(text), "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return text;
}

StatCommandServer::StatCommandServer(ServiceHost& host, std::string ip, int port)
    : CommandPort(host, std::move(ip), port, kStatCommands, host.CmdStatClientCount,
                  {"ServiceCmdStat", "ServiceCmdStat: ", "ServiceCmdStatException: ",
                   "ServiceCmdStatListenException: "},
                  CommandLimits{kKeywordLineMax, kKeywordLineMax}) {}

StatCommandServer::~StatCommandServer() {
  Deactivate();
}

// Every answer is three lines and the reply.
void StatCommandServer::Execute(const CommandCall& call, CommandLines& lines, CommandReply* reply) {
  const auto blank = [&](int code, const char* text) {
    for (int i = 0; i < 3; ++i)
      lines.Send("");
    *reply = CommandReply{code, text};
  };
  if (call.Tag == 0) {
    blank(200, "");
    return;
  }
  if (call.ParamList.size() != 1) {
    blank(204, "Bad param");
    return;
  }
  // A worker writes a scale's three values under the settings lock held
  // exclusively, so a copy under the shared lock holds one update whole.
  std::optional<MScaleState> found;
  {
    MServiceSettings& settings = host_.ServiceSettings();
    std::shared_lock<std::shared_mutex> lock(settings.Lock);
    for (const MScaleState& scale : settings.ScaleList) {
      if (scale.IP == call.ParamList[0]) {
        found = scale;
        break;
      }
    }
  }
  if (!found) {
    blank(203, "Scale not found");
    return;
  }
  lines.Send(std::to_string(found->State));
  lines.Send(std::to_string(found->Operation));
  lines.Send(FloatToStr(found->StateTime.Days()));
  *reply = CommandReply{200, "Ok"};
}

}  // namespace tarvo
