#include "net/command_port.h"

#include <exception>
#include <stdexcept>

#include "common/newrxstrutils.h"

namespace tarvo {

namespace {

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

// The connection ended while a command still read from it or wrote to it.
class ConnectionLostError : public std::runtime_error {
 public:
  ConnectionLostError() : std::runtime_error("Connection closed.") {}
};

}  // namespace

bool CommandLines::ReadLine(std::string* line) {
  if (connection_.ReadLn(line, limits_.LineMax)) {
    // Text crosses the wire as 7-bit ASCII.
    for (char& c : *line) {
      if (static_cast<unsigned char>(c) > 127)
        c = '?';
    }
    return true;
  }
  if (connection_.LineTooLong()) {
    throw ProtocolLimitError(
        "Line too long.",
        "Line longer than " + std::to_string(limits_.LineMax) + " bytes, connection closed.");
  }
  return false;
}

std::string CommandLines::ReadUploadLine() {
  std::string line;
  if (!ReadLine(&line))
    throw ConnectionLostError();
  upload_bytes_ += line.size();
  if (upload_bytes_ > limits_.UploadTextMax) {
    throw ProtocolLimitError("Upload too large.", "Upload longer than " +
                                                      std::to_string(limits_.UploadTextMax) +
                                                      " bytes, connection closed.");
  }
  return line;
}

void CommandLines::Send(const std::string& line) {
  if (!connection_.WriteLn(line))
    throw ConnectionLostError();
}

CommandPort::CommandPort(ServiceHost& host, std::string ip, int port,
                         std::span<const CommandSpec> commands, std::atomic<int32_t>& clientCount,
                         CommandPortNames names, CommandLimits limits)
    : ServicePort(std::move(ip), port),
      host_(host),
      commands_(commands),
      client_count_(clientCount),
      names_(names),
      limits_(limits) {
  SetRefusedHandler([](TcpConnection& c) {
    WriteLines(c, ReplyLines(300, {"Too many connections. Try again later."}));
  });
}

void CommandPort::OnConnect(TcpConnection& connection) {
  host_.LogWrite(std::string(names_.Name) + ": Client connected.", 0);
  ++client_count_;
  WriteLines(connection, ReplyLines(200, {"Hi, this Tarvo service!"}));
}

void CommandPort::OnExecute(TcpConnection& connection) {
  try {
    ServeLine(connection);
  } catch (const std::exception& e) {
    // A failure outside a command (a reply that cannot be written, say)
    // ends this connection only.
    host_.LogWrite(names_.ExceptionPrefix + SingleLineText(e.what()), 5);
    connection.Close();
  }
}

void CommandPort::OnDisconnect(TcpConnection&) {
  host_.LogWrite(std::string(names_.Name) + ": Client disconnected.", 0);
  DecrementClientCount(client_count_);
}

void CommandPort::ServeLine(TcpConnection& connection) {
  CommandLines lines(connection, limits_);
  const auto refuse = [&](const ProtocolLimitError& e) {
    host_.LogWrite(names_.ExceptionPrefix + e.LogText(), 5);
    WriteLines(connection, ReplyLines(500, {e.what()}));
    connection.Finish(kFinishLingerMs);
  };
  std::string line;
  try {
    if (!lines.ReadLine(&line))
      return;
  } catch (const ProtocolLimitError& e) {
    refuse(e);
    return;
  }
  if (line.empty())
    return;
  const CommandCall call = MatchCommand(commands_, line);
  if (call.Tag < 0) {
    WriteLines(connection, UnknownCommandReply(line));
    return;
  }
  CommandReply reply;
  try {
    host_.LogWrite(
        std::string(names_.Name) + ": Receive command - " + commands_[call.Tag].Word + ".", 0);
    Execute(call, lines, &reply);
  } catch (const ProtocolLimitError& e) {
    refuse(e);
    return;
  } catch (const std::exception& e) {
    const std::string message = SingleLineText(e.what());
    host_.LogWrite(names_.ErrorPrefix + message, 5);
    reply = CommandReply{500, message};
  }
  WriteLines(connection, ReplyLines(reply.Code, {reply.Text}));
  if (commands_[call.Tag].Closes)
    connection.Finish(kFinishLingerMs);
}

}  // namespace tarvo
