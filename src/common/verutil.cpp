#include "common/verutil.h"

#include "platform/process.h"

namespace tarvo {

std::string GetFileVersion(const std::string& path) {
  if (path.empty() || path == ExecutablePath())
    return ProgramVersion();
  return std::string();
}

}  // namespace tarvo
