#include "platform/locale_formats.h"

#include "platform/windows/win32.h"

namespace tarvo {
namespace internal {

namespace {

// The user's setting `type` in ANSI; "" when the system does not tell.
std::string LocaleText(LCTYPE type) {
  wchar_t buf[80];
  const int n = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buf, 80);
  return n > 1 ? AnsiFromWide(std::wstring(buf, n - 1)) : "";
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A separator the program can stand between numbers: one printable ASCII
// character that is no digit or sign.
bool Usable(const std::string& text) {
  if (text.size() != 1)
    return false;
  const char c = text[0];
  return !IsDigit(c) && c != '+' && c != '-' && c > ' ' && static_cast<unsigned char>(c) < 0x7f;
}

// The system's picture of a short date ("dd.MM.yyyy", "M/d/yyyy") in the
// program's fixed-width fields: every day run becomes "dd", every month run
// "mm", a year run of one or two letters "yy", a longer one "yyyy". Quoted
// text, era and day names give "": such a format is not used.
std::string ProgramDateFormat(const std::string& picture) {
  std::string out;
  size_t i = 0;
  while (i < picture.size()) {
    const char c = picture[i];
    size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c)
      ++run;
    if (c == 'd') {
      if (run > 2)
        return "";
      out += "dd";
    } else if (c == 'M') {
      if (run > 2)
        return "";
      out += "mm";
    } else if (c == 'y') {
      out += run <= 2 ? "yy" : "yyyy";
    } else if (c == '\'' || c == 'g' || IsDigit(c)) {
      return "";
    } else {
      out.append(run, c);
    }
    i += run;
  }
  return out;
}

}  // namespace

// A field the locale gives in an unusable form keeps its default; the
// short date format is checked again, with the environment's, by the
// caller.
SystemFormats SystemLocaleFormats() {
  SystemFormats formats;
  const std::string decimal = LocaleText(LOCALE_SDECIMAL);
  if (Usable(decimal))
    formats.DecimalSeparator = decimal[0];
  const std::string time = LocaleText(LOCALE_STIME);
  if (Usable(time))
    formats.TimeSeparator = time[0];
  const std::string date = ProgramDateFormat(LocaleText(LOCALE_SSHORTDATE));
  if (!date.empty())
    formats.ShortDateFormat = date;
  return formats;
}

}  // namespace internal
}  // namespace tarvo
