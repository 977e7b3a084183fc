// setenv() and unsetenv() for the tests built for Windows, whose C library
// has _putenv_s() instead. Included ahead of every test source of that build.
#ifndef TARVO_TESTS_SUPPORT_WINDOWS_POSIX_ENV_H_
#define TARVO_TESTS_SUPPORT_WINDOWS_POSIX_ENV_H_

#include <stdlib.h>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && getenv(name) != nullptr)
    return 0;
  // An empty value would remove the variable; the tests never set one.
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) {
  return _putenv_s(name, "") == 0 ? 0 : -1;
}

#endif  // TARVO_TESTS_SUPPORT_WINDOWS_POSIX_ENV_H_
