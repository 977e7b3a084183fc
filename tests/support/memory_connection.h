// A connection whose peer is a string: what the peer sends is given whole at
// construction, what the server writes is collected. It ends (Closed) when
// the input is used up, so a port's ServeConnection runs to its end on it.
#ifndef TARVO_TESTS_SUPPORT_MEMORY_CONNECTION_H_
#define TARVO_TESTS_SUPPORT_MEMORY_CONNECTION_H_

#include <cstring>
#include <string>

#include "platform/socket.h"

namespace tarvo::testing {

class MemoryConnection : public TcpConnection {
 public:
  // `outputMax` bounds what is kept of the server's writes; beyond it a
  // write fails as on a peer that stopped reading.
  explicit MemoryConnection(std::string input, size_t outputMax = 1 << 20)
      : input_(std::move(input)), output_max_(outputMax) {}

  bool ReadExact(void* buffer, size_t size) override {
    if (closed_ || input_.size() - pos_ < size)
      return Fail();
    std::memcpy(buffer, input_.data() + pos_, size);
    pos_ += size;
    return true;
  }

  bool WriteAll(const void* data, size_t size) override {
    if (closed_ || output_.size() + size > output_max_)
      return Fail();
    output_.append(static_cast<const char*>(data), size);
    return true;
  }

  bool ReadLn(std::string* line, size_t maxLength) override {
    if (closed_)
      return false;
    const size_t lf = input_.find('\n', pos_);
    if (lf == std::string::npos)
      return Fail();  // the peer ended without a line end
    size_t end = lf;
    if (end > pos_ && input_[end - 1] == '\r')
      --end;
    if (end - pos_ > maxLength) {
      line_too_long_ = true;
      pos_ = lf + 1;
      return false;
    }
    line->assign(input_, pos_, end - pos_);
    pos_ = lf + 1;
    return true;
  }

  bool WriteLn(const std::string& line) override {
    std::string out;
    for (char c : line)
      out += static_cast<unsigned char>(c) > 127 || c == '\r' || c == '\n' ? '?' : c;
    out += "\r\n";
    return WriteAll(out.data(), out.size());
  }

  void SetTimeoutMillis(int) override {}
  void Close() override { closed_ = true; }
  std::string PeerAddress() const override { return "127.0.0.1"; }
  bool Closed() const override { return closed_; }
  bool LineTooLong() const override { return line_too_long_; }

  // What the server wrote.
  const std::string& Output() const { return output_; }

 private:
  bool Fail() {
    closed_ = true;
    return false;
  }

  const std::string input_;
  size_t pos_ = 0;
  const size_t output_max_;
  std::string output_;
  bool closed_ = false;
  bool line_too_long_ = false;
};

}  // namespace tarvo::testing

#endif  // TARVO_TESTS_SUPPORT_MEMORY_CONNECTION_H_
