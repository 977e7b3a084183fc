#include "support/command_client.h"

#include <cctype>

namespace tarvo::testing {

CommandClient::CommandClient(int port, bool greeted) : greeted_(greeted) {
  connection_ = TcpConnect("127.0.0.1", port, 5000);
  if (connection_ == nullptr)
    return;
  connection_->SetTimeoutMillis(5000);
  if (greeted)
    ReadLine(&greeting_);
}

void CommandClient::Send(const std::string& line) {
  if (connection_ != nullptr)
    connection_->WriteAll((line + "\r\n").data(), line.size() + 2);
}

void CommandClient::SendAll(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\r\n";
  if (connection_ != nullptr)
    connection_->WriteAll(text.data(), text.size());
}

std::vector<std::string> CommandClient::Exchange(const std::string& line) {
  Send(line);
  return ReadReply();
}

std::vector<std::string> CommandClient::ReadReply() {
  std::vector<std::string> lines;
  std::string line;
  while (ReadLine(&line)) {
    lines.push_back(line);
    if (IsReplyLine(line))
      break;
  }
  return lines;
}

bool CommandClient::ReadLine(std::string* line) {
  return connection_ != nullptr && connection_->ReadLn(line, 16 * 1024 * 1024);
}

bool CommandClient::ClosedByServer() {
  std::string line;
  return !ReadLine(&line) && !connection_->TimedOut();
}

bool IsReplyLine(const std::string& line) {
  if (line.size() < 3 || (line.size() > 3 && line[3] != ' '))
    return false;
  for (int i = 0; i < 3; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(line[i])))
      return false;
  }
  return true;
}

}  // namespace tarvo::testing
