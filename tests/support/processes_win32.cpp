// The test programs' processes on Windows: CreateProcessA, a process snapshot to find
// brokers by the file they were started from, and TerminateProcess, which is all that
// Windows offers to stop a console program from outside.
#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <string>

#include "tests/support/processes.h"

namespace processes {
namespace {

// The full path of the file `pid` runs, or empty when it cannot be read.
std::string executableOf(DWORD pid) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return {};
  char path[MAX_PATH] = {};
  DWORD length = MAX_PATH;
  const bool read = ::QueryFullProcessImageNameA(process, 0, path, &length) != 0;
  ::CloseHandle(process);
  return read ? std::string(path, length) : std::string();
}

std::string quoted(const std::string& argument) { return '"' + argument + '"'; }

// Our environment with `additions` (NAME=value) over it, as CreateProcessA takes it.
std::string environmentBlock(const std::vector<std::string>& additions) {
  std::string block;
  char* own = ::GetEnvironmentStringsA();
  for (const char* variable = own; *variable != '\0'; variable += std::strlen(variable) + 1) {
    const std::string text = variable;
    const std::string name = text.substr(0, text.find('=', 1) + 1);
    bool replaced = false;
    for (const std::string& addition : additions) replaced |= addition.rfind(name, 0) == 0;
    if (!replaced) block += text + '\0';
  }
  ::FreeEnvironmentStringsA(own);
  for (const std::string& addition : additions) block += addition + '\0';
  return block + '\0';
}

HANDLE openForChild(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string ownDirectory() {
  char path[MAX_PATH] = {};
  const std::string own(path, ::GetModuleFileNameA(nullptr, path, MAX_PATH));
  return own.substr(0, own.find_last_of('\\'));
}

// Standard input and output on NUL.
pid_t spawn(const std::string& path, const Launch& launch) {
  std::string command = quoted(path);
  for (const std::string& argument : launch.arguments) command += ' ' + quoted(argument);
  std::string environment = environmentBlock(launch.environment);
  HANDLE nul = openForChild("NUL", true);
  HANDLE input = openForChild("NUL", false);
  HANDLE errors = launch.errorFile.empty() ? nul : openForChild(launch.errorFile, true);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = nul;
  startup.hStdError = errors;
  PROCESS_INFORMATION started{};
  const bool ok = ::CreateProcessA(path.c_str(), command.data(), nullptr, nullptr, TRUE,
                                   CREATE_NO_WINDOW, environment.data(), nullptr, &startup,
                                   &started) != 0;
  ::CloseHandle(input);
  if (errors != nul) ::CloseHandle(errors);
  ::CloseHandle(nul);
  if (!ok) return 0;
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);
  return static_cast<pid_t>(started.dwProcessId);
}

std::vector<pid_t> brokers(const std::string& directory) {
  std::vector<pid_t> found;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (bool more = ::Process32First(snapshot, &entry); more;
       more = ::Process32Next(snapshot, &entry)) {
    if (std::string(entry.szExeFile) != "tapbroker.exe") continue;
    const std::string path = executableOf(entry.th32ProcessID);
    const std::size_t separator = path.find_last_of("\\/");
    if (!directory.empty() &&
        (separator == std::string::npos || path.substr(0, separator) != directory))
      continue;
    found.push_back(static_cast<pid_t>(entry.th32ProcessID));
  }
  ::CloseHandle(snapshot);
  return found;
}

bool stop(pid_t pid) {
  if (pid <= 0) return true;
  HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return true;  // gone already
  ::TerminateProcess(process, 0);
  const bool went = ::WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  return went;
}

}  // namespace processes
