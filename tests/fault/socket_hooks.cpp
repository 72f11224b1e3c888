#include "tests/fault/socket_hooks.h"

#include <atomic>
#include <cerrno>

extern "C" {
ssize_t __real_send(int fd, const void* data, size_t length, int flags);
ssize_t __real_recv(int fd, void* data, size_t length, int flags);
int __real_shutdown(int fd, int how);
int __real_connect(int fd, const sockaddr* address, socklen_t length);
}

namespace fault {
namespace {

std::atomic<SocketHooks*> installed{nullptr};

}  // namespace

void installSocketHooks(SocketHooks* hooks) { installed = hooks; }

ssize_t realSend(int fd, const void* data, size_t length, int flags) {
  return __real_send(fd, data, length, flags);
}
ssize_t realRecv(int fd, void* data, size_t length, int flags) {
  return __real_recv(fd, data, length, flags);
}
int realShutdown(int fd, int how) { return __real_shutdown(fd, how); }
int realConnect(int fd, const sockaddr* address, socklen_t length) {
  return __real_connect(fd, address, length);
}

}  // namespace fault

// The hooks must not disturb errno: the library reads it right after the call.
extern "C" {

ssize_t __wrap_send(int fd, const void* data, size_t length, int flags) {
  fault::SocketHooks* hooks = fault::installed;
  if (hooks == nullptr) return __real_send(fd, data, length, flags);
  hooks->beforeSend(fd);
  ssize_t result = __real_send(fd, data, length, flags);
  int saved = errno;
  hooks->afterSend(fd, data, result);
  errno = saved;
  return result;
}

ssize_t __wrap_recv(int fd, void* data, size_t length, int flags) {
  fault::SocketHooks* hooks = fault::installed;
  if (hooks == nullptr) return __real_recv(fd, data, length, flags);
  hooks->beforeRecv(fd);
  ssize_t result = __real_recv(fd, data, length, flags);
  int saved = errno;
  hooks->afterRecv(fd, result);
  errno = saved;
  return result;
}

int __wrap_shutdown(int fd, int how) {
  fault::SocketHooks* hooks = fault::installed;
  if (hooks != nullptr) hooks->beforeShutdown(fd);
  return __real_shutdown(fd, how);
}

int __wrap_connect(int fd, const sockaddr* address, socklen_t length) {
  fault::SocketHooks* hooks = fault::installed;
  int result = 0;
  if (hooks != nullptr && hooks->connect(fd, address, length, result)) return result;
  return __real_connect(fd, address, length);
}

}  // extern "C"
