// Calendar date and time as the automation layer carries it: days since
// 30 December 1899 with the time of day as the fraction, local time.
#ifndef TARVO_PLATFORM_DATETIME_H_
#define TARVO_PLATFORM_DATETIME_H_

#include <cstdint>
#include <string>

namespace tarvo {

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

class DateTime {
 public:
  DateTime() = default;  // 0: 30.12.1899 00:00:00.000, "never set"
  explicit DateTime(double days) : days_(days) {}

  // The date and time of `parts`. False, `*result` unchanged, for an
  // impossible date or time (years 1 to 9999).
  static bool TryFromParts(const DateTimeParts& parts, DateTime* result);
  // The same for parts known to be valid; an impossible date or time gives
  // the zero date.
  static DateTime FromParts(const DateTimeParts& parts);

  double Days() const { return days_; }
  bool IsZero() const { return days_ == 0.0; }
  // The calendar parts, rounded to the nearest millisecond. Before the
  // epoch the fraction still counts forward from midnight (-1.25 is
  // 29.12.1899 06:00). A value outside years 1 to 9999 gives the parts of 0.
  DateTimeParts Parts() const;

  // Adds whole milliseconds (negative moves back).
  DateTime AddMillis(int64_t ms) const;

  friend bool operator==(const DateTime& a, const DateTime& b) { return a.days_ == b.days_; }

 private:
  double days_ = 0.0;
};

// Formats `dt` by a pattern of the system's conventions:
//   yyyy year, yy two-digit year, mm month, dd day, hh hour 00-23,
//   nn minute, ss second, zzz milliseconds; ":" is replaced by the
//   system time separator, "/" by the system date separator; any other
//   character is copied. Letters are matched without regard to case.
// Every field has a fixed width (leading zeros). "mm" is always the month,
// also after "hh": minutes are "nn". Single letters are copied as text.
std::string FormatDateTime(const std::string& pattern, const DateTime& dt);

}  // namespace tarvo

#endif  // TARVO_PLATFORM_DATETIME_H_
