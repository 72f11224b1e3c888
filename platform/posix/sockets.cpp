#include "platform/winsock.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/errors.h"
#include "platform/socket_handles.h"

static_assert(tapbroker::win::kAfInet == AF_INET &&
              tapbroker::win::kSockStream == SOCK_STREAM &&
              tapbroker::win::kIpprotoTcp == IPPROTO_TCP);

namespace tapbroker::win {
namespace {

std::atomic<int> references{0};

int fail(int error) {
  SetLastError(static_cast<DWORD>(error));
  errno = error;
  return kSocketError;
}

// The descriptor behind `s`, or -1 when `s` is not a live handle of this layer.
int descriptorOf(SOCKET s) {
  std::uint64_t fd;
  return socket_handles::find(s, fd) ? static_cast<int>(fd) : -1;
}

// A connect interrupted by a signal goes on in the background; wait for its outcome
// instead of starting a second one.
int finishInterruptedConnect(int fd) {
  pollfd p{fd, POLLOUT, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, -1);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return errno;
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
  return error;
}

}  // namespace

int WSAStartup(WORD version, WSADATA* data) {
  references.fetch_add(1);
  if (data != nullptr) {
    data->wVersion = version;
    data->wHighVersion = 0x0202;
  }
  return 0;
}

int WSACleanup() {
  int current = references.load();
  while (current > 0 && !references.compare_exchange_weak(current, current - 1)) {
  }
  return current > 0 ? 0 : kSocketError;
}

int WSAReferences() { return references.load(); }

SOCKET socket(int family, int type, int protocol) {
  int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    fail(errno);
    return kInvalidSocket;
  }
  SOCKET handle = socket_handles::add(static_cast<std::uint64_t>(fd));
  if (handle == kInvalidSocket) {
    ::close(fd);
    fail(kTooManySockets);
  }
  return handle;
}

int connect(SOCKET s, const sockaddr* address, int length) {
  int fd = descriptorOf(s);
  if (fd < 0) return fail(kNotSocket);
  if (address == nullptr || length < static_cast<int>(sizeof(SOCKADDR_IN))) return fail(kInvalidArgument);
  // Copied field by field: the caller's layout is the Windows one, not necessarily ours.
  const SOCKADDR_IN* in = reinterpret_cast<const SOCKADDR_IN*>(address);
  sockaddr_in target{};
  target.sin_family = in->sin_family;
  target.sin_port = in->sin_port;
  target.sin_addr.s_addr = in->sin_addr;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    int error = errno == EINTR ? finishInterruptedConnect(fd) : errno;
    if (error != 0) return fail(error);
  }
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return 0;
}

int send(SOCKET s, const char* data, int length, int flags) {
  if (length < 0) return fail(kInvalidArgument);
  if (length == 0) return 0;
  if (data == nullptr) return fail(kBadAddress);
  int fd = descriptorOf(s);
  if (fd < 0) return fail(kNotSocket);
  ssize_t sent;
  do {
    sent = ::send(fd, data, static_cast<size_t>(length), flags | MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent < 0 ? fail(errno) : static_cast<int>(sent);
}

int recv(SOCKET s, char* data, int length, int flags) {
  if (length < 0) return fail(kInvalidArgument);
  if (length == 0) return 0;
  if (data == nullptr) return fail(kBadAddress);
  int fd = descriptorOf(s);
  if (fd < 0) return fail(kNotSocket);
  ssize_t received;
  do {
    received = ::recv(fd, data, static_cast<size_t>(length), flags);
  } while (received < 0 && errno == EINTR);
  return received < 0 ? fail(errno) : static_cast<int>(received);
}

int shutdown(SOCKET s, int how) {
  int fd = descriptorOf(s);
  if (fd < 0) return fail(kNotSocket);
  int direction;
  switch (how) {
    case kShutdownReceive:
      direction = SHUT_RD;
      break;
    case kShutdownSend:
      direction = SHUT_WR;
      break;
    case kShutdownBoth:
      direction = SHUT_RDWR;
      break;
    default:
      return fail(kInvalidArgument);
  }
  return ::shutdown(fd, direction) == 0 ? 0 : fail(errno);
}

int closesocket(SOCKET s) {
  std::uint64_t fd;
  if (!socket_handles::remove(s, fd)) return fail(kNotSocket);
  // On Linux the descriptor is released even when close reports EINTR: never retry.
  ::close(static_cast<int>(fd));
  return 0;
}

std::uint32_t inet_addr(const char* dotted) {
  in_addr address{};
  if (dotted == nullptr || ::inet_pton(AF_INET, dotted, &address) != 1) return 0xFFFFFFFFu;
  return address.s_addr;
}

std::uint16_t(htons)(std::uint16_t host) { return ::htons(host); }

}  // namespace tapbroker::win
