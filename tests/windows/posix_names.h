// The few POSIX calls that the unit tests and their support make, for the suites built for
// Windows: given to every such source by the compiler, so that the tests stay as they are.
#ifndef TESTS_WINDOWS_POSIX_NAMES_H
#define TESTS_WINDOWS_POSIX_NAMES_H

#include <direct.h>
#include <stdlib.h>
#include <string.h>

inline int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
inline char* mkdtemp(char* pattern) {
  if (_mktemp_s(pattern, strlen(pattern) + 1) != 0) return nullptr;
  return _mkdir(pattern) == 0 ? pattern : nullptr;
}

#endif  // TESTS_WINDOWS_POSIX_NAMES_H
