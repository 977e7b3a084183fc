#include "platform/terminal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

namespace tarvo {
namespace {

// Puts `fd` in place of a standard descriptor for the life of the object.
class Redirect {
 public:
  Redirect(int target, int fd) : target_(target), saved_(::dup(target)) { ::dup2(fd, target); }
  ~Redirect() {
    ::dup2(saved_, target_);
    ::close(saved_);
  }

 private:
  const int target_;
  const int saved_;
};

// The far end of a pseudo-terminal whose width is `columns`; -1 on failure.
int OpenTerminal(int columns, int* master) {
  *master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (*master < 0 || ::grantpt(*master) != 0 || ::unlockpt(*master) != 0)
    return -1;
  const int fd = ::open(::ptsname(*master), O_RDWR | O_NOCTTY);
  winsize size{};
  size.ws_row = 24;
  size.ws_col = static_cast<unsigned short>(columns);
  if (fd >= 0)
    ::ioctl(fd, TIOCSWINSZ, &size);
  return fd;
}

TEST(TerminalTest, TellsATerminalFromAFileOnEachStreamAndReadsItsWidth) {
  const struct {
    StandardStream stream;
    int fd;
  } kStreams[] = {{StandardStream::kInput, STDIN_FILENO},
                  {StandardStream::kOutput, STDOUT_FILENO},
                  {StandardStream::kError, STDERR_FILENO}};
  const struct {
    const char* what;
    int columns;  // -1: a plain file, not a terminal
    bool terminal;
    int width;
  } kCases[] = {
      {"file", -1, false, 77},
      {"terminal of 132 columns", 132, true, 132},
      {"terminal of unknown width", 0, true, 77},
  };
  for (const auto& s : kStreams) {
    for (const auto& c : kCases) {
      int master = -1;
      const int fd = c.columns < 0 ? ::open("/dev/null", O_RDWR) : OpenTerminal(c.columns, &master);
      ASSERT_GE(fd, 0) << c.what;
      bool terminal = false;
      int width = 0;
      {
        Redirect redirect(s.fd, fd);
        terminal = IsTerminal(s.stream);
        width = TerminalColumns(s.stream, 77);
      }
      ::close(fd);
      if (master >= 0)
        ::close(master);
      EXPECT_EQ(terminal, c.terminal) << c.what << " on descriptor " << s.fd;
      EXPECT_EQ(width, c.width) << c.what << " on descriptor " << s.fd;
    }
  }
}

TEST(TerminalTest, WriteStreamWritesTheWholeTextToOutputOrError) {
  const struct {
    StandardStream stream;
    int fd;
  } kStreams[] = {{StandardStream::kOutput, STDOUT_FILENO},
                  {StandardStream::kError, STDERR_FILENO}};
  // Bytes of every value, zero included.
  std::string text;
  for (int i = 0; i < 3000; ++i)
    text.push_back(static_cast<char>(i % 256));
  for (const auto& s : kStreams) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    bool written = false;
    {
      Redirect redirect(s.fd, pipeFds[1]);
      written = WriteStream(s.stream, text);
    }
    ::close(pipeFds[1]);
    std::string read;
    char buf[1024];
    for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof(buf))) > 0;)
      read.append(buf, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    EXPECT_TRUE(written) << "descriptor " << s.fd;
    EXPECT_EQ(read, text) << "descriptor " << s.fd;
  }
  EXPECT_FALSE(WriteStream(StandardStream::kInput, "x"));
}

}  // namespace
}  // namespace tarvo
