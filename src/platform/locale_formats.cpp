#include "platform/locale_formats.h"

namespace tarvo {
namespace internal {

// The C library's locale is not the shop's: the program keeps its defaults,
// and a shop sets its conventions through the environment.
SystemFormats SystemLocaleFormats() {
  return SystemFormats();
}

}  // namespace internal
}  // namespace tarvo
