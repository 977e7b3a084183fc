#include "net/command_protocol.h"

#include <cstddef>

#include "platform/codepage.h"

namespace tarvo {

namespace {

std::vector<std::string> SplitAtSpaces(const std::string& text) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos)
      end = text.size();
    if (end > start)
      pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

// True when `line` is `word` or starts with `word` and a space, without
// regard to letter case; `params` then receives the text after the space.
bool Names(const std::string& line, const std::string& word, std::string* params) {
  if (line.size() < word.size() || !SameTextAscii(line.substr(0, word.size()), word))
    return false;
  if (line.size() == word.size()) {
    params->clear();
    return true;
  }
  if (line[word.size()] != ' ')
    return false;
  *params = line.substr(word.size() + 1);
  return true;
}

}  // namespace

CommandCall MatchCommand(std::span<const CommandSpec> table, const std::string& line) {
  CommandCall call;
  for (size_t i = 0; i < table.size(); ++i) {
    if (!Names(line, table[i].Word, &call.Params))
      continue;
    call.Tag = static_cast<int>(i);
    if (table[i].Parsed)
      call.ParamList = SplitAtSpaces(call.Params);
    return call;
  }
  return CommandCall();
}

std::vector<std::string> ReplyLines(int code, const std::vector<std::string>& texts) {
  const std::string number = std::to_string(code);
  if (texts.empty())
    return {number};
  std::vector<std::string> lines;
  for (size_t i = 0; i < texts.size(); ++i) {
    const bool last = i + 1 == texts.size();
    if (last && texts[i].empty())
      lines.push_back(number);
    else
      lines.push_back(number + (last ? " " : "-") + texts[i]);
  }
  return lines;
}

std::vector<std::string> UnknownCommandReply(const std::string& line) {
  return ReplyLines(400, {"Unknown Command", line});
}

bool WriteLines(TcpConnection& connection, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (!connection.WriteLn(line))
      return false;
  }
  return true;
}

bool ReadPlainLine(TcpConnection& connection, size_t maxLength, std::string* line,
                   const std::function<void(const std::string&)>& tooLong) {
  if (!connection.ReadLn(line, maxLength)) {
    if (connection.LineTooLong()) {
      tooLong("Line longer than " + std::to_string(maxLength) + " bytes, connection closed.");
      connection.Finish(kFinishLingerMs);
    }
    return false;
  }
  if (SameTextAscii(*line, "quit")) {
    connection.WriteLn("ok");
    connection.Finish(kFinishLingerMs);
    return false;
  }
  return true;
}

}  // namespace tarvo
