// The system's number, date and time conventions, in one place.
//
// Defaults: decimal separator ".", short date format "dd.mm.yyyy", date
// separator ".", time separator ":", long time format "hh:nn:ss". On Windows
// the user's regional settings (decimal symbol, short date, time separator)
// take their place. A shop sets its own conventions through the environment,
// read once at start-up, over both, by LoadSystemFormatsFromEnvironment():
//   TARVO_DECIMAL_SEPARATOR   one character, for example ","
//   TARVO_SHORT_DATE_FORMAT   for example "dd.mm.yyyy" or "yyyy-mm-dd"; its
//                             separator becomes the date separator
//   TARVO_TIME_SEPARATOR      one character
// A value that is unusable (a digit or sign as a separator, a date format
// that is not day, month and year fields with one separator) is ignored.
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
// separator). Blanks around the text are allowed; a year of one or two
// digits lies in 1950..2049. False on failure, `value` unchanged.
bool TryStrToDate(const std::string& text, DateTime* value);

// Number to text with the system decimal separator, shortest form that
// reads back the same (15 significant digits at most); very large and very
// small numbers with an exponent ("1E20", "1,5E-7").
std::string FloatToStr(double value);

// The date in the short date format, and the time in the long time format.
std::string DateToStr(const DateTime& dt);
std::string TimeToStr(const DateTime& dt);

}  // namespace tarvo

#endif  // TARVO_PLATFORM_SYSTEM_FORMATS_H_
