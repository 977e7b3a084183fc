// The log as a person watching the service in a terminal sees it: every
// event on standard error, in UTF-8, coloured by level.
#ifndef TARVO_LOG_CONSOLE_LOG_H_
#define TARVO_LOG_CONSOLE_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/datetime.h"

namespace tarvo {

// True when the service running in the foreground shows its log on
// standard error: only when that is a terminal, and never when systemd
// started the process (its journal keeps standard error already and would
// be flooded).
bool ShouldShowConsoleLog(bool stderrIsTerminal, bool startedBySystemd);

// The terminal escape that starts a line of `level`, after journalctl's
// colours for the syslog priorities: 5 (errors) bold red, 4 bold yellow
// (warning), 3 bold (notice), 2 and 1 plain, 0 grey (debug). "" for plain
// and for levels outside 0 to 5.
std::string_view LevelColour(int32_t level);

// One event as the terminal shows it, in UTF-8 and ending in LF:
// "{level} [hh:nn:ss.zzz] text", wrapped in LevelColour(level) and a reset
// when `colour` is set and the level has a colour. `text` is ANSI text
// (Windows-1251). The whole texts "#line" and "#cr" (any letter case) give
// a row of 100 asterisks and an empty line, as in the log file; "#header"
// gives "" (the header belongs to the file).
std::string ConsoleLogLine(const std::string& text, int32_t level, const DateTime& now,
                           bool colour);

}  // namespace tarvo

#endif  // TARVO_LOG_CONSOLE_LOG_H_
