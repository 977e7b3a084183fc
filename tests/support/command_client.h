// A client of the service's line protocol for tests: sends lines and reads
// replies up to the line that ends an exchange.
#ifndef TARVO_TESTS_SUPPORT_COMMAND_CLIENT_H_
#define TARVO_TESTS_SUPPORT_COMMAND_CLIENT_H_

#include <memory>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace tarvo::testing {

class CommandClient {
 public:
  // Connects to 127.0.0.1:`port` and, when `greeted`, reads the first line
  // (the greeting or a refusal) into greeting(). Reads time out after five
  // seconds.
  explicit CommandClient(int port, bool greeted = true);

  bool ok() const { return connection_ != nullptr && (!greeted_ || !greeting_.empty()); }
  const std::string& greeting() const { return greeting_; }

  void Send(const std::string& line);
  void SendAll(const std::vector<std::string>& lines);
  // Sends `line` and returns what the server sent up to and including the
  // reply line ("200", "201 Value not found. ...": a three-digit code alone
  // or followed by a space).
  std::vector<std::string> Exchange(const std::string& line);
  // The lines up to and including the next reply line; what arrived before
  // the connection ended when it ends first.
  std::vector<std::string> ReadReply();
  // One line; false when the connection ended (or five seconds passed).
  bool ReadLine(std::string* line);
  // True when the server closed the connection (nothing more arrives).
  bool ClosedByServer();

 private:
  std::unique_ptr<TcpConnection> connection_;
  const bool greeted_;
  std::string greeting_;
};

// True for a line that ends an exchange: three digits, then nothing or a space.
bool IsReplyLine(const std::string& line);

}  // namespace tarvo::testing

#endif  // TARVO_TESTS_SUPPORT_COMMAND_CLIENT_H_
