// What an interactive program needs to know about the terminal it runs on.
#ifndef TARVO_PLATFORM_TERMINAL_H_
#define TARVO_PLATFORM_TERMINAL_H_

namespace tarvo {

enum class StandardStream { kInput, kOutput, kError };

// True when `stream` is connected to a terminal (not a file or a pipe).
bool IsTerminal(StandardStream stream);

// The width in columns of the terminal on `stream`; `fallback` when the
// stream is no terminal or its width cannot be told.
int TerminalColumns(StandardStream stream, int fallback = 80);

}  // namespace tarvo

#endif  // TARVO_PLATFORM_TERMINAL_H_
