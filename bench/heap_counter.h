// Counts heap operations made by one thread while a HeapCount is open on it: every
// malloc, calloc and realloc (whoever calls them: the library, the message catalogue, the
// C and C++ runtimes) and, among them, the calls of the global operator new. Other
// threads (the benchmark's broker) are never counted. In a sanitizer build only operator
// new is counted, since the sanitizer's allocator must keep malloc to itself.
#ifndef BENCH_HEAP_COUNTER_H
#define BENCH_HEAP_COUNTER_H

#include <cstdint>

struct HeapTotals {
  std::uint64_t allocations = 0;  // malloc, calloc, realloc (operator new included)
  std::uint64_t newCalls = 0;     // global operator new, of the allocations above
  std::uint64_t frees = 0;
  std::int64_t liveBytes = 0;  // usable bytes allocated less usable bytes freed
};

class HeapCount {
 public:
  HeapCount();
  ~HeapCount();
  HeapCount(const HeapCount&) = delete;
  HeapCount& operator=(const HeapCount&) = delete;

  // What this thread did since the count was opened.
  HeapTotals sinceStart() const;
  // False in a sanitizer build: allocations then means operator new only.
  static bool coversMalloc();

 private:
  HeapTotals start_;
  bool outer_;
};

#endif  // BENCH_HEAP_COUNTER_H
