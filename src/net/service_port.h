// The base of the service's four TCP servers: a TcpServer whose connection
// events are the port's own methods, each run on the connection's thread.
#ifndef TARVO_NET_SERVICE_PORT_H_
#define TARVO_NET_SERVICE_PORT_H_

#include <string>

#include "platform/socket.h"

namespace tarvo {

// Simultaneous connections of each of the service's servers.
inline constexpr int kMaxServerConnections = 50;

class ServicePort {
 public:
  virtual ~ServicePort() = default;

  ServicePort(const ServicePort&) = delete;
  ServicePort& operator=(const ServicePort&) = delete;

  // False with `error` set when the port cannot be bound.
  bool Activate(std::string* error = nullptr) { return server_.Activate(error); }
  // Closes every connection and waits for their threads.
  void Deactivate() { server_.Deactivate(); }
  bool Active() const { return server_.Active(); }
  int Port() const { return server_.Port(); }

  // Serves one connection from its connect to its disconnect event on the
  // calling thread, as the server's connection threads do.
  void ServeConnection(TcpConnection& connection);

 protected:
  // Listens on `ip` ("" = every local address) at `port` once activated,
  // with at most kMaxServerConnections connections. A derived port must
  // call Deactivate() in its own destructor, while its methods still exist.
  ServicePort(std::string ip, int port);

  // Connect, then execute again and again while the connection is open,
  // then disconnect.
  virtual void OnConnect(TcpConnection& connection) = 0;
  virtual void OnExecute(TcpConnection& connection) = 0;
  virtual void OnDisconnect(TcpConnection& connection) = 0;

  // `onRefused` writes the notice for a connection beyond the cap.
  void SetRefusedHandler(TcpServer::Handler onRefused) {
    server_.SetRefusedHandler(std::move(onRefused));
  }

 private:
  TcpServer server_;
};

}  // namespace tarvo

#endif  // TARVO_NET_SERVICE_PORT_H_
