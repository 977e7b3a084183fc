// The thread-per-connection server, built on the listener and the
// connections of socket.cpp, the same on every system.

#include "platform/socket.h"

#include <atomic>
#include <list>
#include <mutex>
#include <thread>

namespace tarvo {

struct TcpServer::State {
  struct Client {
    std::shared_ptr<TcpConnection> connection;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  std::mutex mu;  // guards `clients` and the handlers
  std::list<Client> clients;
  Handler onConnect, onExecute, onDisconnect, onRefused;
  std::unique_ptr<TcpListener> listener;
  std::thread acceptThread;
  std::atomic<bool> active{false};

  // Joins the threads of connections that have ended. Called with `mu` held.
  void ReapLocked() {
    for (auto it = clients.begin(); it != clients.end();) {
      if (it->done) {
        it->thread.join();
        it = clients.erase(it);
      } else {
        ++it;
      }
    }
  }

  void Serve(Client* client, Handler connect, Handler execute, Handler disconnect) {
    TcpConnection& connection = *client->connection;
    try {
      if (connect)
        connect(connection);
      while (active && !connection.Closed()) {
        if (!execute)
          break;
        execute(connection);
      }
    } catch (...) {
      // The server must survive anything: a handler's failure ends its own
      // connection only.
    }
    try {
      if (disconnect)
        disconnect(connection);
    } catch (...) {
      // The server must survive anything, its handlers' failures included.
    }
    connection.Close();
    client->done = true;
  }

  void AcceptLoop(int maxConnections) {
    for (;;) {
      std::unique_ptr<TcpConnection> accepted = listener->Accept();
      if (accepted == nullptr)
        break;
      std::lock_guard<std::mutex> lock(mu);
      if (!active)
        break;
      ReapLocked();
      if (static_cast<int>(clients.size()) >= maxConnections) {
        if (onRefused) {
          accepted->SetTimeoutMillis(1000);
          try {
            onRefused(*accepted);
          } catch (...) {
            // A refusal notice that fails changes nothing: the connection
            // is closed either way.
          }
        }
        accepted->Finish(0);
        continue;
      }
      Client& client = clients.emplace_back();
      client.connection = std::move(accepted);
      client.thread = std::thread(&State::Serve, this, &client, onConnect, onExecute, onDisconnect);
    }
  }
};

TcpServer::TcpServer(std::string ip, int port, int maxConnections)
    : ip_(std::move(ip)),
      requested_port_(port),
      port_(port),
      max_connections_(maxConnections),
      state_(std::make_unique<State>()) {}

TcpServer::~TcpServer() {
  Deactivate();
}

bool TcpServer::Active() const {
  return state_->active;
}

void TcpServer::SetHandlers(Handler onConnect, Handler onExecute, Handler onDisconnect) {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->onConnect = std::move(onConnect);
  state_->onExecute = std::move(onExecute);
  state_->onDisconnect = std::move(onDisconnect);
}

void TcpServer::SetRefusedHandler(Handler onRefused) {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->onRefused = std::move(onRefused);
}

bool TcpServer::Activate(std::string* error) {
  if (state_->active)
    return true;
  state_->listener = TcpListen(ip_, requested_port_, error);
  if (state_->listener == nullptr)
    return false;
  port_ = state_->listener->Port();
  state_->active = true;
  state_->acceptThread = std::thread(&State::AcceptLoop, state_.get(), max_connections_);
  return true;
}

void TcpServer::Deactivate() {
  State& s = *state_;
  if (!s.active.exchange(false))
    return;
  s.listener->Close();
  s.acceptThread.join();
  std::list<State::Client> clients;
  {
    std::lock_guard<std::mutex> lock(s.mu);
    clients.swap(s.clients);
  }
  for (auto& client : clients)
    client.connection->Close();
  for (auto& client : clients)
    client.thread.join();
  s.listener.reset();
}

}  // namespace tarvo
