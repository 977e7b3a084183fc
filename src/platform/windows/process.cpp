#include "platform/process.h"

#include <vector>

#include "platform/codepage.h"
#include "platform/windows/win32.h"

#ifndef TARVO_VERSION_TEXT
#define TARVO_VERSION_TEXT "0.0.0.0"
#endif

namespace tarvo {

std::string ExecutablePath() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0)
      return "";
    if (n < buf.size())
      return internal::AnsiFromWide(std::wstring(buf.data(), n));
    buf.resize(buf.size() * 2);  // cut short: try a larger buffer
  }
}

std::string ProgramVersion() {
  return TARVO_VERSION_TEXT;
}

std::string UserName() {
  constexpr size_t kMaxLength = 159;
  wchar_t buf[257];
  DWORD size = sizeof(buf) / sizeof(buf[0]);
  std::string name;
  if (::GetUserNameW(buf, &size) && size > 0)
    name = internal::AnsiFromWide(std::wstring(buf, size - 1));
  if (name.size() > kMaxLength)
    name.resize(kMaxLength);
  return name;
}

std::string ComputerName() {
  constexpr size_t kMaxLength = 15;
  wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof(buf) / sizeof(buf[0]);
  if (!::GetComputerNameW(buf, &size))
    return "";
  std::string name = AnsiUpperCase(internal::AnsiFromWide(std::wstring(buf, size)));
  if (name.size() > kMaxLength)
    name.resize(kMaxLength);
  return name;
}

uint32_t CurrentThreadHandle() {
  return static_cast<uint32_t>(::GetCurrentThreadId());
}

std::string GetEnv(const std::string& name) {
  const std::wstring wideName = internal::WideFromAnsi(name);
  std::vector<wchar_t> buf(256);
  for (;;) {
    const DWORD n =
        ::GetEnvironmentVariableW(wideName.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0)
      return "";
    if (n < buf.size())
      return internal::AnsiFromWide(std::wstring(buf.data(), n));
    buf.resize(n);  // n counts the terminating zero when the buffer is short
  }
}

}  // namespace tarvo
