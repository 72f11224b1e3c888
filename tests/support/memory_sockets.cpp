#include "tests/support/memory_sockets.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "platform/errors.h"
#include "platform/socket_handles.h"
#include "platform/winsock.h"

namespace memory_sockets {
namespace {

constexpr int kConnected = 10056;  // WSAEISCONN

enum class State { Open, Ending, Closed, Reset };

int fail(int error) {
  tapbroker::win::SetLastError(static_cast<tapbroker::win::DWORD>(error));
  return tapbroker::win::kSocketError;
}

struct Socket {
  int connection = 0;  // 0 until connected
  State far = State::Open;
  std::deque<std::string> answers;
};

// One lock for everything: the Peer is called with it held and may deliver or hang up
// from inside its calls.
struct Transport {
  std::recursive_mutex mutex;
  Peer* peer = nullptr;
  int lastConnection = 0;
  std::map<std::uint32_t, Socket> sockets;  // by the socket's number
  std::atomic<int> references{0};

  Socket* find(tapbroker::win::SOCKET handle) {
    std::uint64_t number;
    if (!tapbroker::socket_handles::find(handle, number)) return nullptr;
    auto it = sockets.find(static_cast<std::uint32_t>(number));
    return it == sockets.end() ? nullptr : &it->second;
  }
  Socket* connection(int id) {
    for (auto& [number, socket] : sockets)
      if (socket.connection == id) return &socket;
    return nullptr;
  }
  // One call of the library's: the Peer may fail it, else `work` does it; either way the
  // Peer learns what it returned.
  template <typename Work>
  int run(Call call, int connection, Work work);
};

// Never destroyed: a Client held in a global may close its socket during static destruction.
Transport& transport() {
  static Transport* instance = new Transport;
  return *instance;
}

template <typename Work>
int Transport::run(Call call, int connection, Work work) {
  const int error = peer == nullptr ? 0 : peer->failure(call, connection);
  const int result = error == 0 ? work() : call == Call::Startup ? error : fail(error);
  if (peer != nullptr) peer->returned(call, connection, result);
  return result;
}

// The checks every send and receive makes before it looks at the socket.
int checkBuffer(const char* data, int length) {
  if (length < 0) return tapbroker::win::kInvalidArgument;
  return length > 0 && data == nullptr ? tapbroker::win::kBadAddress : 0;
}

}  // namespace

void install(Peer* peer) {
  Transport& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  // The connections of the peer that leaves lose their far side.
  for (auto& [number, socket] : t.sockets)
    if (socket.connection != 0 && socket.far == State::Open) socket.far = State::Closed;
  t.peer = peer;
}

Peer* installed() {
  Transport& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  return t.peer;
}

void deliver(int connection, const std::string& bytes) {
  Transport& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  Socket* socket = t.connection(connection);
  if (socket != nullptr && socket->far == State::Open && !bytes.empty())
    socket->answers.push_back(bytes);
}

void hangUp(int connection, Hangup how) {
  Transport& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  Socket* socket = t.connection(connection);
  if (socket == nullptr) return;
  const State state = how == Hangup::Ending   ? State::Ending
                      : how == Hangup::Closed ? State::Closed
                                              : State::Reset;
  socket->far = std::max(socket->far, state);
  if (socket->far == State::Reset) socket->answers.clear();
}

int openSockets() {
  Transport& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  return static_cast<int>(t.sockets.size());
}

}  // namespace memory_sockets

