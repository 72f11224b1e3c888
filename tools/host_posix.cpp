#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "host.h"

extern char** environ;

namespace tapclient {
namespace {

constexpr int kDefaultWidth = 80;
constexpr std::string_view kBrokerExecutable = "tapbroker.exe";

std::string readLink(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
  return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

bool stdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

int terminalWidth() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kDefaultWidth;
}

std::string programDirectory() {
  const std::string path = readLink("/proc/self/exe");
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool brokerProcessRunning(std::string* directory, std::string* id) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  while (dirent* entry = ::readdir(proc)) {
    const std::string_view pid = entry->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string_view::npos) continue;
    const std::string target = readLink("/proc/" + std::string(pid) + "/exe");
    std::string_view path = target;
    // A broker whose file was rebuilt since still runs, and the library counts it.
    if (path.ends_with(" (deleted)")) path.remove_suffix(std::strlen(" (deleted)"));
    const std::size_t slash = path.rfind('/');
    const std::string_view base =
        slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (path.empty() || base != kBrokerExecutable) continue;
    found = true;
    if (id != nullptr) *id = pid;
    if (directory != nullptr) {
      *directory = std::string(path.substr(0, slash == std::string_view::npos ? 0 : slash));
    }
    break;
  }
  ::closedir(proc);
  return found;
}

std::string stopCommand(const std::string& pid) { return "kill " + pid; }

bool startDetached(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& errorFile) {
  posix_spawn_file_actions_t files;
  posix_spawnattr_t attributes;
  ::posix_spawn_file_actions_init(&files);
  ::posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  ::posix_spawn_file_actions_addopen(&files, 2, errorFile.c_str(),
                                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  ::posix_spawnattr_init(&attributes);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);  // not in tapclient's group
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int failed = ::posix_spawn(&pid, program.c_str(), &files, &attributes, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&files);
  ::posix_spawnattr_destroy(&attributes);
  return failed == 0;
}

bool stopProcess(const std::string& pid) {
  const pid_t id = static_cast<pid_t>(std::strtol(pid.c_str(), nullptr, 10));
  if (id <= 0 || ::kill(id, SIGTERM) != 0) return false;
  // The broker is not our child (it runs on by itself): watch it go.
  for (int wait = 0; wait < 50 && ::kill(id, 0) == 0; ++wait) ::usleep(100000);
  return ::kill(id, 0) != 0;
}

void setEnvironment(const char* name, const std::string& value) {
  ::setenv(name, value.c_str(), 1);
}

}  // namespace tapclient
#endif  // _WIN32
