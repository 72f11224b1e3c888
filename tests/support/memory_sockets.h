// The library's connection (platform/sockets.h) in memory, for the tests that put a broker of
// their own on the far side: no port, no system socket, so such tests run side by side with
// each other and with anything else on the machine, on every system the library builds for.
//
// The far side is a Peer, called from inside the library's own calls: it sees each send as
// it is made and answers only when a receive asks, so a conversation plays out the same way
// every time and a test can act exactly between two calls. A Peer can make any call fail.
// Answers are kept apart as they were delivered: one receive takes from one answer at most,
// as a lock-step conversation on loopback sees them.
#ifndef TESTS_SUPPORT_MEMORY_SOCKETS_H
#define TESTS_SUPPORT_MEMORY_SOCKETS_H

#include <cstddef>
#include <string>

namespace memory_sockets {

// System error codes that a Peer may give a failing call (Winsock's numbers).
constexpr int kConnectionReset = 10054;  // WSAECONNRESET
constexpr int kSystemNotReady = 10091;   // WSASYSNOTREADY

// The steps of the library's calls, as the far side sees them: opening a connection is
// three (starting the sockets library, making a socket, connecting it).
enum class Call { Startup, Open, Connect, Send, Receive, Shutdown };

// How the far side leaves a connection: Ending stops its answers (a receive sees the end of
// the stream once the answers given are taken; sends still arrive), Closed also refuses the
// client's sends, Reset fails the client's receives too.
enum class Hangup { Ending, Closed, Reset };

class Peer {
 public:
  virtual ~Peer() = default;
  // Before every call: an error code makes the call fail with it (the step of opening a
  // connection reports it); 0 lets it go on. `connection` is 0 for Startup and Open.
  virtual int failure(Call /*call*/, int /*connection*/) { return 0; }
  // After every call: what it returned (the steps of opening: 0, or non-zero for failure;
  // a shutdown: 0 or -1).
  virtual void returned(Call /*call*/, int /*connection*/, int /*result*/) {}
  // A connection to 127.0.0.1:4001 makes connection `connection` (numbered from 1 in the order
  // made); false refuses it, as a port where nothing listens does.
  virtual bool accept(int connection) = 0;
  // What one send carried. Returns how many of the bytes the send moves; fewer is a short
  // count, and the rest never arrives.
  virtual std::size_t received(int connection, const std::string& bytes) = 0;
  // A receive of at most `capacity` bytes finds no answer waiting: deliver one, or hang up.
  // A Peer that does neither would leave a real client waiting for ever, or until the
  // connection's deadline: the receive fails instead, as timed out when there is a deadline.
  virtual void waiting(int connection, std::size_t capacity) = 0;
};

// Puts `peer` on the far side of every connection from now on; null refuses every connect.
void install(Peer* peer);
Peer* installed();

// For the Peer: an answer on `connection`, and how it leaves the connection. Connections the
// client has closed are ignored.
void deliver(int connection, const std::string& bytes);
void hangUp(int connection, Hangup how);

// Sockets the library has opened and not closed.
int openSockets();

}  // namespace memory_sockets

#endif  // TESTS_SUPPORT_MEMORY_SOCKETS_H
