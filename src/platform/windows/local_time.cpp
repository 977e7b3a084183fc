#include "platform/local_time.h"

#include "platform/windows/win32.h"

namespace tarvo {
namespace internal {

DateTime SystemLocalNow() {
  SYSTEMTIME local;
  ::GetLocalTime(&local);
  DateTimeParts parts;
  parts.year = local.wYear;
  parts.month = local.wMonth;
  parts.day = local.wDay;
  parts.hour = local.wHour;
  parts.minute = local.wMinute;
  parts.second = local.wSecond;
  parts.millisecond = local.wMilliseconds;
  return DateTime::FromParts(parts);
}

}  // namespace internal
}  // namespace tarvo
