#include "platform/datetime.h"

#include <cmath>
#include <cstdio>

#include "platform/codepage.h"
#include "platform/system_formats.h"

namespace tarvo {

namespace {

constexpr int64_t kMillisPerDay = 86400000;

// Days from 1 January 1970 to the given civil date (proleptic Gregorian).
constexpr int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (m <= 2));
  *month = m;
  *day = d;
}

// 30 December 1899 counted from 1 January 1970.
constexpr int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);
static_assert(kEpochOffset == -25569);

bool IsLeapYear(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// The automation value counts whole days from the epoch in its integer part
// and the time of day in the magnitude of its fraction, also before the
// epoch: -1.25 is 29.12.1899 06:00. A linear millisecond count makes the
// arithmetic simple; these two convert between the forms.
int64_t ToLinearMillis(double days) {
  double whole = std::trunc(days);
  int64_t ms = std::llround(std::fabs(days - whole) * kMillisPerDay);
  int64_t day = static_cast<int64_t>(whole);
  if (ms >= kMillisPerDay) {  // rounded up to the next midnight
    ms -= kMillisPerDay;
    day += 1;
  }
  return day * kMillisPerDay + ms;
}

double FromLinearMillis(int64_t linear) {
  int64_t day = linear / kMillisPerDay;
  int64_t ms = linear % kMillisPerDay;
  if (ms < 0) {
    ms += kMillisPerDay;
    day -= 1;
  }
  const double fraction = static_cast<double>(ms) / kMillisPerDay;
  return day >= 0 ? day + fraction : day - fraction;
}

// Days between 1.1.0001 and 31.12.9999, the range FromParts accepts.
constexpr double kMaxAbsDays = 3000000.0;

void AppendNumber(std::string* out, int value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "%0*d", digits, value);
  out->append(buf);
}

bool MatchToken(const std::string& pattern, size_t pos, const char* token) {
  for (size_t i = 0; token[i] != '\0'; ++i) {
    if (pos + i >= pattern.size())
      return false;
    if (AsciiLower(pattern[pos + i]) != token[i])
      return false;
  }
  return true;
}

}  // namespace

bool DateTime::TryFromParts(const DateTimeParts& p, DateTime* result) {
  if (p.year < 1 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 ||
      p.day > DaysInMonth(p.year, p.month) || p.hour < 0 || p.hour > 23 || p.minute < 0 ||
      p.minute > 59 || p.second < 0 || p.second > 59 || p.millisecond < 0 || p.millisecond > 999) {
    return false;
  }
  const int64_t day = DaysFromCivil(p.year, p.month, p.day) - kEpochOffset;
  const int64_t ms =
      ((static_cast<int64_t>(p.hour) * 60 + p.minute) * 60 + p.second) * 1000 + p.millisecond;
  *result = DateTime(FromLinearMillis(day * kMillisPerDay + ms));
  return true;
}

DateTime DateTime::FromParts(const DateTimeParts& parts) {
  DateTime result;
  TryFromParts(parts, &result);
  return result;
}

DateTimeParts DateTime::Parts() const {
  DateTimeParts p;
  if (!std::isfinite(days_) || std::fabs(days_) > kMaxAbsDays)
    return p;
  const int64_t linear = ToLinearMillis(days_);
  int64_t day = linear / kMillisPerDay;
  int64_t ms = linear % kMillisPerDay;
  if (ms < 0) {
    ms += kMillisPerDay;
    day -= 1;
  }
  CivilFromDays(day + kEpochOffset, &p.year, &p.month, &p.day);
  p.millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  p.second = static_cast<int>(ms % 60);
  ms /= 60;
  p.minute = static_cast<int>(ms % 60);
  p.hour = static_cast<int>(ms / 60);
  return p;
}

DateTime DateTime::AddMillis(int64_t ms) const {
  if (!std::isfinite(days_) || std::fabs(days_) > kMaxAbsDays)
    return *this;
  return DateTime(FromLinearMillis(ToLinearMillis(days_) + ms));
}

std::string FormatDateTime(const std::string& pattern, const DateTime& dt) {
  const DateTimeParts p = dt.Parts();
  const SystemFormats& formats = GetSystemFormats();
  std::string out;
  size_t i = 0;
  while (i < pattern.size()) {
    if (MatchToken(pattern, i, "yyyy")) {
      AppendNumber(&out, p.year, 4);
      i += 4;
    } else if (MatchToken(pattern, i, "yy")) {
      AppendNumber(&out, p.year % 100, 2);
      i += 2;
    } else if (MatchToken(pattern, i, "mm")) {
      AppendNumber(&out, p.month, 2);
      i += 2;
    } else if (MatchToken(pattern, i, "dd")) {
      AppendNumber(&out, p.day, 2);
      i += 2;
    } else if (MatchToken(pattern, i, "hh")) {
      AppendNumber(&out, p.hour, 2);
      i += 2;
    } else if (MatchToken(pattern, i, "nn")) {
      AppendNumber(&out, p.minute, 2);
      i += 2;
    } else if (MatchToken(pattern, i, "ss")) {
      AppendNumber(&out, p.second, 2);
      i += 2;
    } else if (MatchToken(pattern, i, "zzz")) {
      AppendNumber(&out, p.millisecond, 3);
      i += 3;
    } else if (pattern[i] == ':') {
      out.push_back(formats.TimeSeparator);
      ++i;
    } else if (pattern[i] == '/') {
      out.push_back(formats.DateSeparator);
      ++i;
    } else {
      out.push_back(pattern[i]);
      ++i;
    }
  }
  return out;
}

}  // namespace tarvo
