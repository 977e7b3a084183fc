#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

#include "platform/windows/win32.h"

namespace tarvo {
namespace internal {

std::string SystemErrorText(int err) {
  char buf[256];
  if (strerror_s(buf, sizeof(buf), err) != 0)
    return "Unknown error " + std::to_string(err);
  return buf;
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

std::wstring WideFromAnsi(const std::string& ansi) {
  if (ansi.empty())
    return std::wstring();
  const int size = static_cast<int>(ansi.size());
  const int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
  std::wstring wide(n > 0 ? n : 0, L'\0');
  if (n > 0)
    ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, wide.data(), n);
  return wide;
}

std::string AnsiFromWide(const std::wstring& wide) {
  if (wide.empty())
    return std::string();
  const int size = static_cast<int>(wide.size());
  // No best fit: a letter the page lacks is "?", not a look-alike.
  const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0,
                                      nullptr, nullptr);
  std::string ansi(n > 0 ? n : 0, '\0');
  if (n > 0) {
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, ansi.data(), n, nullptr,
                          nullptr);
  }
  return ansi;
}

std::string Win32ErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer != nullptr ? buffer : L"", n);
  if (buffer != nullptr)
    ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
    text.pop_back();
  if (text.empty())
    return "System error " + std::to_string(code);
  return AnsiFromWide(text);
}

bool FailWithLastError(std::string* error) {
  const DWORD code = ::GetLastError();
  if (error != nullptr)
    *error = Win32ErrorText(code);
  return false;
}

int64_t FileTimeToUnixMillis(const FILETIME& time) {
  const uint64_t ticks = static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
  constexpr uint64_t kTicksTo1970 = 116444736000000000ULL;
  return (static_cast<int64_t>(ticks) - static_cast<int64_t>(kTicksTo1970)) / 10000;
}

}  // namespace internal
}  // namespace tarvo
