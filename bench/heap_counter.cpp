#include "heap_counter.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

// A sanitizer brings its own allocator, which glibc's entry points would bypass: such
// builds count the global operator new only (kCountsMalloc is then false).
#ifndef TAPBROKER_BENCH_OPERATOR_NEW_ONLY
constexpr bool kCountsMalloc = true;
// glibc's own entry points, which the replacements below forward to.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);
}
#else
constexpr bool kCountsMalloc = false;
#endif

namespace {

// Plain thread-locals of the executable: reading them allocates nothing, so they are safe
// to touch from inside malloc.
thread_local bool counting = false;
thread_local HeapTotals totals;

void noteAllocation(void* block) {
  if (counting && block != nullptr) {
    ++totals.allocations;
    totals.liveBytes += static_cast<std::int64_t>(malloc_usable_size(block));
  }
}

void noteFree(void* block) {
  if (counting && block != nullptr) {
    ++totals.frees;
    totals.liveBytes -= static_cast<std::int64_t>(malloc_usable_size(block));
  }
}

HeapTotals difference(const HeapTotals& now, const HeapTotals& then) {
  HeapTotals d;
  d.allocations = now.allocations - then.allocations;
  d.newCalls = now.newCalls - then.newCalls;
  d.frees = now.frees - then.frees;
  d.liveBytes = now.liveBytes - then.liveBytes;
  return d;
}

}  // namespace

HeapCount::HeapCount() : start_(totals), outer_(!counting) { counting = true; }

HeapCount::~HeapCount() {
  if (outer_) counting = false;
}

HeapTotals HeapCount::sinceStart() const { return difference(totals, start_); }

bool HeapCount::coversMalloc() { return kCountsMalloc; }

#ifndef TAPBROKER_BENCH_OPERATOR_NEW_ONLY
// The aligned allocation functions are left to glibc: their blocks come back through the
// free below, which hands every block to glibc's own free.
extern "C" {

__attribute__((visibility("default"))) void* malloc(std::size_t size) {
  void* block = __libc_malloc(size);
  noteAllocation(block);
  return block;
}

__attribute__((visibility("default"))) void* calloc(std::size_t count, std::size_t size) {
  void* block = __libc_calloc(count, size);
  noteAllocation(block);
  return block;
}

__attribute__((visibility("default"))) void* realloc(void* block, std::size_t size) {
  noteFree(block);
  void* moved = __libc_realloc(block, size);
  if (moved == nullptr && size != 0) {
    // The old block is still there: undo the free noted above.
    if (counting && block != nullptr) {
      --totals.frees;
      totals.liveBytes += static_cast<std::int64_t>(malloc_usable_size(block));
    }
    return nullptr;
  }
  noteAllocation(moved);
  return moved;
}

__attribute__((visibility("default"))) void free(void* block) {
  noteFree(block);
  __libc_free(block);
}

}  // extern "C"
#endif

namespace {

void* countedNew(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (counting && block != nullptr) {
    ++totals.newCalls;
    if (!kCountsMalloc) noteAllocation(block);
  }
  return block;
}

void countedDelete(void* block) {
  if (!kCountsMalloc) noteFree(block);
  std::free(block);
}

}  // namespace

__attribute__((visibility("default"))) void* operator new(std::size_t size) {
  void* block = countedNew(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

__attribute__((visibility("default"))) void* operator new[](std::size_t size) {
  return ::operator new(size);
}

__attribute__((visibility("default"))) void* operator new(std::size_t size,
                                                          const std::nothrow_t&) noexcept {
  return countedNew(size);
}

__attribute__((visibility("default"))) void* operator new[](std::size_t size,
                                                            const std::nothrow_t&) noexcept {
  return ::operator new(size, std::nothrow);
}

__attribute__((visibility("default"))) void operator delete(void* block) noexcept {
  countedDelete(block);
}

__attribute__((visibility("default"))) void operator delete[](void* block) noexcept {
  countedDelete(block);
}

__attribute__((visibility("default"))) void operator delete(void* block, std::size_t) noexcept {
  countedDelete(block);
}

__attribute__((visibility("default"))) void operator delete[](void* block,
                                                              std::size_t) noexcept {
  countedDelete(block);
}
