// The processes the library deals with: whether a broker runs, and starting one that runs
// on by itself. posix/processes.cpp implements them on /proc and fork/exec, win32/ on the
// process API.
#ifndef PLATFORM_PROCESSES_H
#define PLATFORM_PROCESSES_H

#include <cstddef>
#include <string>

namespace tapbroker::platform {

// How many running processes were started from an executable whose file name is exactly
// `executable`; -1 when the list of processes cannot be had. A process that cannot be read
// (another user's, one that just ended) is not counted. A process whose file has since
// been deleted or replaced counts under the name it was started from.
int countRunning(const char* executable);

// Starts the program at `path` with no shell, no arguments and no window, in a session of
// its own with its standard streams on the null device, inheriting none of our handles;
// nothing waits for it and it leaves no zombie. Returns 0, or the system's error code when
// it could not be started (an exec that failed in the child included).
int startDetached(const std::string& path);

// The system's text for an error code of this layer; empty when it has none.
std::string errorText(int code);

// The current directory, when it fits `capacity` - 1 characters; else empty.
std::string currentDirectory(std::size_t capacity);

}  // namespace tapbroker::platform

#endif  // PLATFORM_PROCESSES_H
