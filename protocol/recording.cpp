#include "protocol/recording.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "transcript/record_file.h"

namespace tapbroker::protocol::recording {

std::atomic<int> liveConversations{0};

namespace {

constexpr const char* kVariable = "TAPBROKER_CLIENT_RECORD";

struct Recording {
  SOCKET socket;
  std::string path;
  transcript::PendingBlock text;
};

struct Registry {
  std::mutex liveMutex;
  std::vector<Recording> live;
  // One block at a time from this process (the file's lock keeps other processes apart).
  std::mutex fileMutex;
  // Said once; after a block that could not be written, nothing more is recorded.
  std::atomic<bool> warned{false};
  std::atomic<bool> stopped{false};
};

void finishAll();

// Never destroyed: a client may still close its connection from a static object's
// destructor after the exit's flush, and must find an empty registry then, not a dead one.
Registry& registry() {
  static Registry* const instance = [] {
    Registry* made = new Registry;
    std::atexit(finishAll);
    return made;
  }();
  return *instance;
}

void warnOnce(const std::string& path, const std::string& reason) {
  if (registry().warned.exchange(true)) return;
  std::fprintf(stderr,
               "tapbroker_client: cannot record into %s: %s; the conversation goes on "
               "unrecorded\n",
               path.c_str(), reason.c_str());
}

// Moves the recording of `socket` out of the registry; false when there is none.
bool takeRecording(SOCKET socket, std::optional<Recording>& taken) {
  Registry& all = registry();
  std::lock_guard<std::mutex> lock(all.liveMutex);
  auto found = std::find_if(all.live.begin(), all.live.end(),
                            [socket](const Recording& r) { return r.socket == socket; });
  if (found == all.live.end()) return false;
  taken.emplace(std::move(*found));
  all.live.erase(found);
  liveConversations.fetch_sub(1, std::memory_order_relaxed);
  return true;
}

void finish(Recording& recording) {
  Registry& all = registry();
  std::lock_guard<std::mutex> lock(all.fileMutex);
  if (all.stopped) return;
  transcript::RecordFile file;
  std::string error;
  if (file.open(recording.path, error) && file.append(recording.text, error)) return;
  // A block lost leaves a gap that no later block should hide.
  all.stopped = true;
  warnOnce(recording.path, error);
}

void finishAll() {
  std::vector<Recording> open;
  {
    Registry& all = registry();
    std::lock_guard<std::mutex> lock(all.liveMutex);
    open.swap(all.live);
    liveConversations.store(0, std::memory_order_relaxed);
  }
  for (Recording& recording : open) finish(recording);
}

void note(SOCKET socket, transcript::Direction direction, const void* data, int length) {
  Registry& all = registry();
  std::lock_guard<std::mutex> lock(all.liveMutex);
  for (Recording& recording : all.live) {
    if (recording.socket != socket) continue;
    recording.text.exchange(direction, data, length > 0 ? static_cast<std::size_t>(length) : 0);
    return;
  }
}

}  // namespace

void begin(SOCKET socket, std::string_view client) {
  const char* path = std::getenv(kVariable);
  if (path == nullptr || path[0] == '\0') return;
  Registry& all = registry();
  if (all.stopped) return;
  // Known now rather than when the conversation ends: the file takes appends.
  transcript::RecordFile probe;
  std::string error;
  if (!probe.open(path, error)) {
    warnOnce(path, error);
    return;
  }
  Recording recording{socket, path, transcript::PendingBlock(path, client)};
  std::lock_guard<std::mutex> lock(all.liveMutex);
  all.live.push_back(std::move(recording));
  liveConversations.fetch_add(1, std::memory_order_relaxed);
}

void end(SOCKET socket) {
  std::optional<Recording> finished;
  if (active() && takeRecording(socket, finished)) finish(*finished);
}

void sent(SOCKET socket, const void* data, int length) {
  note(socket, transcript::Direction::ToBroker, data, length);
}

void received(SOCKET socket, const void* data, int length) {
  note(socket, transcript::Direction::ToClient, data, length);
}

}  // namespace tapbroker::protocol::recording
