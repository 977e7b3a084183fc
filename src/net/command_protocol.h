// The line protocol that the command ports speak: a table of command words
// matched against each line received, and the reply format.
//
// A line names a command when it equals the command's word or starts with
// the word followed by a space; letter case is ignored and the table is tried
// in order. A reply line is a three-digit code, a space and a text, or the
// code alone when the text is empty; a reply of several lines repeats the
// code on each, with "-" instead of the space on all lines but the last.
#ifndef TARVO_NET_COMMAND_PROTOCOL_H_
#define TARVO_NET_COMMAND_PROTOCOL_H_

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace tarvo {

// One entry of a command table.
struct CommandSpec {
  const char* Word;
  bool Parsed;  // the parameter text is also split at spaces into ParamList
  bool Closes;  // the server closes the connection after the reply
};

// A line matched against a command table.
struct CommandCall {
  int Tag = -1;                        // index of the command in the table; -1: none
  std::string Params;                  // the text after the word and its space
  std::vector<std::string> ParamList;  // Params split at spaces, empty pieces dropped
};

// The first command of `table` that `line` names; Tag -1 when none does.
CommandCall MatchCommand(std::span<const CommandSpec> table, const std::string& line);

// The lines of a reply with `code` and `texts` (no texts: the code alone).
std::vector<std::string> ReplyLines(int code, const std::vector<std::string>& texts);

// The reply to a line that names no command: "Unknown Command", then the
// line as received, with code 400.
std::vector<std::string> UnknownCommandReply(const std::string& line);

// Writes `lines` to `connection`; false when a write failed.
bool WriteLines(TcpConnection& connection, const std::vector<std::string>& lines);

// How long a closing connection of the service's servers waits for its peer
// to stop sending (TcpConnection::Finish), so its last line is read, not reset.
inline constexpr int kFinishLingerMs = 2000;

// Reads one line on a port of plain lines (the live log, the status
// keywords). False when there is nothing to answer: the connection ended;
// the line was longer than `maxLength` bytes (`tooLong` gets the text to log
// and the connection is finished); or the line was "quit" in any letter case
// (answered "ok" and the connection finished).
bool ReadPlainLine(TcpConnection& connection, size_t maxLength, std::string* line,
                   const std::function<void(const std::string&)>& tooLong);

}  // namespace tarvo

#endif  // TARVO_NET_COMMAND_PROTOCOL_H_
