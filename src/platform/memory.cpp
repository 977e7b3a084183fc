#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

// Linux 5.14 and later; older kernels answer EINVAL, and nothing happens.
#if defined(__linux__) && !defined(MADV_POPULATE_WRITE)
#define MADV_POPULATE_WRITE 23
#endif

namespace tarvo {

void PrefaultPages(void* data, size_t bytes) {
#if defined(MADV_POPULATE_WRITE)
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (data == nullptr || pageSize <= 0)
    return;
  const uintptr_t page = static_cast<uintptr_t>(pageSize);
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(page - 1);
  if (end > begin)
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace tarvo
