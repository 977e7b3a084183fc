#include "platform/system_formats.h"

#include <cstdlib>

#include "platform/codepage.h"
#include "platform/locale_formats.h"
#include "platform/number_text.h"

namespace tarvo {

namespace {

// The conventions in force (see the header: written before other threads
// run, read-only afterwards).
SystemFormats& Formats() {
  static SystemFormats formats;
  return formats;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The order of the day, month and year fields in a short date format, and
// its separator. False when the format is not three such fields separated
// by one and the same character.
struct DateLayout {
  char order[3];  // 'd', 'm', 'y'
  char separator;
};

bool ParseDateLayout(const std::string& format, DateLayout* layout) {
  int fields = 0;
  char separator = '\0';
  size_t i = 0;
  while (i < format.size()) {
    const char c = AsciiLower(format[i]);
    if (c == 'd' || c == 'm' || c == 'y') {
      if (fields == 3)
        return false;
      for (int f = 0; f < fields; ++f) {
        if (layout->order[f] == c)
          return false;
      }
      layout->order[fields++] = c;
      while (i < format.size() && AsciiLower(format[i]) == c)
        ++i;
      continue;
    }
    if (fields == 0 || (separator != '\0' && c != separator) || IsDigit(c) || c == ' ') {
      return false;
    }
    separator = c;
    ++i;
    if (i >= format.size())
      return false;
  }
  if (fields != 3 || separator == '\0')
    return false;
  layout->separator = separator;
  return true;
}

// A one-character value that can stand between the parts of a number or
// a date or time without being read as a part of them.
bool UsableSeparator(const char* value) {
  if (value == nullptr || value[0] == '\0' || value[1] != '\0')
    return false;
  const char c = value[0];
  return !IsDigit(c) && c != '+' && c != '-' && c != 'e' && c != 'E' && c > ' ' &&
         static_cast<unsigned char>(c) < 0x7f;
}

}  // namespace

const SystemFormats& GetSystemFormats() {
  return Formats();
}

void SetSystemFormats(const SystemFormats& formats) {
  Formats() = formats;
}

void LoadSystemFormatsFromEnvironment() {
  SystemFormats formats = internal::SystemLocaleFormats();
  DateLayout layout;
  if (ParseDateLayout(formats.ShortDateFormat, &layout)) {
    formats.DateSeparator = layout.separator;
  } else {
    formats.ShortDateFormat = SystemFormats().ShortDateFormat;
    formats.DateSeparator = SystemFormats().DateSeparator;
  }
  const char* decimal = std::getenv("TARVO_DECIMAL_SEPARATOR");
  if (UsableSeparator(decimal))
    formats.DecimalSeparator = decimal[0];
  const char* time = std::getenv("TARVO_TIME_SEPARATOR");
  if (UsableSeparator(time))
    formats.TimeSeparator = time[0];
  const char* date = std::getenv("TARVO_SHORT_DATE_FORMAT");
  if (date != nullptr && ParseDateLayout(date, &layout)) {
    formats.ShortDateFormat = date;
    formats.DateSeparator = layout.separator;
  }
  SetSystemFormats(formats);
}

bool TryStrToFloat(const std::string& text, double* value) {
  return internal::ParseFloat(text, GetSystemFormats().DecimalSeparator, value);
}

bool TryStrToDate(const std::string& text, DateTime* value) {
  const SystemFormats& formats = GetSystemFormats();
  DateLayout layout;
  if (!ParseDateLayout(formats.ShortDateFormat, &layout))
    return false;
  // "/" in a format stands for the date separator, as when formatting.
  const char separator = layout.separator == '/' ? formats.DateSeparator : layout.separator;

  // Leading and trailing blanks are allowed, as in the system's own parser.
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && text[begin] == ' ')
    ++begin;
  while (end > begin && text[end - 1] == ' ')
    --end;

  int numbers[3];
  int widths[3];
  size_t i = begin;
  for (int f = 0; f < 3; ++f) {
    if (f > 0) {
      if (i >= end || text[i] != separator)
        return false;
      ++i;
    }
    int digits = 0;
    int number = 0;
    while (i < end && IsDigit(text[i])) {
      if (++digits > 4)
        return false;
      number = number * 10 + (text[i] - '0');
      ++i;
    }
    if (digits == 0)
      return false;
    numbers[f] = number;
    widths[f] = digits;
  }
  if (i != end)
    return false;

  DateTimeParts parts;
  for (int f = 0; f < 3; ++f) {
    switch (layout.order[f]) {
      case 'd':
        parts.day = numbers[f];
        break;
      case 'm':
        parts.month = numbers[f];
        break;
      default:
        // A year of one or two digits lies in 1950..2049.
        parts.year = numbers[f];
        if (widths[f] <= 2)
          parts.year += parts.year < 50 ? 2000 : 1900;
        break;
    }
  }
  return DateTime::TryFromParts(parts, value);
}

std::string FloatToStr(double value) {
  return internal::FormatFloat15(value, GetSystemFormats().DecimalSeparator);
}

std::string DateToStr(const DateTime& dt) {
  return FormatDateTime(GetSystemFormats().ShortDateFormat, dt);
}

std::string TimeToStr(const DateTime& dt) {
  return FormatDateTime(GetSystemFormats().LongTimeFormat, dt);
}

}  // namespace tarvo
