// Facts about the running process and the machine. They have no failure: a
// text the system cannot tell is "". No function throws.
#ifndef TARVO_PLATFORM_PROCESS_H_
#define TARVO_PLATFORM_PROCESS_H_

#include <cstdint>
#include <string>

namespace tarvo {

// Full path of the running executable (ANSI); "" when the system cannot tell.
std::string ExecutablePath();

// The program's own version as four numbers, "1.0.0.1".
std::string ProgramVersion();

// Name of the user the process runs as (at most 159 characters); "" when
// unknown.
std::string UserName();

// The computer's name (the host name without its domain), upper case, at
// most 15 characters; "" when unknown.
std::string ComputerName();

// The calling thread's handle: a number that identifies it among the
// process's threads while it runs (the kernel's thread id).
uint32_t CurrentThreadHandle();

// The environment variable's value as the system holds it; "" when unset.
std::string GetEnv(const std::string& name);

}  // namespace tarvo

#endif  // TARVO_PLATFORM_PROCESS_H_
