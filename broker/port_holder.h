// Who holds a port that the broker cannot listen on. Usually it is another broker, left
// running by a demo or started by a client, and the user who wanted a traced broker needs
// its process id to stop it.
#ifndef BROKER_PORT_HOLDER_H
#define BROKER_PORT_HOLDER_H

#include <cstdint>
#include <string>

namespace broker {

// A sentence naming the process that listens on TCP `port` and how to stop it, or saying
// that it cannot be told (a process of another user, say).
std::string describePortHolder(std::uint16_t port);

}  // namespace broker

#endif  // BROKER_PORT_HOLDER_H
