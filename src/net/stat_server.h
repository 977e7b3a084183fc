// The two status ports that monitoring tools ask how the service is doing.
//
// StatServer answers one keyword a line, matched whole and without regard to
// letter case, with one value: "LogClient", "StatClient", "ConfigClient" and
// "CmdStatClient" (connections of the four ports), "Scales" (the scale list's
// length), "RetryQuery" (workers whose failed send waits for its retry) and
// "TimeWork" (time since the main loop began, as hh:nn:ss with the hours in
// total, followed by an empty line). "quit" is answered "ok" and ends the
// connection; any other line gets no answer.
//
// StatCommandServer speaks the command ports' protocol with two commands:
// "Quit" and "ScaleLastSend <address>", which answers the scale's last
// State, Operation and StateTime (a day number) and 200 "Ok"; three empty
// lines and 203 "Scale not found" or 204 "Bad param" otherwise.
#ifndef TARVO_NET_STAT_SERVER_H_
#define TARVO_NET_STAT_SERVER_H_

#include <optional>
#include <string>

#include "net/command_port.h"
#include "net/service_host.h"
#include "net/service_port.h"
#include "platform/socket.h"

namespace tarvo {

class StatServer : public ServicePort {
 public:
  // Listens on `ip` ("" = every local address) at `port` once activated.
  // `host` must outlive the server.
  StatServer(ServiceHost& host, std::string ip, int port);
  ~StatServer() override;  // Deactivate()

  // The answer lines to `line`; none for a line that names no keyword.
  std::vector<std::string> Answer(const std::string& line) const;

 private:
  void OnConnect(TcpConnection& connection) override { TCPServer_StatConnect(connection); }
  void OnExecute(TcpConnection& connection) override { TCPServer_StatExecute(connection); }
  void OnDisconnect(TcpConnection& connection) override { TCPServer_StatDisconnect(connection); }
  void TCPServer_StatConnect(TcpConnection& connection);
  void TCPServer_StatExecute(TcpConnection& connection);
  void TCPServer_StatDisconnect(TcpConnection& connection);

  ServiceHost& host_;
};

// "hh:nn:ss" for the time from `startDays` to `nowDays` (day numbers), the
// hours in total with at least two digits; "00:00:00" while `startDays` is 0
// (the main loop has not begun) or lies ahead.
std::string TimeWorkText(double startDays, double nowDays);

class StatCommandServer : public CommandPort {
 public:
  StatCommandServer(ServiceHost& host, std::string ip, int port);
  ~StatCommandServer() override;

 protected:
  void Execute(const CommandCall& call, CommandLines& lines, CommandReply* reply) override;
};

}  // namespace tarvo

#endif  // TARVO_NET_STAT_SERVER_H_
