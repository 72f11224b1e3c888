#include "tests/support/memory_sockets.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "platform/socket_handles.h"
#include "platform/sockets.h"

namespace memory_sockets {
namespace {

// How the far side stands: Open, then the ways of leaving in the order of Hangup.
enum class State { Open, Ending, Closed, Reset };

struct Socket {
  int connection = 0;
  unsigned deadlineMs = 0;
  State far = State::Open;
  std::deque<std::string> answers;
};

// One lock for everything: the Peer is called with it held and may deliver or hang up
// from inside its calls.
struct Transport {
  std::recursive_mutex mutex;
  Peer* peer = nullptr;
  int lastConnection = 0;
  std::map<std::uint64_t, Socket> sockets;  // by the socket's number

  // The Peer's error for `call`, 0 when it lets the call go on; and what the call returned.
  int failure(Call call, int connection) {
    return peer == nullptr ? 0 : peer->failure(call, connection);
  }
  int returned(Call call, int connection, int result) {
    if (peer != nullptr) peer->returned(call, connection, result);
    return result;
  }
};

// Never destroyed: a Client held in a global may close its socket during static destruction.
Transport& transport() {
  static Transport* instance = new Transport;
  return *instance;
}

// `work` on the transport, locked, and on the socket of connection `id` when there is one.
template <typename Work>
void onConnection(int id, Work work) {
  Transport& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  for (auto& [number, socket] : t.sockets)
    if (socket.connection == id) work(socket);
}

}  // namespace

void install(Peer* peer) {
  Transport& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  // The connections of the peer that leaves lose their far side.
  for (auto& [number, socket] : t.sockets)
    if (socket.far == State::Open) socket.far = State::Closed;
  t.peer = peer;
}

Peer* installed() {
  Transport& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  return t.peer;
}

void deliver(int connection, const std::string& bytes) {
  onConnection(connection, [&](Socket& socket) {
    if (socket.far == State::Open && !bytes.empty()) socket.answers.push_back(bytes);
  });
}

void hangUp(int connection, Hangup how) {
  onConnection(connection, [&](Socket& socket) {
    socket.far = std::max(socket.far, static_cast<State>(static_cast<int>(how) + 1));
    if (socket.far == State::Reset) socket.answers.clear();
  });
}

int openSockets() {
  Transport& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  return static_cast<int>(t.sockets.size());
}

}  // namespace memory_sockets

namespace tapbroker::platform {
namespace {

using memory_sockets::Call;
using memory_sockets::State;
using memory_sockets::Transport;

// One call of the library's on the connection behind `handle`, with the transport locked:
// the Peer may fail it, else `work` does it; either way the Peer learns what it returned.
// A handle that is not live (or, for a receive, whose deadline ran out) fails at once.
template <typename Work>
int onHandle(Call call, Socket handle, Work work) {
  Transport& t = memory_sockets::transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  std::uint64_t number;
  const handles::Use use = handles::find(handle, number);
  if (use == handles::Use::kNone || (use == handles::Use::kGivenUp && call == Call::Receive))
    return kFailed;
  memory_sockets::Socket& socket = t.sockets[number];
  const int id = socket.connection;
  return t.returned(call, id, t.failure(call, id) != 0 ? kFailed : work(t, socket));
}

}  // namespace

Opened openLoopback(std::uint16_t port, unsigned deadlineMs) {
  Transport& t = memory_sockets::transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  for (const auto& [call, step] : {std::pair{Call::Startup, OpenStep::kStartup},
                                   std::pair{Call::Open, OpenStep::kCreate}}) {
    if (const int error = t.returned(call, 0, t.failure(call, 0)))
      return {kInvalidSocket, step, error};
  }
  const int id = ++t.lastConnection;
  // Nothing but the broker's port is served.
  if (t.failure(Call::Connect, id) != 0 || port != 4001 || t.peer == nullptr ||
      !t.peer->accept(id))
    return {kInvalidSocket, OpenStep::kConnect, t.returned(Call::Connect, id, -1)};
  // The lowest number free, as a system hands out its descriptors: a closed socket's
  // number goes to the next one, which only the handle's generation tells apart.
  std::uint64_t number = 3;
  while (t.sockets.count(number) != 0) ++number;
  t.sockets[number] = {id, deadlineMs, State::Open, {}};
  t.returned(Call::Connect, id, 0);
  return {handles::add(number, deadlineMs), OpenStep::kDone, 0};
}

int send(Socket handle, const void* data, int length) {
  if (length <= 0 || data == nullptr) return length == 0 ? 0 : kFailed;
  return onHandle(Call::Send, handle, [&](Transport& t, memory_sockets::Socket& socket) {
    std::uint64_t number;
    if (handles::find(handle, number) == handles::Use::kGivenUp) return length;  // dropped
    if (socket.far >= State::Closed || t.peer == nullptr) return kFailed;
    const std::size_t moved = t.peer->received(
        socket.connection, std::string(static_cast<const char*>(data), length));
    return static_cast<int>(std::min(moved, static_cast<std::size_t>(length)));
  });
}

int receive(Socket handle, void* data, int capacity) {
  if (capacity <= 0 || data == nullptr) return capacity == 0 ? 0 : kFailed;
  return onHandle(Call::Receive, handle, [&](Transport& t, memory_sockets::Socket& socket) {
    if (socket.answers.empty() && socket.far == State::Open && t.peer != nullptr)
      t.peer->waiting(socket.connection, static_cast<std::size_t>(capacity));
    if (socket.far == State::Reset) return kFailed;
    if (socket.answers.empty()) {
      if (socket.far != State::Open) return 0;
      // Nobody answers: a real receive would wait for ever, or until the deadline.
      if (socket.deadlineMs == 0) return kFailed;
      handles::timedOut(handle);
      return kTimedOut;
    }
    std::string& answer = socket.answers.front();
    const std::size_t taken = std::min(answer.size(), static_cast<std::size_t>(capacity));
    std::memcpy(data, answer.data(), taken);
    answer.erase(0, taken);
    if (answer.empty()) socket.answers.pop_front();
    return static_cast<int>(taken);
  });
}

bool shutdownSending(Socket handle) {
  return onHandle(Call::Shutdown, handle, [](Transport&, memory_sockets::Socket&) {
           return 0;
         }) == 0;
}

void close(Socket handle) {
  Transport& t = memory_sockets::transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  std::uint64_t number;
  if (handles::remove(handle, number)) t.sockets.erase(number);
}

}  // namespace tapbroker::platform
