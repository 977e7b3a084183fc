// Hints about how the process uses its memory. A system that cannot follow
// a hint ignores it; nothing else changes.
#ifndef TARVO_PLATFORM_MEMORY_H_
#define TARVO_PLATFORM_MEMORY_H_

#include <cstddef>

namespace tarvo {

// Maps the whole pages within [data, data + bytes) in, zero-filled where
// they were never touched, without changing a byte of the process's own:
// the cost of touching each page the first time is paid here instead. Safe
// while other threads use the memory. Returns when done; does nothing where
// the system cannot do it.
void PrefaultPages(void* data, size_t bytes);

}  // namespace tarvo

#endif  // TARVO_PLATFORM_MEMORY_H_
