// tapbroker_bench: the library's cost on top of the loopback round trip, its heap use and
// its resident memory. Runs its own broker on 127.0.0.1:4001 for as long as it runs.
//
// Options of its own, beside the benchmark framework's:
//   --tapbroker_memory_calls=N        Send(5, 7) calls of the resident-memory run (1000000)
//   --tapbroker_connect_iterations=N  pairs timed in the Connect + Disconnect case (2000);
//                                     each leaves two connections in TIME_WAIT for a minute
//   --tapbroker_port_wait_ms=N        how long to wait for the port while others hold it
//                                     (15000); exit status 77 when it stays taken
// The 1 MiB cases run for at least 3 seconds each unless --benchmark_min_time is given.
// The environment variable TAPBROKER_BENCH_MEMORY_CALLS sets the first as well.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cases.h"
#include "fast_broker.h"
#include "summary.h"

namespace {

// Another program holds port 4001 for longer than the wait: the test suite counts the run
// as skipped, not failed.
constexpr int kPortTakenExit = 77;

// Reads "--name=value" into `value`; true when `argument` was that option.
bool option(const char* argument, const char* name, long& value, bool& bad) {
  std::size_t length = std::strlen(name);
  if (std::strncmp(argument, name, length) != 0 || argument[length] != '=') return false;
  char* end = nullptr;
  value = std::strtol(argument + length + 1, &end, 10);
  bad = bad || end == argument + length + 1 || *end != '\0' || value < 1;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], FastBroker::kProcessOption) == 0) {
    return FastBroker::serveAsProcess();
  }
  SuiteOptions options;
  long portWaitMs = 15000;
  if (const char* calls = std::getenv("TAPBROKER_BENCH_MEMORY_CALLS")) {
    options.memoryCalls = std::strtol(calls, nullptr, 10);
    if (options.memoryCalls < 1) {
      std::fprintf(stderr, "TAPBROKER_BENCH_MEMORY_CALLS must be a positive number\n");
      return 2;
    }
  }
  // Take our own options out before the framework sees the rest.
  int kept = 1;
  bool bad = false;
  for (int i = 1; i < argc; ++i) {
    if (!option(argv[i], "--tapbroker_memory_calls", options.memoryCalls, bad) &&
        !option(argv[i], "--tapbroker_connect_iterations", options.connectIterations, bad) &&
        !option(argv[i], "--tapbroker_port_wait_ms", portWaitMs, bad)) {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  for (int i = 1; i < argc; ++i) {
    // A minimum time asked for on the command line holds for every case.
    if (std::strncmp(argv[i], "--benchmark_min_time=", 21) == 0) options.transferMinTime = 0;
  }
  if (bad) {
    std::fprintf(stderr, "the --tapbroker_* options take a positive number\n");
    return 2;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;

  FastBroker broker;
  options.minimalBroker = &broker;
  registerPairedCases(options);
  registerReportCases();
  registerResourceCases(options);

  std::string why = broker.start(std::chrono::milliseconds(portWaitMs));
  if (!why.empty()) {
    std::fprintf(stderr, "tapbroker_bench: cannot run the broker: %s\n", why.c_str());
    return broker.portTaken() ? kPortTakenExit : 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  broker.stop();

  Summary::get().print(stdout);
  return Summary::get().failures().empty() ? 0 : 1;
}
