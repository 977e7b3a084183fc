// TCP on IPv4. Connections, a listener, and the thread-per-connection server
// that the service's ports and the scale emulator are built on.
#ifndef TARVO_PLATFORM_SOCKET_H_
#define TARVO_PLATFORM_SOCKET_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tarvo {

// One connected stream. Each ReadExact, ReadLn or WriteAll call completes
// within the timeout set (0 = no limit) or fails. Methods return false on
// error, timeout or end of stream, after which the connection is unusable.
// They take no error text: TimedOut() tells a timeout from the rest, which is
// all a caller needs. Close() may be called from another thread to unblock a
// reader.
class TcpConnection {
 public:
  virtual ~TcpConnection() = default;

  virtual bool ReadExact(void* buffer, size_t size) = 0;
  virtual bool WriteAll(const void* data, size_t size) = 0;

  // A line ending at LF; a CR before the LF is dropped. False when the line
  // exceeds `maxLength` bytes: LineTooLong() then says so, the bytes read of
  // it are dropped and the connection stays open for a last reply (Finish).
  virtual bool ReadLn(std::string* line, size_t maxLength = 64 * 1024) = 0;
  // Writes `line` + CR LF; bytes above 127, and a CR or LF inside `line`,
  // are sent as "?", so that the line stays one line.
  virtual bool WriteLn(const std::string& line) = 0;

  virtual void SetTimeoutMillis(int ms) = 0;
  virtual void Close() = 0;
  // Ends the connection so that the peer still reads what was sent: stops
  // sending, discards what the peer sends for up to `lingerMs`, then closes.
  virtual void Finish(int lingerMs) {
    (void)lingerMs;
    Close();
  }
  virtual std::string PeerAddress() const = 0;

  // True once the connection failed, reached end of stream or was closed.
  virtual bool Closed() const { return false; }
  // True when the last failed read or write ran out of time.
  virtual bool TimedOut() const { return false; }
  // True when the last failed ReadLn met a line longer than its maximum.
  virtual bool LineTooLong() const { return false; }
};

// Why TcpConnect failed.
enum class ConnectFailure {
  kNone,
  kRefused,     // nothing listens on the address (or it actively refused)
  kTimedOut,    // no answer within the timeout
  kBadAddress,  // the text is not an IPv4 address
  kOther,       // unreachable network, out of resources, ...
};

// Connects to ip:port within `timeoutMs`. Null on failure, with `failure`
// set to the kind of failure and `error` to a readable text ("Connection
// refused", "Connection timed out", ...), each when given.
std::unique_ptr<TcpConnection> TcpConnect(const std::string& ip, int port, int timeoutMs,
                                          ConnectFailure* failure = nullptr,
                                          std::string* error = nullptr);

// A listening socket on ip:port ("" or "0.0.0.0" = every local address).
class TcpListener {
 public:
  virtual ~TcpListener() = default;
  // Waits for the next connection; null once Close() was called.
  virtual std::unique_ptr<TcpConnection> Accept() = 0;
  virtual void Close() = 0;
  virtual int Port() const = 0;  // the bound port (useful with port 0)
};

// Null on failure, with `error` (when given) set to a readable text.
std::unique_ptr<TcpListener> TcpListen(const std::string& ip, int port,
                                       std::string* error = nullptr);

// A server with one thread per connection and a cap on connections (a
// connection beyond the cap is closed at once, after the refusal handler).
// Handlers run on the connection's thread.
class TcpServer {
 public:
  using Handler = std::function<void(TcpConnection&)>;

  TcpServer(std::string ip, int port, int maxConnections = 50);
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;
  ~TcpServer();  // Deactivate()

  // The port to bind at the next activation; 0 lets the system pick a free
  // one at every activation.
  void SetPort(int port) { requested_port_ = port; }
  // The bound port while active (the requested one before the first
  // activation). Safe to call from any thread.
  int Port() const { return port_; }
  bool Active() const;

  // `onConnect` runs first, then `onExecute` repeatedly while the
  // connection is open and the server active; `onDisconnect` runs last.
  void SetHandlers(Handler onConnect, Handler onExecute, Handler onDisconnect);
  // `onRefused` runs for a connection beyond the cap, on the accepting
  // thread, with a write timeout of one second; the connection is closed
  // after it. It should only write a short notice.
  void SetRefusedHandler(Handler onRefused);

  // Binds and starts accepting; false with `error` set when binding fails.
  // With port 0 the system picks a free port, which Port() then reports.
  bool Activate(std::string* error = nullptr);

  // Stops accepting, closes every connection and joins every thread.
  void Deactivate();

 private:
  struct State;
  std::string ip_;
  int requested_port_;
  std::atomic<int> port_;
  int max_connections_;
  std::unique_ptr<State> state_;
};

}  // namespace tarvo

#endif  // TARVO_PLATFORM_SOCKET_H_
