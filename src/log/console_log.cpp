#include "log/console_log.h"

#include "log/logoperations.h"
#include "platform/codepage.h"

namespace tarvo {

namespace {

constexpr std::string_view kReset = "\x1b[0m";

}  // namespace

bool ShouldShowConsoleLog(bool stderrIsTerminal, bool startedBySystemd) {
  return stderrIsTerminal && !startedBySystemd;
}

std::string_view LevelColour(int32_t level) {
  switch (level) {
    case 5:
      return "\x1b[1;31m";
    case 4:
      return "\x1b[1;33m";
    case 3:
      return "\x1b[1m";
    case 0:
      return "\x1b[90m";
    default:
      return "";
  }
}

std::string ConsoleLogLine(const std::string& text, int32_t level, const DateTime& now,
                           bool colour) {
  std::string body;
  if (SameTextAscii(text, "#header"))
    return "";
  if (SameTextAscii(text, "#line")) {
    body.assign(100, '*');
  } else if (!SameTextAscii(text, "#cr")) {
    body = AnsiToUtf8(LogClientLine(text, level, now));
  }
  const std::string_view start = colour && !body.empty() ? LevelColour(level) : "";
  if (start.empty())
    return body + "\n";
  std::string line;
  line.reserve(start.size() + body.size() + kReset.size() + 1);
  line.append(start).append(body).append(kReset).push_back('\n');
  return line;
}

}  // namespace tarvo