namespace tapbroker::win {

using memory_sockets::Call;
using memory_sockets::fail;
using memory_sockets::State;
using memory_sockets::transport;

int WSAStartup(WORD version, WSADATA* data) {
  auto& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  return t.run(Call::Startup, 0, [&] {
    t.references.fetch_add(1);
    if (data != nullptr) {
      data->wVersion = version;
      data->wHighVersion = 0x0202;
    }
    return 0;
  });
}

int WSACleanup() {
  auto& t = transport();
  int current = t.references.load();
  while (current > 0 && !t.references.compare_exchange_weak(current, current - 1)) {
  }
  return current > 0 ? 0 : kSocketError;
}

int WSAReferences() { return transport().references.load(); }

SOCKET socket(int, int, int) {
  auto& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  SOCKET handle = kInvalidSocket;
  t.run(Call::Open, 0, [&] {
    // The lowest number free, as a system hands out its descriptors: a closed socket's
    // number goes to the next one, which only the handle's generation tells apart.
    std::uint32_t number = 3;
    while (t.sockets.count(number) != 0) ++number;
    t.sockets[number] = {};
    handle = socket_handles::add(number);
    return 0;
  });
  return handle;
}

int connect(SOCKET s, const sockaddr* address, int length) {
  auto& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  memory_sockets::Socket* socket = t.find(s);
  if (socket == nullptr) return fail(win::kNotSocket);
  if (address == nullptr || length < static_cast<int>(sizeof(SOCKADDR_IN)))
    return fail(win::kBadAddress);
  if (socket->connection != 0) return fail(memory_sockets::kConnected);
  const int id = ++t.lastConnection;
  return t.run(Call::Connect, id, [&] {
    // Nothing but the broker's address is served.
    const SOCKADDR_IN* in = reinterpret_cast<const SOCKADDR_IN*>(address);
    const bool broker = in->sin_family == kAfInet && in->sin_port == htons(4001) &&
                        in->sin_addr == inet_addr("127.0.0.1");
    socket->connection = id;
    if (broker && t.peer != nullptr && t.peer->accept(id)) return 0;
    socket->connection = 0;
    return fail(memory_sockets::kConnectionRefused);
  });
}

int send(SOCKET s, const char* data, int length, int) {
  if (int error = memory_sockets::checkBuffer(data, length)) return fail(error);
  if (length == 0) return 0;
  auto& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  memory_sockets::Socket* socket = t.find(s);
  if (socket == nullptr) return fail(win::kNotSocket);
  if (socket->connection == 0) return fail(memory_sockets::kNotConnected);
  return t.run(Call::Send, socket->connection, [&] {
    if (socket->far >= State::Closed || t.peer == nullptr)
      return fail(memory_sockets::kConnectionReset);
    const std::size_t moved = t.peer->received(
        socket->connection, std::string(data, static_cast<std::size_t>(length)));
    return static_cast<int>(std::min(moved, static_cast<std::size_t>(length)));
  });
}

int recv(SOCKET s, char* data, int length, int) {
  if (int error = memory_sockets::checkBuffer(data, length)) return fail(error);
  if (length == 0) return 0;
  auto& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  memory_sockets::Socket* socket = t.find(s);
  if (socket == nullptr) return fail(win::kNotSocket);
  if (socket->connection == 0) return fail(memory_sockets::kNotConnected);
  return t.run(Call::Receive, socket->connection, [&] {
    if (socket->answers.empty() && socket->far == State::Open && t.peer != nullptr)
      t.peer->waiting(socket->connection, static_cast<std::size_t>(length));
    if (socket->far == State::Reset) return fail(memory_sockets::kConnectionReset);
    if (socket->answers.empty())
      return socket->far == State::Open ? fail(memory_sockets::kTimedOut) : 0;
    std::string& answer = socket->answers.front();
    const std::size_t taken = std::min(answer.size(), static_cast<std::size_t>(length));
    std::memcpy(data, answer.data(), taken);
    answer.erase(0, taken);
    if (answer.empty()) socket->answers.pop_front();
    return static_cast<int>(taken);
  });
}

int shutdown(SOCKET s, int how) {
  auto& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  memory_sockets::Socket* socket = t.find(s);
  if (socket == nullptr) return fail(win::kNotSocket);
  if (how < kShutdownReceive || how > kShutdownBoth) return fail(win::kInvalidArgument);
  if (socket->connection == 0) return fail(memory_sockets::kNotConnected);
  return t.run(Call::Shutdown, socket->connection, [] { return 0; });
}

int closesocket(SOCKET s) {
  auto& t = transport();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  std::uint64_t number;
  if (!socket_handles::remove(s, number)) return fail(win::kNotSocket);
  t.sockets.erase(static_cast<std::uint32_t>(number));
  return 0;
}

std::uint32_t inet_addr(const char* dotted) {
  constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  if (dotted == nullptr) return kNone;
  unsigned char parts[4];
  const char* at = dotted;
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && *at++ != '.') return kNone;
    unsigned value = 0;
    const char* start = at;
    for (; *at >= '0' && *at <= '9' && at - start < 3; ++at) value = value * 10 + unsigned(*at - '0');
    if (at == start || value > 255) return kNone;
    parts[i] = static_cast<unsigned char>(value);
  }
  if (*at != '\0') return kNone;
  std::uint32_t address;  // network byte order: the parts in memory order
  std::memcpy(&address, parts, sizeof address);
  return address;
}

std::uint16_t(htons)(std::uint16_t host) {
  if constexpr (std::endian::native == std::endian::big) return host;
  return static_cast<std::uint16_t>(host << 8 | host >> 8);
}

}  // namespace tapbroker::win
