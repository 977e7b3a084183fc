#include "log/console_log.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"

namespace tarvo {
namespace {

DateTime At(int hour, int minute, int second, int millisecond) {
  DateTimeParts p;
  p.year = 2026;
  p.month = 12;
  p.day = 7;
  p.hour = hour;
  p.minute = minute;
  p.second = second;
  p.millisecond = millisecond;
  return DateTime::FromParts(p);
}

TEST(ConsoleLogTest, ShownOnlyOnATerminalOutsideSystemd) {
  const struct {
    bool terminal, systemd, shown;
  } kCases[] = {
      {true, false, true},
      {true, true, false},
      {false, false, false},
      {false, true, false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ShouldShowConsoleLog(c.terminal, c.systemd), c.shown)
        << "terminal " << c.terminal << ", systemd " << c.systemd;
  }
}

TEST(ConsoleLogTest, LinesAreUtf8AndColouredByLevel) {
  const DateTime now = At(14, 3, 7, 215);
  // "Ошибка" (error) in Windows-1251.
  const std::string cyrillic = Utf8ToAnsi("Ошибка чтения");
  const struct {
    std::string text;
    int level;
    bool colour;
    std::string line;
  } kCases[] = {
      {"Transfer failed.", 5, true, "\x1b[1;31m{5} [14:03:07.215] Transfer failed.\x1b[0m\n"},
      {"Retry pending.", 4, true, "\x1b[1;33m{4} [14:03:07.215] Retry pending.\x1b[0m\n"},
      {"ServiceStop: Service stop.", 3, true,
       "\x1b[1m{3} [14:03:07.215] ServiceStop: Service stop.\x1b[0m\n"},
      {"Started.", 2, true, "{2} [14:03:07.215] Started.\n"},
      {"Loaded.", 1, true, "{1} [14:03:07.215] Loaded.\n"},
      {"ImportPath=Import", 0, true, "\x1b[90m{0} [14:03:07.215] ImportPath=Import\x1b[0m\n"},
      {"Odd level.", 6, true, "{6} [14:03:07.215] Odd level.\n"},
      {"Transfer failed.", 5, false, "{5} [14:03:07.215] Transfer failed.\n"},
      {cyrillic, 5, true, "\x1b[1;31m{5} [14:03:07.215] Ошибка чтения\x1b[0m\n"},
      {cyrillic, 1, false, "{1} [14:03:07.215] Ошибка чтения\n"},
      {"two\r\nlines", 1, false, "{1} [14:03:07.215] two\r\nlines\n"},
      // The log file's special words look as they do in the file.
      {"#LINE", 0, false, std::string(100, '*') + "\n"},
      {"#Line", 0, true, "\x1b[90m" + std::string(100, '*') + "\x1b[0m\n"},
      {"#cr", 3, true, "\n"},
      {"#header", 1, true, ""},
      {"#line ", 0, false, "{0} [14:03:07.215] #line \n"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ConsoleLogLine(c.text, c.level, now, c.colour), c.line)
        << "level " << c.level << ": " << c.text;
  }
}

}  // namespace
}  // namespace tarvo
