// Heap and resident memory. Heap operations are counted on the calling thread only (the
// broker runs on threads of its own), in steady state: each call is made a few times
// before counting, so that buffers which grow once (the read-back store, the list's
// capacity) are not charged to every call.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "cases.h"
#include "heap_counter.h"
#include "summary.h"

namespace {

constexpr int kMiB = 1024 * 1024;

const unsigned char* shiftData() {
  static const std::vector<unsigned char> data(kMiB, 0x5a);
  return data.data();
}

struct Resident {
  long totalKiB = 0;
  long privateKiB = 0;  // less the pages shared with files: heap, stacks, anonymous maps
};

Resident resident() {
  long pages = 0;
  long total = 0;
  long shared = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld %ld", &pages, &total, &shared) != 3) total = shared = 0;
    std::fclose(statm);
  }
  long pageKiB = ::sysconf(_SC_PAGESIZE) / 1024;
  return Resident{total * pageKiB, (total - shared) * pageKiB};
}

struct Measured {
  AllocationFigure figure;
  bool ok = true;
};

// Runs `call` `warmUp` times, then `calls` times while counting.
Measured measure(const std::string& name, int sends, int warmUp, int calls,
                 const std::function<bool()>& call) {
  Measured m;
  m.figure.name = name;
  m.figure.tokens = sends;
  for (int i = 0; i < warmUp; ++i) m.ok = call() && m.ok;
  HeapCount count;
  for (int i = 0; i < calls; ++i) m.ok = call() && m.ok;
  HeapTotals totals = count.sinceStart();
  m.figure.allocationsPerCall = static_cast<double>(totals.allocations) / calls;
  m.figure.newCallsPerCall = static_cast<double>(totals.newCalls) / calls;
  m.figure.liveBytesPerCall = static_cast<double>(totals.liveBytes) / calls;
  return m;
}

// Sends on the wire per call, counted from the protocol's sequences: the command token,
// the argument tokens and blocks, the request tokens of read-backs, the final read.
struct Row {
  const char* name;
  int sends;
  int calls;
  std::function<bool()> call;
};

// Runs every row; false (and the case skipped) when one got a wrong answer.
bool measureRows(benchmark::State& state, const std::vector<Row>& rows,
                 std::vector<AllocationFigure>& figures) {
  for (const Row& row : rows) {
    Measured m = measure(row.name, row.sends, row.calls < 10 ? 2 : 20, row.calls, row.call);
    if (!m.ok) {
      std::string what = std::string("heap: ") + row.name + " got a wrong answer";
      Summary::get().fail(what);
      state.SkipWithError(what.c_str());
      return false;
    }
    figures.push_back(m.figure);
  }
  return true;
}

bool opened(benchmark::State& state, Conversations& c) {
  std::string why = c.open();
  if (why.empty()) return true;
  Summary::get().fail(why);
  state.SkipWithError(why.c_str());
  return false;
}

// A name as long as applications give their clients: beyond the 15 characters that a
// std::string holds without the heap.
char kLongName[] = "production-line-programmer-station-07";

