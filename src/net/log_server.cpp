#include "net/log_server.h"

#include <exception>
#include <vector>

#include "common/newrxstrutils.h"
#include "net/command_port.h"
#include "platform/codepage.h"

namespace tarvo {

namespace {

// The first greeting line goes out in UTF-8; everything else is ASCII.
constexpr char kHello[] = "Hello! (Привет)\r\n";

// A poll line may hold anything; one longer than this ends the connection.
constexpr size_t kPollLineMax = 64 * 1024;

// Appends `line` as WriteLn sends it: bytes above 127 and a CR or LF inside
// as "?", then CR LF.
void AppendWireLine(const std::string& line, std::string* out) {
  for (char c : line)
    out->push_back(static_cast<unsigned char>(c) > 127 || c == '\r' || c == '\n' ? '?' : c);
  out->append("\r\n");
}

}  // namespace

LogServer::LogServer(ServiceHost& host, std::string ip, int port, size_t queueCapacity)
    : ServicePort(std::move(ip), port), host_(host), queue_capacity_(queueCapacity) {}

LogServer::~LogServer() {
  Deactivate();
}

std::shared_ptr<LogQueue> LogServer::QueueOf(const TcpConnection& connection) {
  std::lock_guard<std::mutex> lock(queues_mutex_);
  auto it = queues_.find(&connection);
  return it == queues_.end() ? nullptr : it->second;
}

void LogServer::TCPServer_LogConnect(TcpConnection& connection) {
  try {
    auto queue = std::make_shared<LogQueue>(queue_capacity_);
    {
      std::lock_guard<std::mutex> lock(queues_mutex_);
      queues_[&connection] = queue;
    }
    host_.LogClientList().Add(queue);
    const std::string hello = kHello;
    connection.WriteAll(hello.data(), hello.size());
    connection.WriteLn("This Tarvo log server.");
    connection.WriteLn("ServiceExecute: " + std::string(53, '*'));
    ++host_.LogClientCount;
  } catch (const std::exception& e) {
    host_.WriteLogEvent("LogConnect: " + SingleLineText(e.what()), 5);
  }
}

void LogServer::TCPServer_LogExecute(TcpConnection& connection) {
  try {
    std::string line;
    if (!ReadPlainLine(connection, kPollLineMax, &line, [&](const std::string& text) {
          host_.WriteLogEvent("LogExecute~Error: " + text, 5);
        })) {
      return;
    }
    std::shared_ptr<LogQueue> queue = QueueOf(connection);
    if (queue == nullptr)
      return;
    // The lines are taken under the queue's lock and sent after it, in one
    // write: a busy log must not cost a system call a line and client.
    size_t dropped = 0;
    const std::vector<std::string> lines = queue->TakeAll(&dropped);
    std::string out;
    if (dropped > 0) {
      AppendWireLine(LogClientLine("LogServer: " + std::to_string(dropped) + " lines dropped.", 5,
                                   host_.ServiceClock().LocalNow()),
                     &out);
    }
    for (const std::string& text : lines)
      AppendWireLine(text, &out);
    if (!out.empty())
      connection.WriteAll(out.data(), out.size());
  } catch (const std::exception& e) {
    host_.WriteLogEvent("LogExecute~Error: " + SingleLineText(e.what()), 5);
    connection.Close();
  }
}

void LogServer::TCPServer_LogDisconnect(TcpConnection& connection) {
  try {
    std::shared_ptr<LogQueue> queue;
    {
      std::lock_guard<std::mutex> lock(queues_mutex_);
      auto it = queues_.find(&connection);
      if (it != queues_.end()) {
        queue = it->second;
        queues_.erase(it);
      }
    }
    if (queue != nullptr) {
      host_.LogClientList().Remove(queue.get());
      DecrementClientCount(host_.LogClientCount);
    }
  } catch (const std::exception& e) {
    host_.WriteLogEvent("LogDisconnect: " + SingleLineText(e.what()), 5);
  }
}

}  // namespace tarvo
