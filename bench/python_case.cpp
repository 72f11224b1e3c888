// send(5, 7) from Python against Send(5, 7) from C++, in one run: a python3 child runs
// bench/python_call.py on a conversation of its own and times one send(5, 7) for every
// request it reads, while this process times the library's Send on another; the two
// alternate call by call, and their medians are compared. The binding's share of a call is
// what the Python side costs beyond the C++ one. Built where the Python package is.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cases.h"
#include "summary.h"

extern char** environ;

namespace {

// python3 with the build tree's package, its standard input and output on pipes.
class PythonChild {
 public:
  PythonChild() {
    int in[2];
    int out[2];
    if (pipe(in) != 0) return;
    if (pipe(out) != 0) {
      close(in[0]);
      close(in[1]);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
    setenv("PYTHONPATH", TAPBROKER_PYTHON_PATH, 1);
    char python[] = TAPBROKER_PYTHON;
    char script[] = TAPBROKER_PYTHON_SCRIPT;
    char* argv[] = {python, script, nullptr};
    if (posix_spawn(&pid_, python, &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    to_ = fdopen(in[1], "w");
    from_ = fdopen(out[0], "r");
  }
  ~PythonChild() {
    if (to_) std::fclose(to_);  // the child's loop ends, it disconnects and exits
    if (from_) std::fclose(from_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  PythonChild(const PythonChild&) = delete;
  PythonChild& operator=(const PythonChild&) = delete;

  // One send(5, 7) in the child: its nanoseconds, or a negative number when it failed.
  double call() {
    double ns = -1;
    if (pid_ <= 0 || !to_ || !from_ || std::fputs("\n", to_) < 0 || std::fflush(to_) != 0 ||
        std::fscanf(from_, "%lf", &ns) != 1) {
      return -1;
    }
    return ns;
  }

 private:
  pid_t pid_ = -1;
  FILE* to_ = nullptr;
  FILE* from_ = nullptr;
};

void pythonSendCase(benchmark::State& state) {
  Conversations c;
  PythonChild python;
  std::string why = c.open();
  std::vector<double> pythonNs;
  std::vector<double> cppNs;
  for (auto _ : state) {
    if (!why.empty()) break;
    // Python first on even iterations, C++ first on odd ones.
    double fromPython = pythonNs.size() % 2 == 0 ? python.call() : 0;
    const auto start = std::chrono::steady_clock::now();
    const bool cppOk = c.library.Send(5, 7) == 0;
    const std::chrono::duration<double, std::nano> fromCpp =
        std::chrono::steady_clock::now() - start;
    if (pythonNs.size() % 2 == 1) fromPython = python.call();
    if (fromPython < 0 || !cppOk) why = fromPython < 0 ? "python3 send(5, 7) failed" : "Send failed";
    pythonNs.push_back(fromPython);
    cppNs.push_back(fromCpp.count());
  }
  if (!why.empty()) {
    Summary::get().fail("send(5, 7) from Python: " + why);
    return state.SkipWithError(why.c_str());
  }
  PairedFigure figure{"send(5, 7) from Python (library) against Send from C++", 0, 0, 0, 1.10};
  figure.libraryNs = median(pythonNs);
  figure.baselineNs = median(cppNs);
  figure.pairs = static_cast<long>(pythonNs.size());
  state.counters["python_us"] = figure.libraryNs / 1e3;
  state.counters["cpp_us"] = figure.baselineNs / 1e3;
  state.counters["ratio"] = figure.libraryNs / figure.baselineNs;
  Summary::get().put(figure);
}

BENCHMARK(pythonSendCase)->Name("paired/python_send_5_7")->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
