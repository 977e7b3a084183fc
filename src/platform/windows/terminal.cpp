#include "platform/terminal.h"

#include <string>

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
  DWORD mode;
  if (::GetConsoleMode(h, &mode) && !text.empty()) {
    // The text is UTF-8; a console shows it right only as UTF-16, whatever
    // its own code page.
    const int size = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(n > 0 ? n : 0, L'\0');
    if (n <= 0 || ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), n) != n)
      return false;
    DWORD written = 0;
    return ::WriteConsoleW(h, wide.data(), static_cast<DWORD>(n), &written, nullptr) &&
           written == static_cast<DWORD>(n);
  }
  // A file or a pipe gets the bytes as they are.
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
