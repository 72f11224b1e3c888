// The benchmark cases, registered with the benchmark framework by main once the options
// are known. Every case opens its own conversations with the in-process broker.
#ifndef BENCH_CASES_H
#define BENCH_CASES_H

#include <tapbroker_client.h>

#include <string>

#include "bare_client.h"

class FastBroker;

struct SuiteOptions {
  long memoryCalls = 1000000;     // Send(5, 7) calls of the resident-memory run
  long connectIterations = 2000;  // pairs of the Connect + Disconnect case
  // Minimum time of the 1 MiB cases, whose pairs take a tenth of a second each; 0 leaves
  // it to --benchmark_min_time.
  double transferMinTime = 3.0;
  // The suite's broker, which lets tapbroker.exe take the port for the cases that hold
  // the two brokers against each other; null leaves those cases out.
  FastBroker* minimalBroker = nullptr;
};

// Library against baseline: commands, shifts, pump, list read, connect and disconnect.
void registerPairedCases(const SuiteOptions& options);
// PrintMessage with both switches off, with debugging on, with a log file.
void registerReportCases();
// Heap allocations per call and per token, and resident memory over many calls.
void registerResourceCases(const SuiteOptions& options);

// The name both clients introduce themselves with; a char array because the library
// takes its strings as char*.
extern char kClientName[];
// Where a Connect that finds no broker would start one: nowhere, so that a failed
// connection in the benchmark can never launch a program.
extern const char* const kNoInstallation;

// A library client and a baseline client, each connected, introduced and granted both
// flags, as an application is before it sends the withheld commands.
struct Conversations {
  // `name` must outlive the conversations.
  explicit Conversations(char* name = kClientName);
  ~Conversations();
  // Empty when both are ready, else what went wrong.
  std::string open();

  char* name;
  Client library;
  BareClient baseline;
  bool opened = false;
};

#endif  // BENCH_CASES_H
