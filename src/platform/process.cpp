#include "platform/process.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/codepage.h"

#ifndef TARVO_VERSION_TEXT
#define TARVO_VERSION_TEXT "0.0.0.0"
#endif

namespace tarvo {

std::string ExecutablePath() {
  std::vector<char> buf(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0)
      return "";
    if (static_cast<size_t>(n) < buf.size())
      return Utf8ToAnsi(std::string(buf.data(), n));
    buf.resize(buf.size() * 2);
  }
}

std::string ProgramVersion() {
  return TARVO_VERSION_TEXT;
}

std::string UserName() {
  constexpr size_t kMaxLength = 159;
  std::string name;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd pwd;
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &pwd, buf.data(), buf.size(), &found) == 0 && found != nullptr) {
    name = found->pw_name;
  } else if (const char* user = std::getenv("USER")) {
    name = user;
  }
  name = Utf8ToAnsi(name);
  if (name.size() > kMaxLength)
    name.resize(kMaxLength);
  return name;
}

std::string ComputerName() {
  constexpr size_t kMaxLength = 15;
  struct utsname uts;
  if (::uname(&uts) != 0)
    return "";
  std::string name = uts.nodename;
  // The host's own name, without its domain.
  const size_t dot = name.find('.');
  if (dot != std::string::npos)
    name.resize(dot);
  name = AnsiUpperCase(Utf8ToAnsi(name));
  if (name.size() > kMaxLength)
    name.resize(kMaxLength);
  return name;
}

uint32_t CurrentThreadHandle() {
  return static_cast<uint32_t>(::gettid());
}

std::string GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value == nullptr ? "" : value;
}

}  // namespace tarvo
