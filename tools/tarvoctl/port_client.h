// Talking to the service's four TCP ports: the command port (base), the live
// log (base + 1), the status keywords (base + 2) and the last result of a
// scale (base + 3).
#ifndef TARVO_TOOLS_TARVOCTL_PORT_CLIENT_H_
#define TARVO_TOOLS_TARVOCTL_PORT_CLIENT_H_

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace tarvo::ctl {

// The command line asked for something impossible; nothing was sent.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The service could not be reached, or the connection broke or went silent.
class UnreachableError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The service answered with an error reply (or an answer this client does
// not understand).
class ServiceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Port { kCommand = 0, kLog = 1, kStatus = 2, kScaleStatus = 3 };

// Where the service listens.
struct Endpoint {
  std::string Host = "127.0.0.1";
  int PortBase = 6524;

  int PortNumber(Port port) const { return PortBase + static_cast<int>(port); }
  // "host:port", as error messages name it.
  std::string Name(Port port) const;
};

// The end of a command-port exchange: the plain lines sent before the reply
// line, and the reply's code and text (the texts of a reply of several
// lines joined by "; ").
struct Reply {
  std::vector<std::string> Lines;
  int Code = 0;
  std::string Text;

  bool Ok() const { return Code == 200; }
  // "CODE TEXT" or the code alone.
  std::string Describe() const;
};

// True for a line that ends an exchange: three digits, then nothing or a
// space. Sets `code`.
bool ParseReplyLine(const std::string& line, int* code);

// A connection to one port that speaks plain lines. Every failure to send
// or receive throws UnreachableError naming the port.
class LineConnection {
 public:
  // Connects, waiting up to `timeoutMs` for the connection and for every
  // read afterwards (0: reads wait without a limit).
  LineConnection(const Endpoint& endpoint, Port port, int timeoutMs);
  virtual ~LineConnection();

  LineConnection(const LineConnection&) = delete;
  LineConnection& operator=(const LineConnection&) = delete;

  void SendLine(const std::string& line);
  std::string ReadLine();
  // One line, or false once the service closed the connection.
  bool TryReadLine(std::string* line);
  const std::string& name() const { return name_; }

 protected:
  // Sends `line` if the connection is still open; never throws.
  void SendLineIfOpen(const std::string& line);

 private:
  std::string name_;
  std::unique_ptr<TcpConnection> connection_;
};

// A connection to a port of the command protocol (the command port or the
// scale status port). The greeting is read on connect; a refusal (300, too
// many clients) throws UnreachableError.
class CommandConnection : public LineConnection {
 public:
  CommandConnection(const Endpoint& endpoint, Port port, int timeoutMs = 30000);
  // Says "Quit" when the connection is still usable.
  ~CommandConnection() override;

  // Sends `line` and reads up to its reply line.
  Reply Exchange(const std::string& line);
  // Reads up to the next reply line.
  Reply ReadReply();
};

// Text that may travel over the ports: 7-bit ASCII without control
// characters. Throws UsageError naming `what` otherwise.
void RequireWireText(const std::string& what, const std::string& text);

}  // namespace tarvo::ctl

#endif  // TARVO_TOOLS_TARVOCTL_PORT_CLIENT_H_
