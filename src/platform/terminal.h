// What an interactive program needs to know about the terminal it runs on.
#ifndef TARVO_PLATFORM_TERMINAL_H_
#define TARVO_PLATFORM_TERMINAL_H_

#include <string>

namespace tarvo {

enum class StandardStream { kInput, kOutput, kError };

// True when `stream` is connected to a terminal (not a file or a pipe).
bool IsTerminal(StandardStream stream);

// The width in columns of the terminal on `stream`; `fallback` when the
// stream is no terminal or its width cannot be told.
int TerminalColumns(StandardStream stream, int fallback = 80);

// Writes `text` to the output or error stream at once, unbuffered: one
// write when the system takes it whole, so the lines of concurrent callers
// do not interleave. False when it could not be written (or `stream` is the
// input).
bool WriteStream(StandardStream stream, const std::string& text);

}  // namespace tarvo

#endif  // TARVO_PLATFORM_TERMINAL_H_