void heapCase(benchmark::State& state) {
  Conversations c;
  Conversations named(kLongName);
  if (!opened(state, c) || !opened(state, named)) return;
  Client& client = c.library;
  const unsigned char* data = shiftData();
  const unsigned char* bufferA = data;
  std::vector<std::string> items;
  auto ok = [&] { return client.GetClientStatus() == 0; };
  const std::vector<Row> rows = {
      {"Send(6), no argument", 2, 200, [&] { return client.Send(6) == 0 && ok(); }},
      {"Send(5, 7)", 3, 200, [&] { return client.Send(5, 7) == 0 && ok(); }},
      {"Send(36, 1, 2)", 4, 200, [&] { return client.Send(36, 1, 2) == 0 && ok(); }},
      {"JTAG shift, 1 block, read-back", 10, 200,
       [&] { return client.Send(44, 12, 0, 8192, 1, 0, data, bufferA) == 0 && ok(); }},
      {"JTAG shift, 2 KiB, read-back", 14, 100,
       [&] { return client.Send(44, 12, 0, 16384, 1, 0, data, bufferA) == 0 && ok(); }},
      {"JTAG shift, 64 KiB, read-back", 200, 20,
       [&] { return client.Send(44, 12, 0, 8 * 65536, 1, 0, data, bufferA) == 0 && ok(); }},
      {"generic shift, 2 KiB, read-back", 10, 100,
       [&] { return client.Send(19, 0, 16384, 1, data) == 0 && ok(); }},
      {"generic shift, 1 MiB, read-back", 2054, 5,
       [&] { return client.Send(19, 0, 8 * kMiB, 1, data) == 0 && ok(); }},
      {"pump, 2 KiB, read-back", 9, 100,
       [&] { return client.Send(42, data, 16384, 0, 1) == 0 && ok(); }},
      {"pump, 1 MiB, read-back", 2053, 5,
       [&] { return client.Send(42, data, 8 * kMiB, 0, 1) == 0 && ok(); }},
      {"Read(list), 1000 bytes", 1, 200,
       [&] {
         items.clear();
         return client.Read(items) == 0;
       }},
  };
  Client& longNamed = named.library;
  const std::vector<Row> longNameRows = {
      {"Send(5, 7), client name of 37 characters", 3, 200,
       [&] { return longNamed.Send(5, 7) == 0 && longNamed.GetClientStatus() == 0; }},
      {"JTAG shift, 1 block, client name of 37 characters", 10, 200,
       [&] {
         return longNamed.Send(44, 12, 0, 8192, 1, 0, data, bufferA) == 0 &&
                longNamed.GetClientStatus() == 0;
       }},
  };
  std::vector<AllocationFigure> figures;
  for (auto _ : state) {
    figures.clear();
    if (!measureRows(state, rows, figures) || !measureRows(state, longNameRows, figures)) {
      return;
    }
  }
  {
    Client again(kClientName);
    Measured m = measure("Connect + Disconnect", 3, 5, 50, [&] {
      return again.Connect(nullptr, nullptr, kNoInstallation) == 0 && again.Disconnect() == 0;
    });
    if (!m.ok) {
      Summary::get().fail("heap: Connect + Disconnect failed");
      state.SkipWithError("Connect + Disconnect failed");
      return;
    }
    figures.push_back(m.figure);
  }
  for (const AllocationFigure& f : figures) Summary::get().put(f);

  // Allocations per extra exchange on the same path, so that what a call costs once (its
  // context, its catalogue handle) is not spread over its tokens.
  auto perToken = [&](const char* key, const char* path, size_t small, size_t large) {
    const AllocationFigure& a = figures[small];
    const AllocationFigure& b = figures[large];
    double value = (b.allocationsPerCall - a.allocationsPerCall) / (b.tokens - a.tokens);
    Summary::get().put(TokenFigure{path, value});
    state.counters[key] = value;
  };
  perToken("per_int_token", "int tokens: Send(36, 1, 2) against Send(6)", 0, 2);
  perToken("per_jtag_block", "JTAG shift blocks: 64 KiB against 2 KiB", 4, 5);
  perToken("per_shift_block", "generic shift blocks: 1 MiB against 2 KiB", 6, 7);
  perToken("per_pump_block", "pump blocks: 1 MiB against 2 KiB", 8, 9);
  state.counters["allocations_per_Send_5_7"] = figures[1].allocationsPerCall;
  state.counters["with_long_name"] = figures[rows.size()].allocationsPerCall;
}

void memoryCase(benchmark::State& state, long calls) {
  Conversations c;
  if (!opened(state, c)) return;
  MemoryFigure figure;
  figure.calls = calls;
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) c.library.Send(5, 7);
    // The first reading pages in the code that reads: it must not count as growth.
    resident();
    Resident before = resident();
    HeapCount count;
    long failed = 0;
    for (long i = 0; i < calls; ++i) failed += c.library.Send(5, 7) != 0;
    HeapTotals totals = count.sinceStart();
    Resident after = resident();
    figure.residentBeforeKiB = before.totalKiB;
    figure.residentAfterKiB = after.totalKiB;
    figure.privateBeforeKiB = before.privateKiB;
    figure.privateAfterKiB = after.privateKiB;
    figure.liveHeapGrowthBytes = totals.liveBytes;
    figure.allocations = totals.allocations;
    figure.frees = totals.frees;
    if (failed != 0) {
      std::string what = "memory: " + std::to_string(failed) + " calls of Send(5, 7) failed";
      Summary::get().fail(what);
      state.SkipWithError(what.c_str());
      return;
    }
  }
  state.counters["resident_before_KiB"] = static_cast<double>(figure.residentBeforeKiB);
  state.counters["resident_after_KiB"] = static_cast<double>(figure.residentAfterKiB);
  state.counters["private_growth_KiB"] =
      static_cast<double>(figure.privateAfterKiB - figure.privateBeforeKiB);
  state.counters["heap_left_bytes"] = static_cast<double>(figure.liveHeapGrowthBytes);
  Summary::get().put(figure);
}

}  // namespace

void registerResourceCases(const SuiteOptions& options) {
  benchmark::RegisterBenchmark("heap/allocations_per_call", heapCase)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  std::string name = "memory/Send_5_7_x" + std::to_string(options.memoryCalls);
  benchmark::RegisterBenchmark(name.c_str(), memoryCase, options.memoryCalls)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
}
