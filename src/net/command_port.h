// What the service's two command ports share: the greeting, the line limits,
// the command table, the 400 reply for a line that names no command, the 300
// reply for a connection beyond the cap, and the 500 reply for an error
// inside a command. A port adds its commands by implementing Execute().
#ifndef TARVO_NET_COMMAND_PORT_H_
#define TARVO_NET_COMMAND_PORT_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "net/command_protocol.h"
#include "net/service_host.h"
#include "net/service_port.h"
#include "platform/socket.h"

namespace tarvo {

// The most a client may send: one line, and the lines of one upload
// together. Past either the client gets one 500 reply and the connection is
// closed; nothing of the upload is kept.
struct CommandLimits {
  size_t LineMax = 1024 * 1024;
  size_t UploadTextMax = size_t{512} * 1024 * 1024;
};

// The texts that name a port in its log lines.
struct CommandPortNames {
  const char* Name;             // "<Name>: Client connected.", "<Name>: Receive command - <word>."
  const char* ErrorPrefix;      // an error inside a command, at level 5
  const char* ExceptionPrefix;  // a failure outside a command, at level 5
  const char* ListenPrefix;     // the port cannot be opened, at level 5
};

// The reply that ends an exchange.
struct CommandReply {
  int Code = 200;
  std::string Text;
};

// One connection as a command sees it.
class CommandLines {
 public:
  CommandLines(TcpConnection& connection, const CommandLimits& limits)
      : connection_(connection), limits_(limits) {}

  // Reads a line (bytes above 127 as "?"). False when the connection ended;
  // a line past the limit raises.
  bool ReadLine(std::string* line);
  // Reads the next line of the command's upload, counted against the upload
  // limit; raises when the connection ends or a limit is passed.
  std::string ReadUploadLine();
  // Sends one line; raises when the connection is lost.
  void Send(const std::string& line);

 private:
  TcpConnection& connection_;
  const CommandLimits& limits_;
  size_t upload_bytes_ = 0;
};

class CommandPort : public ServicePort {
 public:
  const CommandPortNames& Names() const { return names_; }

 protected:
  // Listens on `ip` ("" = every local address) at `port` once activated and
  // counts its connections in `clientCount`. `host` must outlive the port.
  // A derived port must call Deactivate() in its destructor, before its own
  // members go.
  CommandPort(ServiceHost& host, std::string ip, int port, std::span<const CommandSpec> commands,
              std::atomic<int32_t>& clientCount, CommandPortNames names, CommandLimits limits);

  // Carries out `call`, after its "Receive command" line. It may send plain
  // lines and read upload lines through `lines`, and sets `reply` unless the
  // normal 200 applies. An exception it raises turns the reply into 500 with
  // the message. Runs on the connection's thread, several at once.
  virtual void Execute(const CommandCall& call, CommandLines& lines, CommandReply* reply) = 0;

  void OnConnect(TcpConnection& connection) override;
  void OnExecute(TcpConnection& connection) override;
  void OnDisconnect(TcpConnection& connection) override;

  ServiceHost& host_;

 private:
  void ServeLine(TcpConnection& connection);

  const std::span<const CommandSpec> commands_;
  std::atomic<int32_t>& client_count_;
  const CommandPortNames names_;
  const CommandLimits limits_;
};

}  // namespace tarvo

#endif  // TARVO_NET_COMMAND_PORT_H_
