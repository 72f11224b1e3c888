// Starting and stopping the programs that tests run, and finding brokers among the
// processes of this machine.
#ifndef TESTS_SUPPORT_PROCESSES_H
#define TESTS_SUPPORT_PROCESSES_H

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace processes {

struct Launch {
  Launch(std::vector<std::string> arguments = {}, std::string errorFile = {})
      : arguments(std::move(arguments)), errorFile(std::move(errorFile)) {}
  std::vector<std::string> arguments;
  std::string errorFile;                 // standard error; /dev/null when empty
  std::vector<std::string> environment;  // added to ours, NAME=value
  int outFd = -1;                        // standard output; /dev/null when -1
};

// Starts `path` with standard input on /dev/null; its pid, 0 when it could not start.
pid_t spawn(const std::string& path, const Launch& launch = {});
// Runs `path` to its end; its exit status (-1 when it could not run or died of a signal),
// and what it wrote to standard output in `output`. (Not on Windows, nor exitStatus.)
int run(const std::string& path, Launch launch, std::string& output);
// Processes whose executable is named tapbroker.exe; only those started from `directory`
// when it is given.
std::vector<pid_t> brokers(const std::string& directory = {});
// Sends SIGTERM and waits up to five seconds for `pid` to go (reaping it when it is our
// child), then kills it. True when it went by itself.
bool stop(pid_t pid);
// Waits up to `seconds` for our child `pid` to exit by itself, then stops it: its exit
// status, -1 when it did not exit by itself.
int exitStatus(pid_t pid, int seconds);

// The reference broker the tests run: on Windows the one beside the test program.
#ifdef _WIN32
std::string ownDirectory();
inline std::string brokerPath() { return ownDirectory() + "\\tapbroker.exe"; }
#elif defined(TAPBROKER_EXE)
inline std::string brokerPath() { return TAPBROKER_EXE; }
#endif

// A program started for a test, stopped (and reaped) when the object goes; pid() is 0 when
// it could not be started.
class Child {
 public:
  explicit Child(const std::string& path, const Launch& launch = {})
      : pid_(spawn(path, launch)) {}
  ~Child() { stop(pid_); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_;
};

}  // namespace processes

#endif  // TESTS_SUPPORT_PROCESSES_H
