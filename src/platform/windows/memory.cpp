#include "platform/memory.h"

#include "platform/windows/win32.h"

namespace tarvo {

// PrefetchVirtualMemory (Windows 8 and later, looked up so that an older
// system still runs the program) brings the pages in without writing to
// them, so the process's bytes stay as they are.
void PrefaultPages(void* data, size_t bytes) {
  if (data == nullptr || bytes == 0)
    return;
  using Prefetch = BOOL(WINAPI*)(HANDLE, ULONG_PTR, WIN32_MEMORY_RANGE_ENTRY*, ULONG);
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const FARPROC proc =
      kernel == nullptr ? nullptr : ::GetProcAddress(kernel, "PrefetchVirtualMemory");
  if (proc == nullptr)
    return;
  WIN32_MEMORY_RANGE_ENTRY range;
  range.VirtualAddress = data;
  range.NumberOfBytes = bytes;
  reinterpret_cast<Prefetch>(reinterpret_cast<void*>(proc))(::GetCurrentProcess(), 1, &range, 0);
}

}  // namespace tarvo
