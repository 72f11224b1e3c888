// The Windows process services the library uses to find and start the broker: the
// system's own on Windows (win32/process.cpp), POSIX stand-ins elsewhere (posix/process.cpp).
#ifndef PLATFORM_PROCESS_H
#define PLATFORM_PROCESS_H

#include "platform/errors.h"

namespace tapbroker::win {

typedef void* HANDLE;
typedef void* HMODULE;

// The system's values, under names of their own: the system headers define the
// originals as macros.
constexpr DWORD kProcessQueryInformation = 0x0400;
constexpr DWORD kProcessVmRead = 0x0010;
constexpr DWORD kCreateNoWindow = 0x08000000;

// Every call below that fails records its error code (an errno value on POSIX) for
// GetLastError.

// Fills `ids` with the identifiers of running processes (at most bytes / 4 of them) and
// `bytesReturned` with the bytes used. Returns false when the list cannot be had.
bool K32EnumProcesses(DWORD* ids, DWORD bytes, DWORD* bytesReturned);
// A handle on process `id`, or null when no such process exists. Handles hold no
// resources; CloseHandle is still expected, as on the original platform.
HANDLE OpenProcess(DWORD access, bool inherit, DWORD id);
// The process's first module (its executable); false when it cannot be read.
bool K32EnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes, DWORD* needed);
// Copies the module's file name (at most size - 1 characters and a NUL); returns its
// length, 0 on failure (the buffer is then untouched). The name is that of the file the
// process was started from; when that file has since been deleted or replaced, it is
// still the name it was started under (the system's " (deleted)" mark is dropped), as a
// running image keeps its module name on the original platform.
DWORD K32GetModuleBaseNameA(HANDLE process, HMODULE module, char* name, DWORD size);
bool CloseHandle(HANDLE handle);

// Starts `path` with no shell, no arguments, no window, in a session of its own, its
// standard streams on /dev/null; nothing waits for it and it leaves no zombie. Returns
// false (with GetLastError set) when the program could not be started.
bool CreateProcessA(const char* path, DWORD creationFlags);

// Copies the current directory (at most size - 1 characters); returns its length, 0 when
// it does not fit or cannot be had.
DWORD GetCurrentDirectoryA(DWORD size, char* buffer);
// The system's text for `code`, as a buffer the caller releases with LocalFree; null
// when there is none.
char* FormatMessageA(DWORD code);
void LocalFree(char* text);
void Sleep(DWORD milliseconds);

}  // namespace tapbroker::win

#endif  // PLATFORM_PROCESS_H
