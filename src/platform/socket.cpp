// POSIX implementation of the TCP layer.

#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/system_error.h"

namespace tarvo {

namespace {

constexpr size_t kReadChunk = 16 * 1024;

int64_t SteadyMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Milliseconds left until `deadline` for poll(): -1 without a deadline.
int PollTimeout(int64_t deadline) {
  if (deadline < 0)
    return -1;
  int64_t left = deadline - SteadyMillis();
  return left <= 0 ? 0 : static_cast<int>(left);
}

bool ParseIpv4(const std::string& ip, in_addr* address) {
  if (ip.empty() || ip == "0.0.0.0") {
    address->s_addr = htonl(INADDR_ANY);
    return true;
  }
  return inet_pton(AF_INET, ip.c_str(), address) == 1;
}

void SetNoDelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
}

class PosixConnection : public TcpConnection {
 public:
  PosixConnection(int fd, std::string peer) : fd_(fd), peer_(std::move(peer)) { SetNoDelay(fd); }
  ~PosixConnection() override { ::close(fd_); }

  bool ReadExact(void* buffer, size_t size) override {
    char* out = static_cast<char*>(buffer);
    const int64_t deadline = Deadline();
    size_t buffered = std::min(size, pending_.size() - pending_pos_);
    std::memcpy(out, pending_.data() + pending_pos_, buffered);
    Consume(buffered);
    size_t done = buffered;
    while (done < size) {
      ssize_t n = Receive(out + done, size - done, deadline);
      if (n <= 0)
        return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  bool WriteAll(const void* data, size_t size) override {
    const char* in = static_cast<const char*>(data);
    const int64_t deadline = Deadline();
    size_t done = 0;
    while (done < size) {
      if (closed_)
        return false;
      if (!WaitFor(POLLOUT, deadline))
        return false;
      ssize_t n = ::send(fd_, in + done, size - done, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
          continue;
        return Fail();
      }
      done += static_cast<size_t>(n);
    }
    return true;
  }

  bool ReadLn(std::string* line, size_t maxLength) override {
    const int64_t deadline = Deadline();
    size_t scanned = pending_pos_;
    for (;;) {
      size_t lf = pending_.find('\n', scanned);
      if (lf != std::string::npos) {
        size_t end = lf;
        if (end > pending_pos_ && pending_[end - 1] == '\r')
          --end;
        if (end - pending_pos_ > maxLength)
          return TooLong();
        line->assign(pending_, pending_pos_, end - pending_pos_);
        Consume(lf + 1 - pending_pos_);
        return true;
      }
      // Allow one byte beyond the limit for a CR that may precede the LF.
      if (pending_.size() - pending_pos_ > maxLength + 1)
        return TooLong();
      scanned = pending_.size();
      char chunk[kReadChunk];
      ssize_t n = Receive(chunk, sizeof(chunk), deadline);
      if (n <= 0)
        return false;
      pending_.append(chunk, static_cast<size_t>(n));
    }
  }

  bool WriteLn(const std::string& line) override {
    std::string out;
    out.reserve(line.size() + 2);
    for (char c : line)
      out += (static_cast<unsigned char>(c) > 127 || c == '\r' || c == '\n') ? '?' : c;
    out += "\r\n";
    return WriteAll(out.data(), out.size());
  }

  void SetTimeoutMillis(int ms) override { timeout_ms_ = ms < 0 ? 0 : ms; }

  void Close() override {
    if (!closed_.exchange(true))
      ::shutdown(fd_, SHUT_RDWR);
  }

  void Finish(int lingerMs) override {
    if (closed_)
      return;
    ::shutdown(fd_, SHUT_WR);
    const int64_t deadline = SteadyMillis() + (lingerMs > 0 ? lingerMs : 0);
    char chunk[kReadChunk];
    while (!closed_) {
      pollfd p{fd_, POLLIN, 0};
      int r = ::poll(&p, 1, PollTimeout(deadline));
      if (r < 0 && errno == EINTR)
        continue;
      if (r <= 0 || ::recv(fd_, chunk, sizeof(chunk), 0) <= 0)
        break;
    }
    Close();
  }

  std::string PeerAddress() const override { return peer_; }
  bool Closed() const override { return closed_; }
  bool TimedOut() const override { return timed_out_; }
  bool LineTooLong() const override { return line_too_long_; }

 private:
  int64_t Deadline() const { return timeout_ms_ > 0 ? SteadyMillis() + timeout_ms_ : -1; }

  void Consume(size_t n) {
    pending_pos_ += n;
    if (pending_pos_ == pending_.size()) {
      pending_.clear();
      pending_pos_ = 0;
    }
  }

  bool Fail() {
    Close();
    return false;
  }

  // The line being read is longer than allowed: what was read of it is
  // dropped; the rest of the input is no longer framed.
  bool TooLong() {
    line_too_long_ = true;
    pending_.clear();
    pending_pos_ = 0;
    return false;
  }

  // Waits until the socket is ready for `events`; false (and the
  // connection closed) on timeout or error.
  bool WaitFor(short events, int64_t deadline) {
    for (;;) {
      pollfd p{fd_, events, 0};
      int r = ::poll(&p, 1, PollTimeout(deadline));
      if (r > 0)
        return true;
      if (r == 0) {
        timed_out_ = true;
        return Fail();
      }
      if (errno != EINTR)
        return Fail();
    }
  }

  // One recv() of at most `size` bytes; 0 or -1 close the connection.
  ssize_t Receive(char* out, size_t size, int64_t deadline) {
    for (;;) {
      if (closed_)
        return -1;
      if (!WaitFor(POLLIN, deadline))
        return -1;
      ssize_t n = ::recv(fd_, out, size, 0);
      if (n > 0)
        return n;
      if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        continue;
      Close();
      return n < 0 ? -1 : 0;
    }
  }

  const int fd_;
  const std::string peer_;
  int timeout_ms_ = 0;
  std::atomic<bool> closed_{false};
  bool timed_out_ = false;
  bool line_too_long_ = false;
  std::string pending_;  // bytes received but not yet consumed, from pending_pos_
  size_t pending_pos_ = 0;
};

std::string FormatPeer(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text));
  return text;
}

class PosixListener : public TcpListener {
 public:
  PosixListener(int fd, int port) : fd_(fd), port_(port) {}
  ~PosixListener() override {
    Close();
    ::close(fd_);
  }

