// Winsock implementation of the TCP layer. A blocked read, write or accept
// waits in slices of kWaitSliceMs, so that Close() from another thread ends
// it within one slice: Winsock does not wake a select() on a socket that
// another thread shuts down.

#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/system_error.h"
#include "platform/windows/win32.h"

namespace tarvo {

namespace {

constexpr size_t kReadChunk = 16 * 1024;
constexpr int kWaitSliceMs = 50;

// Winsock is started once, on first use, and stays up for the process.
bool StartWinsock(std::string* error) {
  static const int result = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (result != 0)
    return internal::Fail(error, internal::Win32ErrorText(static_cast<DWORD>(result)));
  return true;
}

std::string SocketErrorText(int code) {
  if (code == WSAECONNREFUSED)
    return "Connection refused";
  if (code == WSAETIMEDOUT)
    return "Connection timed out";
  return internal::Win32ErrorText(static_cast<DWORD>(code));
}

int64_t SteadyMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

enum class Wait { kReady, kTimedOut, kError };

// Waits up to `ms` (at least 0) until `s` is readable, or writable when
// `write`; a failed connect counts as ready for writing.
Wait WaitOnce(SOCKET s, bool write, int ms) {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  const int r = ::select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &tv);
  if (r == SOCKET_ERROR)
    return Wait::kError;
  return r > 0 ? Wait::kReady : Wait::kTimedOut;
}

bool ParseIpv4(const std::string& ip, in_addr* address) {
  if (ip.empty() || ip == "0.0.0.0") {
    address->s_addr = htonl(INADDR_ANY);
    return true;
  }
  return ::inet_pton(AF_INET, ip.c_str(), address) == 1;
}

SOCKET NewSocket() {
  // Not inherited by child processes.
  return ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
}

void SetBlocking(SOCKET s, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
}

class WinsockConnection : public TcpConnection {
 public:
  WinsockConnection(SOCKET s, std::string peer) : socket_(s), peer_(std::move(peer)) {
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
  }
  ~WinsockConnection() override { ::closesocket(socket_); }

