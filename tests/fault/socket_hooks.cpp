#include "tests/fault/socket_hooks.h"

#include <atomic>
#include <cerrno>

extern "C" {
ssize_t __real_send(int fd, const void* data, size_t length, int flags);
ssize_t __real_recv(int fd, void* data, size_t length, int flags);
int __real_connect(int fd, const sockaddr* address, socklen_t length);
}

namespace fault {
namespace {

std::atomic<SocketHooks*> installed{nullptr};
// Set while a hook runs: the calls it makes itself, as the broker's side, go straight to
// the system.
thread_local bool inHook = false;

// The hooks for a call of this thread, or null.
SocketHooks* hooks() { return inHook ? nullptr : installed.load(); }

struct InHook {
  InHook() { inHook = true; }
  ~InHook() { inHook = false; }
};

}  // namespace

void installSocketHooks(SocketHooks* hooks) { installed = hooks; }

ssize_t realSend(int fd, const void* data, size_t length, int flags) {
  return __real_send(fd, data, length, flags);
}
ssize_t realRecv(int fd, void* data, size_t length, int flags) {
  return __real_recv(fd, data, length, flags);
}

}  // namespace fault

// The hooks must not disturb errno: the library reads it right after the call.
extern "C" {

ssize_t __wrap_send(int fd, const void* data, size_t length, int flags) {
  fault::SocketHooks* hooks = fault::hooks();
  if (hooks == nullptr) return __real_send(fd, data, length, flags);
  fault::InHook(), hooks->beforeSend(fd);
  ssize_t result = __real_send(fd, data, length, flags);
  int saved = errno;
  fault::InHook(), hooks->afterSend(fd, data, result);
  errno = saved;
  return result;
}

ssize_t __wrap_recv(int fd, void* data, size_t length, int flags) {
  fault::SocketHooks* hooks = fault::hooks();
  if (hooks == nullptr) return __real_recv(fd, data, length, flags);
  fault::InHook(), hooks->beforeRecv(fd, length);
  ssize_t result = __real_recv(fd, data, length, flags);
  int saved = errno;
  fault::InHook(), hooks->afterRecv(fd, data, result);
  errno = saved;
  return result;
}

int __wrap_connect(int fd, const sockaddr* address, socklen_t length) {
  fault::SocketHooks* hooks = fault::hooks();
  int result = 0;
  if (hooks != nullptr && (fault::InHook(), hooks->connect(fd, address, length, result)))
    return result;
  return __real_connect(fd, address, length);
}

}  // extern "C"
