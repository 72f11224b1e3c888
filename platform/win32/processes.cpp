// The processes the library deals with, on the Windows process API.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <psapi.h>

#include <cstring>

#include "platform/processes.h"

namespace tapbroker::platform {

int countRunning(const char* executable) {
  DWORD ids[1024];
  DWORD bytes = 0;
  if (!::K32EnumProcesses(ids, sizeof ids, &bytes)) return -1;
  int count = 0;
  for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
    if (ids[i] == 0) continue;
    // A process that cannot be opened or read keeps this name and never matches.
    char name[MAX_PATH] = "<unknown>";
    HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
    if (process == nullptr) continue;
    HMODULE module = nullptr;
    DWORD needed = 0;
    if (::K32EnumProcessModules(process, &module, sizeof module, &needed))
      ::K32GetModuleBaseNameA(process, module, name, sizeof name);
    ::CloseHandle(process);
    if (std::strcmp(name, executable) == 0) ++count;
  }
  return count;
}

int startDetached(const std::string& path) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &started))
    return static_cast<int>(::GetLastError());
  // The broker runs on by itself; its handles are of no further use here.
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);
  return 0;
}

std::string errorText(int code) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<char*>(&text), 0, nullptr);
  std::string copy = length != 0 ? std::string(text, length) : std::string();
  if (text != nullptr) ::LocalFree(text);
  return copy;
}

std::string currentDirectory(std::size_t capacity) {
  std::string buffer(capacity, '\0');
  const DWORD length = ::GetCurrentDirectoryA(static_cast<DWORD>(capacity), buffer.data());
  // When it does not fit, the system answers the size it would need.
  if (length == 0 || length >= capacity) return {};
  buffer.resize(length);
  return buffer;
}

}  // namespace tapbroker::platform
