// The number, date and time conventions that the system itself holds for
// its user, the starting point of system_formats.h. Internal to the
// platform layer.
#ifndef TARVO_PLATFORM_LOCALE_FORMATS_H_
#define TARVO_PLATFORM_LOCALE_FORMATS_H_

#include "platform/system_formats.h"

namespace tarvo {
namespace internal {

// The system's conventions, each field that the system does not tell (or
// tells in a form the program cannot use) at its default.
SystemFormats SystemLocaleFormats();

}  // namespace internal
}  // namespace tarvo

#endif  // TARVO_PLATFORM_LOCALE_FORMATS_H_
