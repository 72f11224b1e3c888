#include "protocol/recording.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "transcript/transcript.h"

namespace tapbroker::recording {

std::atomic<int> liveConversations{0};

namespace {

constexpr const char* kVariable = "TAPBROKER_CLIENT_RECORD";

struct Recording {
  SOCKET socket;
  std::string path;
  std::string text;
};

struct Registry {
  std::mutex liveMutex;
  std::vector<Recording> live;
  // One block at a time into the files, so that two conversations never interleave.
  std::mutex fileMutex;
  std::atomic<bool> warned{false};
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

void warnOnce(const std::string& path, const char* reason) {
  if (registry().warned.exchange(true)) return;
  std::fprintf(stderr,
               "tapbroker_client: cannot record into %s: %s; the conversation goes on "
               "unrecorded\n",
               path.c_str(), reason);
}

void appendToFile(const Recording& recording) {
  std::lock_guard<std::mutex> lock(registry().fileMutex);
  std::FILE* file = std::fopen(recording.path.c_str(), "ab");
  if (file == nullptr) {
    warnOnce(recording.path, std::strerror(errno));
    return;
  }
  // Unbuffered: the block goes out in one write, not in pieces of the stream's buffer.
  std::setvbuf(file, nullptr, _IONBF, 0);
  bool written = std::fwrite(recording.text.data(), 1, recording.text.size(), file) ==
                 recording.text.size();
  written = std::fclose(file) == 0 && written;
  if (!written) warnOnce(recording.path, std::strerror(errno));
}

// Moves the recording of `socket` out of the registry; false when there is none.
bool takeRecording(SOCKET socket, Recording& taken) {
  Registry& all = registry();
  std::lock_guard<std::mutex> lock(all.liveMutex);
  auto found = std::find_if(all.live.begin(), all.live.end(),
                            [socket](const Recording& r) { return r.socket == socket; });
  if (found == all.live.end()) return false;
  taken = std::move(*found);
  all.live.erase(found);
  liveConversations.fetch_sub(1, std::memory_order_relaxed);
  return true;
}

void finish(Recording& recording) {
  // A blank line after each conversation, for the eye.
  recording.text += '\n';
  appendToFile(recording);
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
    transcript::appendExchange(recording.text, direction, data,
                               length > 0 ? static_cast<std::size_t>(length) : 0);
    return;
  }
}

}  // namespace

void begin(SOCKET socket, std::string_view client) {
  const char* path = std::getenv(kVariable);
  if (path == nullptr || path[0] == '\0') return;
  // Known now rather than when the conversation ends: the file takes appends.
  std::FILE* probe = std::fopen(path, "ab");
  if (probe == nullptr) {
    warnOnce(path, std::strerror(errno));
    return;
  }
  std::fclose(probe);
  Recording recording{socket, path, {}};
  transcript::appendHeader(recording.text, client);
  Registry& all = registry();
  std::lock_guard<std::mutex> lock(all.liveMutex);
  all.live.push_back(std::move(recording));
  liveConversations.fetch_add(1, std::memory_order_relaxed);
}

void end(SOCKET socket) {
  Recording finished;
  if (active() && takeRecording(socket, finished)) finish(finished);
}

void sent(SOCKET socket, const void* data, int length) {
  note(socket, transcript::Direction::ToBroker, data, length);
}

void received(SOCKET socket, const void* data, int length) {
  note(socket, transcript::Direction::ToClient, data, length);
}

}  // namespace tapbroker::recording
