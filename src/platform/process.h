// Facts about the running process and the machine.
#ifndef TARVO_PLATFORM_PROCESS_H_
#define TARVO_PLATFORM_PROCESS_H_

#include <string>

namespace tarvo {

// Full path of the running executable (ANSI).
std::string ExecutablePath();

// The program's own version as four numbers, "1.0.0.1".
std::string ProgramVersion();

// Name of the user the process runs as (at most 159 characters).
std::string UserName();

// The computer's name, upper case, at most 15 characters.
std::string ComputerName();

// The environment variable's value; "" when unset.
std::string GetEnv(const std::string& name);

}  // namespace tarvo

#endif  // TARVO_PLATFORM_PROCESS_H_
