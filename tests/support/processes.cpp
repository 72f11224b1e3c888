#include "tests/support/processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <thread>

extern char** environ;

namespace processes {
namespace {

// The file the process was started from, also once it has been rebuilt or deleted: a
// broker started from an older build still counts as a broker, for the library too.
std::string executableOf(const std::string& pid) {
  char target[PATH_MAX];
  const std::string link = "/proc/" + pid + "/exe";
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
  std::string path = length > 0 ? std::string(target, static_cast<std::size_t>(length)) : "";
  const std::string deleted = " (deleted)";
  if (path.ends_with(deleted)) path.resize(path.size() - deleted.size());
  return path;
}

// Gone, or a zombie that is not ours to reap: either way it serves nothing any more.
bool finished(pid_t pid) {
  std::FILE* stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (stat == nullptr) return true;
  char line[512] = {};
  const bool read = std::fgets(line, sizeof line, stat) != nullptr;
  std::fclose(stat);
  const char* close = read ? std::strrchr(line, ')') : nullptr;
  return close == nullptr || close[1] == '\0' || close[2] == 'Z' || close[2] == 'X';
}

}  // namespace

pid_t spawn(const std::string& path, const Launch& launch) {
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const std::string& argument : launch.arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> environment;
  for (char** variable = environ; *variable != nullptr; ++variable)
    environment.push_back(*variable);
  for (const std::string& variable : launch.environment)
    environment.push_back(const_cast<char*>(variable.c_str()));
  environment.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (launch.outFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, launch.outFd, STDOUT_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const std::string& errors = launch.errorFile.empty() ? "/dev/null" : launch.errorFile;
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  if (::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environment.data()) !=
      0)
    pid = 0;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int run(const std::string& path, Launch launch, std::string& output) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  launch.outFd = pipeFds[1];
  const pid_t pid = spawn(path, launch);
  ::close(pipeFds[1]);
  char buffer[4096];
  for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
    output.append(buffer, static_cast<std::size_t>(got));
  ::close(pipeFds[0]);
  int status = 0;
  if (pid == 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::vector<pid_t> brokers(const std::string& directory) {
  std::vector<pid_t> found;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return found;
  while (dirent* entry = ::readdir(proc)) {
    const std::string pid = entry->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string path = executableOf(pid);
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || path.substr(slash + 1) != "tapbroker.exe") continue;
    if (!directory.empty() && path.substr(0, slash) != directory) continue;
    found.push_back(static_cast<pid_t>(std::stol(pid)));
  }
  ::closedir(proc);
  return found;
}

bool stop(pid_t pid) {
  if (pid <= 0) return true;
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    int status = 0;
    // Our child is reaped here; a process started by the library is reaped by others.
    if (::waitpid(pid, &status, WNOHANG) == pid || finished(pid)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return false;
}

int exitStatus(pid_t pid, int seconds) {
  int status = 0;
  pid_t ended = 0;
  for (int wait = 0; pid > 0 && ended == 0 && wait < 10 * seconds; ++wait) {
    ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (ended == 0) stop(pid);
  return ended == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace processes
