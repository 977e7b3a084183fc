// Helpers of the Windows implementations of the platform layer: text
// between the program's ANSI and the system's UTF-16, and the system's
// error messages. Internal to the platform layer.
#ifndef TARVO_PLATFORM_WINDOWS_WIN32_H_
#define TARVO_PLATFORM_WINDOWS_WIN32_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// The platform layer's own DeleteFile (files.h), not the system's macro.
#undef DeleteFile

#include <cstdint>
#include <string>

namespace tarvo {
namespace internal {

// ANSI text (the system's ANSI code page) to UTF-16 and back; characters
// that the page lacks become "?".
std::wstring WideFromAnsi(const std::string& ansi);
std::string AnsiFromWide(const std::wstring& wide);

// The system's message for the error code `code` (GetLastError()), in
// ANSI, without the line end: "The system cannot find the file specified."
std::string Win32ErrorText(DWORD code);

// Fail() with the system's message for the calling thread's last error.
bool FailWithLastError(std::string* error);

// 100-nanosecond intervals since 1601 to milliseconds since 1970.
int64_t FileTimeToUnixMillis(const FILETIME& time);

}  // namespace internal
}  // namespace tarvo

#endif  // TARVO_PLATFORM_WINDOWS_WIN32_H_
