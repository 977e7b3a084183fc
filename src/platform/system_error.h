// The system's error texts, for the operations of the platform layer that
// report a failure through a `std::string* error`. Internal to the platform
// layer.
#ifndef TARVO_PLATFORM_SYSTEM_ERROR_H_
#define TARVO_PLATFORM_SYSTEM_ERROR_H_

#include <string>

namespace tarvo {
namespace internal {

// The system's message for the error number `err`, for example "No such
// file or directory".
std::string SystemErrorText(int err);

// Stores `text` in *error unless `error` is null. Returns false, so that a
// failing operation can end with `return Fail(error, text);`.
bool Fail(std::string* error, const std::string& text);

// Fail() with the system's message for the calling thread's current errno.
bool FailWithErrno(std::string* error);

}  // namespace internal
}  // namespace tarvo

#endif  // TARVO_PLATFORM_SYSTEM_ERROR_H_
