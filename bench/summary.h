// The figures each case leaves behind, and the table printed after the run: the
// benchmark framework's own output shows every run, the table shows the goals.
#ifndef BENCH_SUMMARY_H
#define BENCH_SUMMARY_H

#include <cstdio>
#include <string>
#include <vector>

// Library against baseline, timed alternately in one run.
struct PairedFigure {
  std::string name;
  double libraryNs = 0;   // median per operation
  double baselineNs = 0;  // median per operation
  double bytes = 0;       // payload per operation, for MiB/s; 0 for a plain time
  double goalRatio = 0;   // 0: no goal, reported only
  long pairs = 0;
};

// Nanoseconds per report, library and the floor of an out-of-line call of the same
// signature (or of the same output, for the switches on).
struct ReportFigure {
  std::string name;
  double libraryNs = 0;
  double floorNs = 0;
  double goalNs = 0;  // 0: no goal
  double allocationsPerReport = -1;
  double goalAllocations = -1;  // negative: no goal
};

struct AllocationFigure {
  std::string name;
  double tokens = 0;  // wire exchanges (sends) per call
  double allocationsPerCall = 0;
  double newCallsPerCall = 0;
  double liveBytesPerCall = 0;  // what a call leaves on the heap
};

struct TokenFigure {
  std::string path;
  double allocationsPerToken = 0;
};

struct MemoryFigure {
  long calls = 0;
  long residentBeforeKiB = 0;
  long residentAfterKiB = 0;
  long privateBeforeKiB = 0;  // resident less file-backed pages
  long privateAfterKiB = 0;
  long long liveHeapGrowthBytes = 0;
  unsigned long long allocations = 0;
  unsigned long long frees = 0;
};

// The median of `values` (reordered on the way); 0 for none.
double median(std::vector<double>& values);

class Summary {
 public:
  static Summary& get();

  void put(const PairedFigure& figure);
  void put(const ReportFigure& figure);
  void put(const AllocationFigure& figure);
  void put(const TokenFigure& figure);
  void put(const MemoryFigure& figure) {
    memory_ = figure;
    hasMemory_ = true;
  }
  // A case that could not run, e.g. because the library answered wrongly.
  void fail(const std::string& what) { failures_.push_back(what); }
  const std::vector<std::string>& failures() const { return failures_; }

  void print(std::FILE* out) const;

 private:
  std::vector<PairedFigure> paired_;
  std::vector<ReportFigure> reports_;
  std::vector<AllocationFigure> allocations_;
  std::vector<TokenFigure> tokens_;
  MemoryFigure memory_;
  bool hasMemory_ = false;
  std::vector<std::string> failures_;
};

#endif  // BENCH_SUMMARY_H
