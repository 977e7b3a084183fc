#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

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

}  // namespace tarvo
