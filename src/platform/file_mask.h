// The wildcard match of folder listings, shared by the platforms' files.cpp.
// Internal to the platform layer.
#ifndef TARVO_PLATFORM_FILE_MASK_H_
#define TARVO_PLATFORM_FILE_MASK_H_

#include <string>

namespace tarvo {
namespace internal {

// Whether `name` matches `mask`: "*" any run of characters, "?" one
// character, letters without regard to case (ANSI upper case on both sides).
bool MatchFileMask(const std::string& name, const std::string& mask);

}  // namespace internal
}  // namespace tarvo

#endif  // TARVO_PLATFORM_FILE_MASK_H_
