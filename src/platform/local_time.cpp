#include "platform/local_time.h"

#include <chrono>
#include <ctime>

namespace tarvo {
namespace internal {

DateTime SystemLocalNow() {
  const auto now = std::chrono::system_clock::now();
  const int64_t epochMillis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(epochMillis / 1000);
  struct tm local;
  if (::localtime_r(&seconds, &local) == nullptr)
    return DateTime();
  DateTimeParts parts;
  parts.year = local.tm_year + 1900;
  parts.month = local.tm_mon + 1;
  parts.day = local.tm_mday;
  parts.hour = local.tm_hour;
  parts.minute = local.tm_min;
  parts.second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second
  parts.millisecond = static_cast<int>(epochMillis % 1000);
  return DateTime::FromParts(parts);
}

}  // namespace internal
}  // namespace tarvo
