// Puts a test on the far side of every socket call the library makes. The library's send,
// recv and connect are routed here at link time (--wrap), so a fake broker can act exactly
// between the client's calls: answer just before a receive, read just after a send, close
// or reset the connection just before the call that should meet it. Nothing then depends
// on how threads happen to be scheduled.
#ifndef TESTS_FAULT_SOCKET_HOOKS_H
#define TESTS_FAULT_SOCKET_HOOKS_H

#include <sys/socket.h>
#include <sys/types.h>

namespace fault {

class SocketHooks {
 public:
  virtual ~SocketHooks() = default;
  // Return true to answer the connect call yourself, with `result` as its return value.
  virtual bool connect(int /*fd*/, const sockaddr* /*address*/, socklen_t /*length*/,
                       int& /*result*/) {
    return false;
  }
  virtual void beforeSend(int /*fd*/) {}
  virtual void afterSend(int /*fd*/, const void* /*data*/, ssize_t /*result*/) {}
  virtual void beforeRecv(int /*fd*/, size_t /*length*/) {}
  virtual void afterRecv(int /*fd*/, const void* /*data*/, ssize_t /*result*/) {}
};

// Routes the calls of every thread through `hooks` until another call; null lets them
// pass. The hooks run on the thread that makes the call; the socket calls they make
// themselves pass straight to the system.
void installSocketHooks(SocketHooks* hooks);

// The system calls themselves, for the broker's own side of the connection.
ssize_t realSend(int fd, const void* data, size_t length, int flags);
ssize_t realRecv(int fd, void* data, size_t length, int flags);

}  // namespace fault

#endif  // TESTS_FAULT_SOCKET_HOOKS_H
