// The system's number, date and time conventions, in one place.
//
// Defaults: decimal separator ".", short date format "dd.mm.yyyy", date
// separator ".", time separator ":", long time format "hh:nn:ss". A shop sets
// its own conventions through the environment, read once at start-up by
// LoadSystemFormatsFromEnvironment():
//   TARVO_DECIMAL_SEPARATOR   one character, for example ","
//   TARVO_SHORT_DATE_FORMAT   for example "dd.mm.yyyy" or "yyyy-mm-dd"
//   TARVO_TIME_SEPARATOR      one character
#ifndef TARVO_PLATFORM_SYSTEM_FORMATS_H_
#define TARVO_PLATFORM_SYSTEM_FORMATS_H_

#include <string>

#include "platform/datetime.h"

namespace tarvo {

struct SystemFormats {
  char DecimalSeparator = '.';
  std::string ShortDateFormat = "dd.mm.yyyy";
  char DateSeparator = '.';
  char TimeSeparator = ':';
  std::string LongTimeFormat = "hh:nn:ss";
};

// The conventions in force. Set at start-up (and by tests) before other
// threads run; read-only afterwards.
const SystemFormats& GetSystemFormats();
void SetSystemFormats(const SystemFormats& formats);
void LoadSystemFormatsFromEnvironment();

// Text to number with the system decimal separator. The whole text must be a
// number; leading and trailing blanks are not accepted. False on failure.
bool TryStrToFloat(const std::string& text, double* value);

// Text to date by the system short date format ("dd.mm.yyyy" style: the
// day, month and year fields in the format's order, separated by the date
// separator). False on failure.
bool TryStrToDate(const std::string& text, DateTime* value);

// Number to text with the system decimal separator, shortest form that
// reads back the same (15 significant digits at most).
std::string FloatToStr(double value);

// The date in the short date format, and the time in the long time format.
std::string DateToStr(const DateTime& dt);
std::string TimeToStr(const DateTime& dt);

}  // namespace tarvo

#endif  // TARVO_PLATFORM_SYSTEM_FORMATS_H_
