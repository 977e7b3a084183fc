// The system's local wall-clock time, for the real clock of clock.h.
// Internal to the platform layer.
#ifndef TARVO_PLATFORM_LOCAL_TIME_H_
#define TARVO_PLATFORM_LOCAL_TIME_H_

#include "platform/datetime.h"

namespace tarvo {
namespace internal {

// The local date and time now, to the millisecond; the zero date when the
// system cannot tell.
DateTime SystemLocalNow();

}  // namespace internal
}  // namespace tarvo

#endif  // TARVO_PLATFORM_LOCAL_TIME_H_