  std::unique_ptr<TcpConnection> Accept() override {
    while (!closed_) {
      sockaddr_in peer{};
      socklen_t length = sizeof(peer);
      int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
      if (fd >= 0) {
        if (closed_) {
          ::close(fd);
          break;
        }
        return std::make_unique<PosixConnection>(fd, FormatPeer(peer));
      }
      if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO)
        continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Out of descriptors: back off briefly rather than spin.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      break;
    }
    return nullptr;
  }

  // Shutting the listening socket down wakes a thread blocked in accept().
  void Close() override {
    if (!closed_.exchange(true))
      ::shutdown(fd_, SHUT_RDWR);
  }

  int Port() const override { return port_; }

 private:
  const int fd_;
  const int port_;
  std::atomic<bool> closed_{false};
};

}  // namespace

std::unique_ptr<TcpConnection> TcpConnect(const std::string& ip, int port, int timeoutMs,
                                          ConnectFailure* failure, std::string* error) {
  auto fail = [&](ConnectFailure kind, const std::string& text) {
    internal::Fail(error, text);
    if (failure != nullptr)
      *failure = kind;
    return nullptr;
  };
  if (failure != nullptr)
    *failure = ConnectFailure::kNone;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (ip.empty() || inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1 || port <= 0 ||
      port > 65535) {
    return fail(ConnectFailure::kBadAddress,
                "Invalid address: \"" + ip + ":" + std::to_string(port) + "\"");
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return fail(ConnectFailure::kOther, internal::SystemErrorText(errno));

  auto failErrno = [&](int err) {
    ::close(fd);
    if (err == ECONNREFUSED)
      return fail(ConnectFailure::kRefused, "Connection refused");
    if (err == ETIMEDOUT)
      return fail(ConnectFailure::kTimedOut, "Connection timed out");
    return fail(ConnectFailure::kOther, internal::SystemErrorText(err));
  };

  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    if (errno != EINPROGRESS)
      return failErrno(errno);
    const int64_t deadline = timeoutMs > 0 ? SteadyMillis() + timeoutMs : -1;
    for (;;) {
      pollfd p{fd, POLLOUT, 0};
      int r = ::poll(&p, 1, PollTimeout(deadline));
      if (r > 0)
        break;
      if (r == 0)
        return failErrno(ETIMEDOUT);
      if (errno != EINTR)
        return failErrno(errno);
    }
    int err = 0;
    socklen_t length = sizeof(err);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0)
      err = errno;
    if (err != 0)
      return failErrno(err);
  }
  // The connection object waits with poll(); the socket itself blocks.
  int flags = fcntl(fd, F_GETFL, 0);
  fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return std::make_unique<PosixConnection>(fd, ip);
}

std::unique_ptr<TcpListener> TcpListen(const std::string& ip, int port, std::string* error) {
  auto fail = [&](const std::string& text) -> std::unique_ptr<TcpListener> {
    internal::Fail(error, text);
    return nullptr;
  };
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (!ParseIpv4(ip, &address.sin_addr) || port < 0 || port > 65535) {
    return fail("Invalid address: \"" + ip + ":" + std::to_string(port) + "\"");
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return fail(internal::SystemErrorText(errno));
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(fd, SOMAXCONN) != 0) {
    std::string text = internal::SystemErrorText(errno);
    ::close(fd);
    return fail("Cannot listen on " + (ip.empty() ? std::string("0.0.0.0") : ip) + ":" +
                std::to_string(port) + ": " + text);
  }
  sockaddr_in bound{};
  socklen_t length = sizeof(bound);
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  return std::make_unique<PosixListener>(fd, ntohs(bound.sin_port));
}

}  // namespace tarvo
