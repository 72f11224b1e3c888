#include "platform/socket_handles.h"

#include "platform/sockets.h"

#include <mutex>
#include <vector>

namespace tapbroker::platform::handles {
namespace {

struct Live {
  std::uint32_t system;
  std::uint32_t generation;
  unsigned deadlineMs;
  bool ranOut = false;    // the conversation is given up: it moves no more bytes
  bool reported = false;  // takeTimeout has answered the deadline
};

// A process holds a handful of connections, so a list scanned under one lock is enough;
// it reuses its capacity, so a steady Connect and Disconnect allocates nothing.
struct Table {
  std::mutex mutex;
  std::vector<Live> live;
  std::uint32_t lastGeneration = 0;

  // The entry of `handle`, or null.
  Live* entry(std::uint64_t handle) {
    for (Live& e : live)
      if (e.system == static_cast<std::uint32_t>(handle) && e.generation == handle >> 32)
        return &e;
    return nullptr;
  }
};

// Never destroyed: a Client held in a global may close its socket during static destruction.
Table& table() {
  static Table* instance = new Table;
  return *instance;
}

}  // namespace

std::uint64_t add(std::uint64_t system, unsigned deadlineMs) {
  if (system > 0xFFFFFFFFu) return kNoHandle;
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  std::erase_if(t.live, [&](const Live& e) { return e.system == system; });
  // Generation 0 never goes out: a bare socket number is never a handle.
  if (++t.lastGeneration == 0) ++t.lastGeneration;
  t.live.push_back({static_cast<std::uint32_t>(system), t.lastGeneration, deadlineMs});
  return std::uint64_t{t.lastGeneration} << 32 | system;
}

Use find(std::uint64_t handle, std::uint64_t& system) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  const Live* e = t.entry(handle);
  if (e == nullptr) return Use::kNone;
  system = e->system;
  return e->ranOut ? Use::kGivenUp : Use::kLive;
}

bool remove(std::uint64_t handle, std::uint64_t& system) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  Live* e = t.entry(handle);
  if (e == nullptr) return false;
  system = e->system;
  *e = t.live.back();
  t.live.pop_back();
  return true;
}

void timedOut(std::uint64_t handle) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (Live* e = t.entry(handle)) e->ranOut = true;
}

std::uint64_t current(std::uint32_t low) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (const Live& e : t.live)
    if (e.system == low) return std::uint64_t{e.generation} << 32 | low;
  return kNoHandle;
}

}  // namespace tapbroker::platform::handles

namespace tapbroker::platform {

unsigned takeTimeout(Socket handle) {
  handles::Table& t = handles::table();
  std::lock_guard<std::mutex> lock(t.mutex);
  handles::Live* e = t.entry(handle);
  if (e == nullptr || !e->ranOut || e->reported) return 0;
  e->reported = true;
  return e->deadlineMs;
}

}  // namespace tapbroker::platform
