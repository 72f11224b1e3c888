// The library's connection on POSIX sockets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/socket_handles.h"
#include "platform/sockets.h"

namespace tapbroker::platform {
namespace {

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

// Makes the socket's sends and receives give up after `deadlineMs`.
bool setDeadline(int fd, unsigned deadlineMs) {
  timeval limit{static_cast<time_t>(deadlineMs / 1000),
                static_cast<suseconds_t>(deadlineMs % 1000) * 1000};
  return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0 &&
         ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0;
}

Opened failed(OpenStep step, int error) { return {kInvalidSocket, step, error}; }

// What a send or receive that returned `result` gives the library; a deadline that ran out
// (the call's EAGAIN under SO_RCVTIMEO / SO_SNDTIMEO) gives the conversation up.
int outcome(Socket handle, std::uint64_t fd, ssize_t result) {
  if (result >= 0) return static_cast<int>(result);
  if (errno != EAGAIN && errno != EWOULDBLOCK) return kFailed;
  handles::timedOut(handle);
  ::shutdown(static_cast<int>(fd), SHUT_WR);
  return kTimedOut;
}

}  // namespace

Opened openLoopback(std::uint16_t port, unsigned deadlineMs) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return failed(OpenStep::kCreate, errno);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int error = 0;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0)
    error = errno == EINTR ? finishInterruptedConnect(fd) : errno;
  int on = 1;
  if (error == 0) ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (error == 0 && deadlineMs > 0 && !setDeadline(fd, deadlineMs)) error = errno;
  if (error != 0) {
    ::close(fd);
    return failed(OpenStep::kConnect, error);
  }
  const Socket handle = handles::add(static_cast<std::uint64_t>(fd), deadlineMs);
  if (handle == handles::kNoHandle) {
    ::close(fd);
    return failed(OpenStep::kCreate, EMFILE);
  }
  return {handle, OpenStep::kDone, 0};
}

int send(Socket handle, const void* data, int length) {
  std::uint64_t fd;
  if (length <= 0 || data == nullptr) return length == 0 ? 0 : kFailed;
  const handles::Use use = handles::find(handle, fd);
  if (use != handles::Use::kLive) return use == handles::Use::kGivenUp ? length : kFailed;
  ssize_t sent;
  do {
    sent = ::send(static_cast<int>(fd), data, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return outcome(handle, fd, sent);
}

int receive(Socket handle, void* data, int capacity) {
  std::uint64_t fd;
  if (capacity <= 0 || data == nullptr) return capacity == 0 ? 0 : kFailed;
  if (handles::find(handle, fd) != handles::Use::kLive) return kFailed;
  ssize_t received;
  do {
    received = ::recv(static_cast<int>(fd), data, static_cast<size_t>(capacity), 0);
  } while (received < 0 && errno == EINTR);
  return outcome(handle, fd, received);
}

bool shutdownSending(Socket handle) {
  std::uint64_t fd;
  const handles::Use use = handles::find(handle, fd);
  // A conversation given up has been shut down already.
  return use == handles::Use::kGivenUp ||
         (use == handles::Use::kLive && ::shutdown(static_cast<int>(fd), SHUT_WR) == 0);
}

void close(Socket handle) {
  std::uint64_t fd;
  // On Linux the descriptor is released even when close reports EINTR: never retry.
  if (handles::remove(handle, fd)) ::close(static_cast<int>(fd));
}

}  // namespace tapbroker::platform
