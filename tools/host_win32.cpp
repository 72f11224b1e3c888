#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>

#include "host.h"

namespace tapclient {
namespace {

constexpr int kDefaultWidth = 80;
constexpr const char* kBrokerExecutable = "tapbroker.exe";

std::string directoryOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string(".") : path.substr(0, separator);
}

}  // namespace

bool stdoutIsTerminal() {
  // The progress bar redraws with terminal sequences, which a console understands once
  // asked to; a console that will not, or a file or pipe, gets milestone lines instead.
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == INVALID_HANDLE_VALUE || !::GetConsoleMode(out, &mode)) return false;
  return ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

int terminalWidth() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
    return kDefaultWidth;
  }
  const int width = info.srWindow.Right - info.srWindow.Left + 1;
  return width > 0 ? width : kDefaultWidth;
}

std::string programDirectory() {
  char path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return ".";
  return directoryOf(std::string(path, length));
}

bool brokerProcessRunning(std::string* directory, std::string* id) {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = ::Process32First(snapshot, &entry); more && !found;
       more = ::Process32Next(snapshot, &entry)) {
    // Matched as the library matches a module's base name.
    if (std::strcmp(entry.szExeFile, kBrokerExecutable) != 0) continue;
    found = true;
    if (id != nullptr) *id = std::to_string(entry.th32ProcessID);
    if (directory == nullptr) continue;
    *directory = "<unknown>";
    const HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (process == nullptr) continue;
    char path[MAX_PATH];
    DWORD length = sizeof path;
    if (::QueryFullProcessImageNameA(process, 0, path, &length)) {
      *directory = directoryOf(std::string(path, length));
    }
    ::CloseHandle(process);
  }
  ::CloseHandle(snapshot);
  return found;
}

// The broker has no window to ask politely: only a forced end stops it.
std::string stopCommand(const std::string& pid) { return "taskkill /F /PID " + pid; }

bool startDetached(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& errorFile) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  // Shared for deletion: tapclient removes the file while the broker still writes to it.
  const HANDLE error = ::CreateFileA(errorFile.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     &inherited, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (error == INVALID_HANDLE_VALUE) return false;
  std::string line = "\"" + program + "\"";
  for (const std::string& argument : arguments) line += " \"" + argument + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = nullptr;
  startup.hStdError = error;
  PROCESS_INFORMATION process{};
  const bool started = ::CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                                        &process) != FALSE;
  ::CloseHandle(error);
  if (!started) return false;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return true;
}

bool stopProcess(const std::string& pid) {
  const HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                                       static_cast<DWORD>(std::strtoul(pid.c_str(), nullptr, 10)));
  if (process == nullptr) return false;
  const bool stopped = ::TerminateProcess(process, 0) != FALSE &&
                       ::WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  return stopped;
}

void setEnvironment(const char* name, const std::string& value) {
  // The library starts the broker with CreateProcess and no environment of its own, so the
  // broker inherits the system's copy: that is the one to set.
  ::SetEnvironmentVariableA(name, value.c_str());
}

}  // namespace tapclient
#endif  // _WIN32
