// This system keeps no class registry of automation objects: every
// component is a built-in one, created through AutomationRegistry's table.
#include "platform/automation.h"

namespace tarvo {

ComThreadScope::ComThreadScope() = default;

ComThreadScope::~ComThreadScope() = default;

namespace internal {

bool SystemHasClassRegistry() {
  return false;
}

std::unique_ptr<AutomationObject> CreateSystemObject(const std::string&) {
  throw AutomationError("Invalid class string");
}

}  // namespace internal
}  // namespace tarvo
