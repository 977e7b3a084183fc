// The command server: the service's remote control on its command port.
// An operator's tool reads and changes the settings, the scale list and the
// field configuration, uploads files into the import folder and asks the
// main loop to reload, restart or shut down, one text line at a time.
//
// Limits. A line may be up to 1 MiB and the lines of one upload up to
// 512 MiB together (a file of up to 256 MiB, since each byte travels as two
// hexadecimal digits). Past either limit the client gets one 500 reply and
// the connection is closed; nothing of the upload is kept.
#ifndef TARVO_NET_COMMAND_SERVER_H_
#define TARVO_NET_COMMAND_SERVER_H_

#include <cstddef>
#include <string>

#include "net/command_protocol.h"
#include "net/service_host.h"
#include "platform/socket.h"

namespace tarvo {

struct CommandLimits {
  size_t LineMax = 1024 * 1024;                      // bytes of one line
  size_t UploadTextMax = size_t{512} * 1024 * 1024;  // bytes of the lines of one upload
};
// Simultaneous connections of each of the service's servers.
inline constexpr int kMaxServerConnections = 50;

class CommandServer {
 public:
  // Listens on `ip` ("" = every local address) at `port` once activated.
  // `host` must outlive the server.
  CommandServer(ServiceHost& host, std::string ip, int port, CommandLimits limits = {});
  ~CommandServer();  // Deactivate()

  CommandServer(const CommandServer&) = delete;
  CommandServer& operator=(const CommandServer&) = delete;

  // False with `error` set when the port cannot be bound.
  bool Activate(std::string* error = nullptr);
  // Closes every connection and waits for their threads.
  void Deactivate();
  bool Active() const { return server_.Active(); }
  int Port() const { return server_.Port(); }

  // Serves one connection from its greeting to its end on the calling
  // thread, as the server's connection threads do.
  void ServeConnection(TcpConnection& connection);

  // The commands, in matching order; a command's Tag is its index.
  static std::span<const CommandSpec> Commands();

 private:
  void OnConnect(TcpConnection& connection);
  void OnExecute(TcpConnection& connection);
  void OnDisconnect(TcpConnection& connection);

  ServiceHost& host_;
  const CommandLimits limits_;
  TcpServer server_;
};

// True when `name` may be joined to the import folder: not empty, not "."
// or "..", without a folder delimiter ("/" or "\"), a drive or stream colon
// or a control character.
bool IsPlainFileName(const std::string& name);

}  // namespace tarvo

#endif  // TARVO_NET_COMMAND_SERVER_H_
