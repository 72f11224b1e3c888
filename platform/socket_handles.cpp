#include "platform/socket_handles.h"

#include <mutex>
#include <vector>

namespace tapbroker::socket_handles {
namespace {

struct Live {
  std::uint32_t system;
  std::uint32_t generation;
};

// A process holds a handful of connections, so a list scanned under one lock is enough;
// it reuses its capacity, so a steady Connect and Disconnect allocates nothing.
struct Table {
  std::mutex mutex;
  std::vector<Live> live;
  std::uint32_t lastGeneration = 0;

  // The entry of `handle`, or live.end().
  std::vector<Live>::iterator entry(std::uint64_t handle) {
    for (auto it = live.begin(); it != live.end(); ++it)
      if (it->system == static_cast<std::uint32_t>(handle) && it->generation == handle >> 32)
        return it;
    return live.end();
  }
};

// Never destroyed: a Client held in a global may close its socket during static destruction.
Table& table() {
  static Table* instance = new Table;
  return *instance;
}

}  // namespace

std::uint64_t add(std::uint64_t system) {
  if (system > 0xFFFFFFFFu) return kNoHandle;
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  std::erase_if(t.live, [&](const Live& e) { return e.system == system; });
  // Generation 0 never goes out: a bare socket number is never a handle.
  if (++t.lastGeneration == 0) ++t.lastGeneration;
  t.live.push_back({static_cast<std::uint32_t>(system), t.lastGeneration});
  return std::uint64_t{t.lastGeneration} << 32 | system;
}

bool find(std::uint64_t handle, std::uint64_t& system) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (t.entry(handle) == t.live.end()) return false;
  system = static_cast<std::uint32_t>(handle);
  return true;
}

bool remove(std::uint64_t handle, std::uint64_t& system) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.entry(handle);
  if (it == t.live.end()) return false;
  system = it->system;
  *it = t.live.back();
  t.live.pop_back();
  return true;
}

std::uint64_t current(std::uint32_t low) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (const Live& e : t.live)
    if (e.system == low) return std::uint64_t{e.generation} << 32 | low;
  return kNoHandle;
}

}  // namespace tapbroker::socket_handles
