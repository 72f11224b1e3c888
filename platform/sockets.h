// The library's connection to the broker, in its own terms: open it, send, receive, shut the
// sending side down, close it. posix/sockets.cpp implements it on POSIX sockets,
// win32/sockets.cpp on Winsock (the only place that starts and stops the sockets library),
// and the tests' in-memory sockets on nothing at all.
//
// One system call per send and per receive (a call interrupted by a signal is repeated):
// a short count is returned as it is, never completed by a loop. A send never raises
// SIGPIPE. A send or receive of 0 bytes returns 0 without a system call.
#ifndef PLATFORM_SOCKETS_H
#define PLATFORM_SOCKETS_H

#include <cstdint>

namespace tapbroker::platform {

// A connection's handle: the system's socket in the low 32 bits under a generation number
// that no other connection of this process has had (socket_handles.h). Once closed, a
// handle is refused by every call below, even when the system has given its socket number
// to another socket since; so is anything this layer did not open (0, descriptor numbers).
typedef std::uint64_t Socket;
constexpr Socket kInvalidSocket = ~Socket{0};

// The steps of opening a connection, in the order they are taken; the library reports
// each failure its own way.
enum class OpenStep {
  kDone,     // connected
  kStartup,  // the sockets library could not be started (Windows only)
  kCreate,   // no socket could be made
  kConnect,  // nothing took the connection
};

struct Opened {
  Socket socket = kInvalidSocket;  // the connection when `failed` is kDone
  OpenStep failed = OpenStep::kDone;
  int error = 0;  // the system's code for the step that failed
};

// Opens a TCP connection to 127.0.0.1:`port`: close-on-exec, so that a program started
// later does not inherit it, and with TCP_NODELAY, since the protocol sends small tokens back
// to back and none may wait for a delayed acknowledgement. With `deadlineMs` above 0, every
// send and receive on it gives up after that many milliseconds.
Opened openLoopback(std::uint16_t port, unsigned deadlineMs);

// What a send or receive returns besides a byte count.
constexpr int kFailed = -1;
// The connection's deadline ran out, and the conversation is given up: its sending side is
// shut down, so the broker sees it end, and from then on its receives fail at once (an
// answer that comes late belongs to a question nobody waits for any more) while its sends
// are taken and dropped, so that every later call fails at its first receive, at once, and
// nothing more reaches a broker that has seen the end.
constexpr int kTimedOut = -2;

// One send: the bytes moved, kFailed or kTimedOut.
int send(Socket socket, const void* data, int length);
// One receive of at most `capacity` bytes: the bytes received, 0 at the end of the stream,
// kFailed or kTimedOut.
int receive(Socket socket, void* data, int capacity);
// Ends the sending side; false when that failed.
bool shutdownSending(Socket socket);
// Closes a connection this layer opened, and stops the sockets library when it started
// it; does nothing for any other value.
void close(Socket socket);

// The deadline in milliseconds, when it ran out on `socket` since the last call; else 0.
// Lets the library say once that the conversation timed out.
unsigned takeTimeout(Socket socket);

}  // namespace tapbroker::platform

#endif  // PLATFORM_SOCKETS_H
