#include "platform/terminal.h"

#include "platform/windows/win32.h"

namespace tarvo {

namespace {

HANDLE StreamHandle(StandardStream stream) {
  switch (stream) {
    case StandardStream::kInput:
      return ::GetStdHandle(STD_INPUT_HANDLE);
    case StandardStream::kOutput:
      return ::GetStdHandle(STD_OUTPUT_HANDLE);
    case StandardStream::kError:
      return ::GetStdHandle(STD_ERROR_HANDLE);
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

// A console is this system's terminal.
bool IsTerminal(StandardStream stream) {
  DWORD mode;
  const HANDLE h = StreamHandle(stream);
  return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != 0;
}

int TerminalColumns(StandardStream stream, int fallback) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!IsTerminal(stream) || !::GetConsoleScreenBufferInfo(StreamHandle(stream), &info))
    return fallback;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? columns : fallback;
}

bool WriteStream(StandardStream stream, const std::string& text) {
  if (stream == StandardStream::kInput)
    return false;
  const HANDLE h = StreamHandle(stream);
  if (h == nullptr || h == INVALID_HANDLE_VALUE)
    return false;
  size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    if (!::WriteFile(h, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                     nullptr) ||
        written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace tarvo
