#include "platform/process.h"

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
#include <ctime>

extern char** environ;

namespace tapbroker::win {
namespace {

bool fail(int error) {
  SetLastError(static_cast<DWORD>(error));
  return false;
}

// Process and module handles carry the process identifier under a tag of their own, so
// that they own nothing and a stray value is recognised as no handle at all.
constexpr std::uintptr_t kProcessTag = std::uintptr_t{0x5052} << 40;
constexpr std::uintptr_t kModuleTag = std::uintptr_t{0x4d4f} << 40;
constexpr std::uintptr_t kTagMask = std::uintptr_t{0xffff} << 40;

void* encode(std::uintptr_t tag, DWORD id) { return reinterpret_cast<void*>(tag | id); }
// The identifier in `handle`, or 0 when it is not a handle of this kind.
DWORD decode(std::uintptr_t tag, const void* handle) {
  std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
  if ((value & kTagMask) != tag) return 0;
  return static_cast<DWORD>(value & 0xffffffffu);
}

// The path of the executable of process `id`, as the system reports it. Fails for
// processes of other users and for kernel threads, which have none.
bool executablePath(DWORD id, char (&path)[PATH_MAX + 1], char (&link)[64]) {
  std::snprintf(link, sizeof link, "/proc/%u/exe", id);
  ssize_t length = ::readlink(link, path, PATH_MAX);
  if (length < 0) return fail(errno);
  if (length >= PATH_MAX) return fail(ENAMETOOLONG);
  path[length] = '\0';
  return true;
}

// Drops the mark the system appends to the link of an executable whose file is gone,
// unless a file of that very name is the executable.
void dropDeletedMark(char* path, const char* link) {
  static const char kMark[] = " (deleted)";
  std::size_t length = std::strlen(path);
  std::size_t mark = sizeof kMark - 1;
  if (length <= mark || std::strcmp(path + length - mark, kMark) != 0) return;
  struct stat named, running;
  if (::stat(path, &named) == 0 && ::stat(link, &running) == 0 &&
      named.st_dev == running.st_dev && named.st_ino == running.st_ino)
    return;
  path[length - mark] = '\0';
}

bool retryingWaitpid(pid_t pid) {
  int status;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
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

bool K32EnumProcesses(DWORD* ids, DWORD bytes, DWORD* bytesReturned) {
  if (ids == nullptr || bytesReturned == nullptr) return fail(EINVAL);
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return fail(errno);
  DWORD capacity = bytes / sizeof(DWORD);
  DWORD count = 0;
  while (count < capacity) {
    dirent* entry = ::readdir(proc);
    if (entry == nullptr) break;
    char* end = nullptr;
    unsigned long id = std::strtoul(entry->d_name, &end, 10);
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9' || *end != '\0' || id > UINT32_MAX)
      continue;
    ids[count++] = static_cast<DWORD>(id);
  }
  ::closedir(proc);
  *bytesReturned = count * sizeof(DWORD);
  return true;
}

HANDLE OpenProcess(DWORD /*access*/, bool /*inherit*/, DWORD id) {
  char directory[32];
  std::snprintf(directory, sizeof directory, "/proc/%u", id);
  struct stat info;
  if (id == 0 || ::stat(directory, &info) != 0) {
    fail(id == 0 ? EINVAL : errno);
    return nullptr;
  }
  return encode(kProcessTag, id);
}

bool K32EnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes, DWORD* needed) {
  DWORD id = decode(kProcessTag, process);
  if (id == 0 || needed == nullptr) return fail(EINVAL);
  char path[PATH_MAX + 1];
  char link[64];
  if (!executablePath(id, path, link)) return false;
  *needed = sizeof(HMODULE);
  if (modules != nullptr && bytes >= sizeof(HMODULE)) modules[0] = encode(kModuleTag, id);
  return true;
}

DWORD K32GetModuleBaseNameA(HANDLE process, HMODULE module, char* name, DWORD size) {
  DWORD id = decode(kProcessTag, process);
  if (id == 0 || decode(kModuleTag, module) != id || name == nullptr || size == 0) {
    fail(EINVAL);
    return 0;
  }
  char path[PATH_MAX + 1];
  char link[64];
  if (!executablePath(id, path, link)) return 0;
  dropDeletedMark(path, link);
  const char* slash = std::strrchr(path, '/');
  const char* base = slash ? slash + 1 : path;
  std::size_t length = std::strlen(base);
  if (length > size - 1) length = size - 1;
  std::memcpy(name, base, length);
  name[length] = '\0';
  return static_cast<DWORD>(length);
}

bool CloseHandle(HANDLE handle) {
  if (decode(kProcessTag, handle) == 0) return fail(EINVAL);
  return true;
}

bool CreateProcessA(const char* path, DWORD /*creationFlags*/) {
  if (path == nullptr || path[0] == '\0') return fail(ENOENT);
  // Built before forking: the children of a threaded host may not allocate.
  char* argv[] = {const_cast<char*>(path), nullptr};
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return fail(errno);

  // Two forks: the middle child puts the broker into a session of its own and exits at
  // once, so the broker is adopted by init and never becomes our zombie.
  pid_t middle = ::fork();
  if (middle < 0) {
    int error = errno;
    ::close(report[0]);
    ::close(report[1]);
    return fail(error);
  }
  if (middle == 0) {
    ::close(report[0]);
    ::setsid();
    pid_t broker = ::fork();
    if (broker == 0) execDetached(path, argv, report[1]);
    if (broker < 0) {
      int error = errno;
      ssize_t ignored = ::write(report[1], &error, sizeof error);
      (void)ignored;
    }
    ::_exit(0);
  }

  ::close(report[1]);
  retryingWaitpid(middle);
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
  if (got == sizeof error) return fail(error != 0 ? error : ECHILD);
  return true;
}

DWORD GetCurrentDirectoryA(DWORD size, char* buffer) {
  if (buffer == nullptr || size == 0) {
    fail(EINVAL);
    return 0;
  }
  if (::getcwd(buffer, size) == nullptr) {
    fail(errno);
    return 0;
  }
  return static_cast<DWORD>(std::strlen(buffer));
}

char* FormatMessageA(DWORD code) {
  const char* text = ::strerrordesc_np(static_cast<int>(code));
  if (text == nullptr) return nullptr;
  std::size_t length = std::strlen(text);
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy != nullptr) std::memcpy(copy, text, length + 1);
  return copy;
}

void LocalFree(char* text) { std::free(text); }

void Sleep(DWORD milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace tapbroker::win
