// The processes the library deals with, on POSIX: /proc for the running ones, two forks and
// an exec for the broker it starts.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/processes.h"

extern char** environ;

namespace tapbroker::platform {
namespace {

// The file name of the executable of process `id` (`entry` of /proc), or false for
// processes of other users and kernel threads, which show none. A file deleted or replaced
// since the start keeps the name it was started under: the system's " (deleted)" mark is
// dropped, unless a file of that very name is the executable.
bool executableName(const char* entry, std::string& name) {
  char link[300];
  std::snprintf(link, sizeof link, "/proc/%s/exe", entry);
  char path[PATH_MAX + 1];
  const ssize_t length = ::readlink(link, path, PATH_MAX);
  if (length < 0 || length >= PATH_MAX) return false;
  path[length] = '\0';
  static const char kMark[] = " (deleted)";
  const std::size_t mark = sizeof kMark - 1;
  struct stat named, running;
  if (static_cast<std::size_t>(length) > mark &&
      std::strcmp(path + length - mark, kMark) == 0 &&
      !(::stat(path, &named) == 0 && ::stat(link, &running) == 0 &&
        named.st_dev == running.st_dev && named.st_ino == running.st_ino))
    path[length - mark] = '\0';
  const char* slash = std::strrchr(path, '/');
  name = slash != nullptr ? slash + 1 : path;
  return true;
}

// Runs in the grandchild after fork: only async-signal-safe calls from here on.
[[noreturn]] void execDetached(const char* path, char* const argv[], int report) {
  int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (null > 2) ::close(null);
  }
  // The host's own descriptors are none of the broker's business; the report pipe is
  // already close-on-exec, so marking everything keeps it open until the exec.
  ::close_range(3, ~0u, CLOSE_RANGE_CLOEXEC);
  // Start with the signal state of a fresh program, not the host's.
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &defaults, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execve(path, argv, environ);
  int error = errno;
  ssize_t ignored = ::write(report, &error, sizeof error);
  (void)ignored;
  ::_exit(127);
}

}  // namespace

int countRunning(const char* executable) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return -1;
  int count = 0;
  std::string name;
  while (dirent* entry = ::readdir(proc)) {
    const char* id = entry->d_name;
    if (id[0] < '1' || id[0] > '9' || std::strspn(id, "0123456789") != std::strlen(id))
      continue;
    if (executableName(id, name) && name == executable) ++count;
  }
  ::closedir(proc);
  return count;
}

int startDetached(const std::string& path) {
  if (path.empty()) return ENOENT;
  // Built before forking: the children of a threaded host may not allocate.
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return errno;

  // Two forks: the middle child puts the broker into a session of its own and exits at
  // once, so the broker is adopted by init and never becomes our zombie.
  pid_t middle = ::fork();
  if (middle < 0) {
    int error = errno;
    ::close(report[0]);
    ::close(report[1]);
    return error;
  }
  if (middle == 0) {
    ::close(report[0]);
    ::setsid();
    pid_t broker = ::fork();
    if (broker == 0) execDetached(path.c_str(), argv, report[1]);
    if (broker < 0) {
      int error = errno;
      ssize_t ignored = ::write(report[1], &error, sizeof error);
      (void)ignored;
    }
    ::_exit(0);
  }

  ::close(report[1]);
  int status;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  // The pipe reaches end of file once the exec succeeded (close-on-exec) or the broker's
  // child gave up after writing why.
  int error = 0;
  std::size_t got = 0;
  while (got < sizeof error) {
    ssize_t n = ::read(report[0], reinterpret_cast<char*>(&error) + got, sizeof error - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(report[0]);
  if (got == sizeof error) return error != 0 ? error : ECHILD;
  return 0;
}

std::string errorText(int code) {
  const char* text = ::strerrordesc_np(code);
  return text != nullptr ? text : "";
}

std::string currentDirectory(std::size_t capacity) {
  std::string buffer(capacity, '\0');
  if (capacity == 0 || ::getcwd(buffer.data(), capacity) == nullptr) return {};
  return buffer.c_str();
}

}  // namespace tapbroker::platform
