// The live-log server: monitoring tools follow the service's log as it is
// written. Each connection has a queue that LogWrite fills with every event
// in its short form ("{level} [hh:nn:ss.zzz] text"); the client polls by
// sending any line and receives what was queued since its last poll.
//
// A client that does not poll loses the oldest lines past the queue's
// capacity (kLogQueueCapacity); its next poll then begins with the line
// "{5} [hh:nn:ss.zzz] LogServer: N lines dropped.".
#ifndef TARVO_NET_LOG_SERVER_H_
#define TARVO_NET_LOG_SERVER_H_

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "net/service_host.h"
#include "net/service_port.h"
#include "platform/socket.h"

namespace tarvo {

class LogServer : public ServicePort {
 public:
  // Listens on `ip` ("" = every local address) at `port` once activated;
  // each queue holds at most `queueCapacity` lines. `host` must outlive the
  // server.
  LogServer(ServiceHost& host, std::string ip, int port, size_t queueCapacity = kLogQueueCapacity);
  ~LogServer() override;  // Deactivate()

 private:
  void OnConnect(TcpConnection& connection) override { TCPServer_LogConnect(connection); }
  void OnExecute(TcpConnection& connection) override { TCPServer_LogExecute(connection); }
  void OnDisconnect(TcpConnection& connection) override { TCPServer_LogDisconnect(connection); }
  void TCPServer_LogConnect(TcpConnection& connection);
  void TCPServer_LogExecute(TcpConnection& connection);
  void TCPServer_LogDisconnect(TcpConnection& connection);
  std::shared_ptr<LogQueue> QueueOf(const TcpConnection& connection);

  ServiceHost& host_;
  const size_t queue_capacity_;
  // The queue of each connection, from its connect to its disconnect event.
  std::mutex queues_mutex_;
  std::map<const TcpConnection*, std::shared_ptr<LogQueue>> queues_;
};

}  // namespace tarvo

#endif  // TARVO_NET_LOG_SERVER_H_
