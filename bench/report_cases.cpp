// The cost of one report, PrintMessage("1093", name, 5), as the library's own code makes
// them on every step of every operation. Each iteration times a run of library reports and
// a run of the floor alternately: with both switches off, the floor is an out-of-line call
// of the same signature doing nothing; with a switch on, it is the same line written the
// same way (to standard error, or appended to a file opened and closed for it).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cases.h"
#include "heap_counter.h"
#include "summary.h"

namespace {

__attribute__((noinline)) void emptyReport(std::string id, ...) {
  asm volatile("" : : "r"(id.data()) : "memory");
}

void floorOff(int times) {
  for (int i = 0; i < times; ++i) emptyReport("1093", kClientName, 5);
}

void floorDebug(int times) {
  for (int i = 0; i < times; ++i) {
    std::fprintf(stderr, "tapbrokerclient[1093]: %s: command %d sent and answered\n",
                 kClientName, 5);
  }
}

std::string floorLogPath;
void floorLog(int times) {
  for (int i = 0; i < times; ++i) {
    std::FILE* file = std::fopen(floorLogPath.c_str(), "a");
    if (file == nullptr) return;
    std::fprintf(file, "%s: command %d sent and answered\n", kClientName, 5);
    std::fclose(file);
  }
}

void libraryReports(Client& client, int times) {
  for (int i = 0; i < times; ++i) client.PrintMessage("1093", kClientName, 5);
}

double nsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
      .count();
}

// Standard error goes to /dev/null while debugging is on, so that the terminal's speed is
// not what gets measured; it comes back for the framework's own messages.
class QuietStderr {
 public:
  QuietStderr() {
    std::fflush(stderr);
    saved_ = ::dup(2);
    int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(null, 2);
    ::close(null);
  }
  ~QuietStderr() {
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
  }

 private:
  int saved_;
};

// A directory of the run's own for the log files, removed afterwards.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    char pattern[] = "/tmp/tapbroker-bench-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

enum class Switches { Off, Debug, Log };

void reportCase(benchmark::State& state, Switches switches) {
  Client client(kClientName);
  ScratchDirectory scratch;
  std::unique_ptr<QuietStderr> quiet;
  void (*floor)(int) = floorOff;
  int run = 256;
  ReportFigure figure;
  figure.name = "both switches off";
  if (switches == Switches::Debug) {
    quiet = std::make_unique<QuietStderr>();
    client.Set_Debug_On();
    floor = floorDebug;
    run = 16;
    figure.name = "debug on (standard error to /dev/null)";
  } else if (switches == Switches::Log) {
    if (scratch.path().empty() ||
        client.Set_Log_File((scratch.path() + "/library.log").c_str()) != 0) {
      Summary::get().fail("PrintMessage: the log file could not be set");
      state.SkipWithError("the log file could not be set");
      return;
    }
    floorLogPath = scratch.path() + "/floor.log";
    floor = floorLog;
    run = 8;
    figure.name = "log file on";
  } else {
    figure.goalNs = 5;
    figure.goalAllocations = 0;
  }

  libraryReports(client, run);  // the catalogue's and the C library's first-use work
  {
    HeapCount count;
    libraryReports(client, 64 * run);
    figure.allocationsPerReport =
        static_cast<double>(count.sinceStart().allocations) / (64.0 * run);
  }

  std::vector<double> libraryNs;
  std::vector<double> floorNs;
  bool libraryFirst = true;
  for (auto _ : state) {
    for (int side = 0; side < 2; ++side) {
      auto start = std::chrono::steady_clock::now();
      if ((side == 0) == libraryFirst) {
        libraryReports(client, run);
        libraryNs.push_back(nsSince(start) / run);
      } else {
        floor(run);
        floorNs.push_back(nsSince(start) / run);
      }
    }
    libraryFirst = !libraryFirst;
  }
  figure.libraryNs = median(libraryNs);
  figure.floorNs = median(floorNs);
  state.counters["library_ns"] = figure.libraryNs;
  state.counters["floor_ns"] = figure.floorNs;
  state.counters["allocations"] = figure.allocationsPerReport;
  Summary::get().put(figure);
}

}  // namespace

void registerReportCases() {
  benchmark::RegisterBenchmark("report/both_switches_off", reportCase, Switches::Off)
      ->UseRealTime();
  benchmark::RegisterBenchmark("report/debug_on", reportCase, Switches::Debug)
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("report/log_file_on", reportCase, Switches::Log)
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
}
