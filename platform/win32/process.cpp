// The Windows process services the library uses to find and start the broker, on Windows:
// the system's own, behind the declarations the POSIX stand-ins share.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <psapi.h>

#include "platform/process.h"

static_assert(tapbroker::win::kProcessQueryInformation == PROCESS_QUERY_INFORMATION &&
              tapbroker::win::kProcessVmRead == PROCESS_VM_READ &&
              tapbroker::win::kCreateNoWindow == CREATE_NO_WINDOW);

namespace tapbroker::win {

bool K32EnumProcesses(DWORD* ids, DWORD bytes, DWORD* bytesReturned) {
  return ::K32EnumProcesses(ids, bytes, bytesReturned) != FALSE;
}

HANDLE OpenProcess(DWORD access, bool inherit, DWORD id) {
  return ::OpenProcess(access, inherit ? TRUE : FALSE, id);
}

bool K32EnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes, DWORD* needed) {
  ::HMODULE first = nullptr;
  if (!::K32EnumProcessModules(process, &first, sizeof first, needed)) return false;
  if (modules != nullptr && bytes >= sizeof first) modules[0] = first;
  return true;
}

DWORD K32GetModuleBaseNameA(HANDLE process, HMODULE module, char* name, DWORD size) {
  return ::K32GetModuleBaseNameA(process, static_cast<::HMODULE>(module), name, size);
}

bool CloseHandle(HANDLE handle) { return ::CloseHandle(handle) != FALSE; }

bool CreateProcessA(const char* path, DWORD creationFlags) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessA(path, nullptr, nullptr, nullptr, FALSE, creationFlags, nullptr, nullptr,
                        &startup, &started))
    return false;
  // The broker runs on by itself; its handles are of no further use here.
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);
  return true;
}

DWORD GetCurrentDirectoryA(DWORD size, char* buffer) {
  DWORD length = ::GetCurrentDirectoryA(size, buffer);
  // When it does not fit, the system answers the size it would need.
  return length < size ? length : 0;
}

char* FormatMessageA(DWORD code) {
  char* text = nullptr;
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<char*>(&text), 0, nullptr);
  return length != 0 ? text : nullptr;
}

void LocalFree(char* text) {
  if (text != nullptr) ::LocalFree(text);
}

void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

}  // namespace tapbroker::win
