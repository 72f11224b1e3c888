// Who holds a port that the broker cannot listen on. Usually it is another broker, left
// running by a demo or started by a client, and the user who wanted a traced broker needs
// its process id to stop it.
#ifndef BROKER_PORT_HOLDER_H
#define BROKER_PORT_HOLDER_H

#include <cstdint>
#include <string>
#include <vector>

namespace broker {

// The process that listens on a TCP port of 127.0.0.1: its id (0 when it cannot be told,
// a process of another user, say) and the file name of its executable.
struct PortHolder {
  long pid = 0;
  std::string program;
};
// Each platform's own way to ask the system (port_holder_posix.cpp, port_holder_win32.cpp).
PortHolder listenerOf(std::uint16_t port);

// A sentence naming the process that listens on TCP `port` and how to stop it, or saying
// that it cannot be told.
std::string describePortHolder(std::uint16_t port);

#ifndef _WIN32
// An IPv4 socket of this network namespace, as /proc/net/tcp lists it: its state as the
// kernel's code in hex ("0A" listening, "01" established, "08" closed by the peer only)
// and its inode.
struct TcpSocket {
  std::string state;
  std::string inode;
};
// The sockets whose local port is `port`.
std::vector<TcpSocket> socketsOnPort(std::uint16_t port);
#endif

}  // namespace broker

#endif  // BROKER_PORT_HOLDER_H