  bool ReadExact(void* buffer, size_t size) override {
    char* out = static_cast<char*>(buffer);
    const int64_t deadline = Deadline();
    size_t buffered = std::min(size, pending_.size() - pending_pos_);
    std::memcpy(out, pending_.data() + pending_pos_, buffered);
    Consume(buffered);
    size_t done = buffered;
    while (done < size) {
      const int n = Receive(out + done, size - done, deadline);
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
      if (closed_ || !WaitFor(true, deadline))
        return false;
      const int piece = static_cast<int>(std::min<size_t>(size - done, 1 << 20));
      const int n = ::send(socket_, in + done, piece, 0);
      if (n == SOCKET_ERROR) {
        if (::WSAGetLastError() == WSAEWOULDBLOCK)
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
      const int n = Receive(chunk, sizeof(chunk), deadline);
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
      ::shutdown(socket_, SD_BOTH);
  }

  void Finish(int lingerMs) override {
    if (closed_)
      return;
    ::shutdown(socket_, SD_SEND);
    const int64_t deadline = SteadyMillis() + (lingerMs > 0 ? lingerMs : 0);
    char chunk[kReadChunk];
    while (!closed_) {
      const int64_t left = deadline - SteadyMillis();
      const Wait w =
          WaitOnce(socket_, false, static_cast<int>(std::clamp<int64_t>(left, 0, kWaitSliceMs)));
      if (w == Wait::kError)
        break;
      if (w == Wait::kTimedOut) {
        if (left <= 0)
          break;
        continue;
      }
      if (::recv(socket_, chunk, sizeof(chunk), 0) <= 0)
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

  // Waits until the socket is ready; false (and the connection closed) on
  // timeout, error or Close().
  bool WaitFor(bool write, int64_t deadline) {
    for (;;) {
      if (closed_)
        return false;
      int slice = kWaitSliceMs;
      if (deadline >= 0) {
        const int64_t left = deadline - SteadyMillis();
        if (left <= 0) {
          timed_out_ = true;
          return Fail();
        }
        slice = static_cast<int>(std::min<int64_t>(left, kWaitSliceMs));
      }
      const Wait w = WaitOnce(socket_, write, slice);
      if (w == Wait::kReady)
        return true;
      if (w == Wait::kError)
        return Fail();
    }
  }

  // One recv() of at most `size` bytes; 0 or -1 close the connection.
  int Receive(char* out, size_t size, int64_t deadline) {
    for (;;) {
      if (closed_ || !WaitFor(false, deadline))
        return -1;
      const int n = ::recv(socket_, out, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
      if (n > 0)
        return n;
      if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK)
        continue;
      Close();
      return n == 0 ? 0 : -1;
    }
  }

  const SOCKET socket_;
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
  ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text));
  return text;
}

class WinsockListener : public TcpListener {
 public:
  WinsockListener(SOCKET s, int port) : socket_(s), port_(port) {}
  ~WinsockListener() override {
    Close();
    ::closesocket(socket_);
  }

  std::unique_ptr<TcpConnection> Accept() override {
    while (!closed_) {
      const Wait w = WaitOnce(socket_, false, kWaitSliceMs);
      if (w == Wait::kError)
        break;
      if (w == Wait::kTimedOut || closed_)
        continue;
      sockaddr_in peer{};
      int length = sizeof(peer);
      SOCKET s = ::accept(socket_, reinterpret_cast<sockaddr*>(&peer), &length);
      if (s != INVALID_SOCKET) {
        if (closed_) {
          ::closesocket(s);
          break;
        }
        // An accepted socket inherits the listener's mode; it blocks.
        SetBlocking(s, true);
        return std::make_unique<WinsockConnection>(s, FormatPeer(peer));
      }
      const int err = ::WSAGetLastError();
      if (err == WSAEWOULDBLOCK || err == WSAECONNRESET || err == WSAEINTR)
        continue;
      if (err == WSAEMFILE || err == WSAENOBUFS) {
        // Out of resources: back off briefly rather than spin.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      break;
    }
    return nullptr;
  }

  // A thread blocked in Accept() sees the flag within one wait slice.
  void Close() override { closed_ = true; }

  int Port() const override { return port_; }

 private:
  const SOCKET socket_;
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
  std::string startError;
  if (!StartWinsock(&startError))
    return fail(ConnectFailure::kOther, startError);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (ip.empty() || ::inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1 || port <= 0 ||
      port > 65535) {
    return fail(ConnectFailure::kBadAddress,
                "Invalid address: \"" + ip + ":" + std::to_string(port) + "\"");
  }
  SOCKET s = NewSocket();
  if (s == INVALID_SOCKET)
    return fail(ConnectFailure::kOther, SocketErrorText(::WSAGetLastError()));

  auto failWith = [&](int err) {
    ::closesocket(s);
    if (err == WSAECONNREFUSED)
      return fail(ConnectFailure::kRefused, SocketErrorText(err));
    if (err == WSAETIMEDOUT)
      return fail(ConnectFailure::kTimedOut, SocketErrorText(err));
    return fail(ConnectFailure::kOther, SocketErrorText(err));
  };

  SetBlocking(s, false);
  if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    if (::WSAGetLastError() != WSAEWOULDBLOCK)
      return failWith(::WSAGetLastError());
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int r = ::select(0, nullptr, &writable, &failed, timeoutMs > 0 ? &tv : nullptr);
    if (r == 0)
      return failWith(WSAETIMEDOUT);
    if (r == SOCKET_ERROR)
      return failWith(::WSAGetLastError());
    int err = 0;
    int length = sizeof(err);
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &length) != 0)
      err = ::WSAGetLastError();
    if (err == 0 && FD_ISSET(s, &failed))
      err = WSAECONNREFUSED;
    if (err != 0)
      return failWith(err);
  }
  // The connection object waits with select(); the socket itself blocks.
  SetBlocking(s, true);
  return std::make_unique<WinsockConnection>(s, ip);
}

std::unique_ptr<TcpListener> TcpListen(const std::string& ip, int port, std::string* error) {
  auto fail = [&](const std::string& text) -> std::unique_ptr<TcpListener> {
    internal::Fail(error, text);
    return nullptr;
  };
  if (!StartWinsock(error))
    return nullptr;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (!ParseIpv4(ip, &address.sin_addr) || port < 0 || port > 65535)
    return fail("Invalid address: \"" + ip + ":" + std::to_string(port) + "\"");
  SOCKET s = NewSocket();
  if (s == INVALID_SOCKET)
    return fail(SocketErrorText(::WSAGetLastError()));
  // No other program may bind the port while this one listens (Windows'
  // SO_REUSEADDR would let it); a port in TIME_WAIT binds here without help.
  BOOL one = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one),
               sizeof(one));
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(s, SOMAXCONN) != 0) {
    const std::string text = SocketErrorText(::WSAGetLastError());
    ::closesocket(s);
    return fail("Cannot listen on " + (ip.empty() ? std::string("0.0.0.0") : ip) + ":" +
                std::to_string(port) + ": " + text);
  }
  // Accept() waits with select(); a peer that gave up meanwhile must not
  // block it.
  SetBlocking(s, false);
  sockaddr_in bound{};
  int length = sizeof(bound);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length);
  return std::make_unique<WinsockListener>(s, ntohs(bound.sin_port));
}

}  // namespace tarvo
