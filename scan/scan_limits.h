// The limits of the scan commands' arguments, checked before anything of a command goes
// on the wire so that a refused command leaves the conversation in step.
#ifndef SCAN_SCAN_LIMITS_H
#define SCAN_SCAN_LIMITS_H

#include <cstdarg>

// For scan command `command` (19, 41, 42, 44, 46-48, 50-52) and its arguments (read from
// a copy; the position does not move): null when they may go out, else a short text
// naming the limit they break. Any other command: null.
const char* scanArgumentRefused(int command, va_list args);

#endif  // SCAN_SCAN_LIMITS_H
