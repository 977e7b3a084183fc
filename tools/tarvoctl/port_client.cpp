#include "tools/tarvoctl/port_client.h"

namespace tarvo::ctl {

std::string Endpoint::Name(Port port) const {
  return Host + ":" + std::to_string(PortNumber(port));
}

std::string Reply::Describe() const {
  return Text.empty() ? std::to_string(Code) : std::to_string(Code) + " " + Text;
}

bool ParseReplyLine(const std::string& line, int* code) {
  if (line.size() < 3 || (line.size() > 3 && line[3] != ' '))
    return false;
  for (int i = 0; i < 3; ++i) {
    if (line[i] < '0' || line[i] > '9')
      return false;
  }
  *code = std::stoi(line.substr(0, 3));
  return true;
}

LineConnection::LineConnection(const Endpoint& endpoint, Port port, int timeoutMs)
    : name_(endpoint.Name(port)) {
  ConnectFailure failure = ConnectFailure::kNone;
  std::string error;
  connection_ = TcpConnect(endpoint.Host, endpoint.PortNumber(port),
                           timeoutMs > 0 ? timeoutMs : 10000, &failure, &error);
  if (failure == ConnectFailure::kBadAddress)
    throw UsageError("'" + endpoint.Host + "' is not an IPv4 address");
  if (connection_ == nullptr)
    throw UnreachableError("cannot reach the service at " + name_ + ": " + error);
  connection_->SetTimeoutMillis(timeoutMs);
}

LineConnection::~LineConnection() = default;

void LineConnection::SendLine(const std::string& line) {
  if (!connection_->WriteLn(line))
    throw UnreachableError("the connection to " + name_ + " broke while sending");
}

std::string LineConnection::ReadLine() {
  std::string line;
  if (!TryReadLine(&line)) {
    throw UnreachableError(connection_->TimedOut()
                               ? "no answer from " + name_
                               : "the service at " + name_ + " closed the connection");
  }
  return line;
}

bool LineConnection::TryReadLine(std::string* line) {
  if (connection_->ReadLn(line))
    return true;
  if (connection_->LineTooLong())
    throw ServiceError("an answer line from " + name_ + " is too long");
  return false;
}

void LineConnection::SendLineIfOpen(const std::string& line) {
  if (!connection_->Closed())
    connection_->WriteLn(line);
}

CommandConnection::CommandConnection(const Endpoint& endpoint, Port port, int timeoutMs)
    : LineConnection(endpoint, port, timeoutMs) {
  const Reply greeting = ReadReply();
  if (!greeting.Ok())
    throw UnreachableError("the service at " + name() + " refused: " + greeting.Describe());
}

CommandConnection::~CommandConnection() {
  SendLineIfOpen("Quit");
}

Reply CommandConnection::Exchange(const std::string& line) {
  SendLine(line);
  return ReadReply();
}

Reply CommandConnection::ReadReply() {
  Reply reply;
  for (;;) {
    const std::string line = ReadLine();
    int code = 0;
    if (ParseReplyLine(line, &code)) {
      reply.Code = code;
      const std::string text = line.size() > 4 ? line.substr(4) : "";
      reply.Text = reply.Text.empty() ? text : reply.Text + "; " + text;
      return reply;
    }
    // A line of a reply of several lines: "400-Unknown Command".
    if (line.size() >= 4 && line[3] == '-' && ParseReplyLine(line.substr(0, 3), &code)) {
      const std::string text = line.substr(4);
      reply.Text = reply.Text.empty() ? text : reply.Text + "; " + text;
      continue;
    }
    reply.Lines.push_back(line);
  }
}

void RequireWireText(const std::string& what, const std::string& text) {
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u > 127) {
      throw UsageError(what +
                       " holds text outside 7-bit ASCII, which the service's ports "
                       "cannot carry: " +
                       text);
    }
    if (u < 32 || u == 127)
      throw UsageError(what + " holds a control character");
  }
}

}  // namespace tarvo::ctl
