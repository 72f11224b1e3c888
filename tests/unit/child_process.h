// Helpers for tests that need real files and processes: a temporary directory that is
// removed with everything in it, and a program started from a copy of an executable that
// is killed and reaped when the test ends.
#ifndef TESTS_UNIT_CHILD_PROCESS_H
#define TESTS_UNIT_CHILD_PROCESS_H

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/support/processes.h"
#include "tests/support/scratch.h"

class ChildProcess {
 public:
  // Starts `path` with `args`; pid() is 0 when it could not be started.
  ChildProcess(const std::string& path, const std::vector<std::string>& args)
      : pid_(processes::spawn(path, {args})) {}
  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status;
      ::waitpid(pid_, &status, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = 0;
};

// The executable name of process `id` as the broker search reads it, into a buffer of
// `size` characters; "<unknown>" when it cannot be read.
inline std::string executableName(pid_t id, win::DWORD size = 260) {
  std::string name = "<unknown>";
  name.resize(size);
  win::HANDLE process = win::OpenProcess(0x410, false, static_cast<win::DWORD>(id));
  win::HMODULE module = nullptr;
  win::DWORD needed = 0;
  if (process != nullptr &&
      win::K32EnumProcessModules(process, &module, sizeof module, &needed))
    win::K32GetModuleBaseNameA(process, module, name.data(), size);
  if (process != nullptr) win::CloseHandle(process);
  return name.c_str();
}

#endif  // TESTS_UNIT_CHILD_PROCESS_H
