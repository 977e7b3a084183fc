#include "net/service_port.h"

namespace tarvo {

ServicePort::ServicePort(std::string ip, int port)
    : server_(std::move(ip), port, kMaxServerConnections) {
  server_.SetHandlers([this](TcpConnection& c) { OnConnect(c); },
                      [this](TcpConnection& c) { OnExecute(c); },
                      [this](TcpConnection& c) { OnDisconnect(c); });
}

void ServicePort::ServeConnection(TcpConnection& connection) {
  OnConnect(connection);
  while (!connection.Closed())
    OnExecute(connection);
  OnDisconnect(connection);
}

}  // namespace tarvo
