#include "platform/system_error.h"

#include <cerrno>
#include <cstring>
#include <type_traits>

namespace tarvo {
namespace internal {

std::string SystemErrorText(int err) {
  char buf[256];
  // The GNU strerror_r returns the text, which may not be `buf`; the XSI one
  // fills `buf`.
  auto text = [&](auto result) -> std::string {
    if constexpr (std::is_same_v<decltype(result), char*>) {
      return result;
    } else {
      return result == 0 ? buf : "Unknown error " + std::to_string(err);
    }
  };
  return text(strerror_r(err, buf, sizeof(buf)));
}

bool Fail(std::string* error, const std::string& text) {
  if (error != nullptr)
    *error = text;
  return false;
}

bool FailWithErrno(std::string* error) {
  if (error != nullptr)
    *error = SystemErrorText(errno);
  return false;
}

}  // namespace internal
}  // namespace tarvo
