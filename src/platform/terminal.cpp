#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace tarvo {

namespace {

int Descriptor(StandardStream stream) {
  switch (stream) {
    case StandardStream::kInput:
      return STDIN_FILENO;
    case StandardStream::kOutput:
      return STDOUT_FILENO;
    case StandardStream::kError:
      return STDERR_FILENO;
  }
  return -1;
}

}  // namespace

bool IsTerminal(StandardStream stream) {
  return ::isatty(Descriptor(stream)) == 1;
}

int TerminalColumns(StandardStream stream, int fallback) {
  winsize size{};
  if (!IsTerminal(stream) || ::ioctl(Descriptor(stream), TIOCGWINSZ, &size) != 0 ||
      size.ws_col == 0)
    return fallback;
  return size.ws_col;
}

bool WriteStream(StandardStream stream, const std::string& text) {
  if (stream == StandardStream::kInput)
    return false;
  const int fd = Descriptor(stream);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace tarvo
