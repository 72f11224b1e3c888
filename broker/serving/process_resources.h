// What the server asks of the process beyond Asio: descriptors for its connections, a way
// to refuse a newcomer when none is left, and memory handed back to the system. POSIX
// systems limit descriptors per process; Windows limits sockets by memory only, so there
// these do little or nothing.
#ifndef BROKER_PROCESS_RESOURCES_H
#define BROKER_PROCESS_RESOURCES_H

#include <asio/ip/tcp.hpp>
#include <system_error>

namespace broker {

// Descriptors kept back from conversations: the listener, the event loop's own, the spare
// one that lets a refusal be accepted, a chain file, standard streams, and some slack.
constexpr int kReservedDescriptors = 32;

// Raises the soft descriptor limit to the hard one, since each conversation needs one, and
// returns it. Where no such limit exists, a bound of the broker's own.
int raiseDescriptorLimit();

// A program that the broker might start must not inherit its sockets.
void keepFromChildren(asio::ip::tcp::socket::native_handle_type socket);

// Whether an accept failed because the process (or the system) has no descriptor left.
bool outOfDescriptors(const std::error_code& error);

// One descriptor held back, so that at the limit a newcomer can still be accepted, only
// to be closed: it learns at once instead of waiting in the listener's backlog.
class SpareDescriptor {
 public:
  SpareDescriptor() { keep(); }
  ~SpareDescriptor() { release(); }
  SpareDescriptor(const SpareDescriptor&) = delete;
  SpareDescriptor& operator=(const SpareDescriptor&) = delete;
  void release();
  void keep();

 private:
  int descriptor_ = -1;
};

// Gives the heap's free memory back to the system, where the C library can.
void returnFreeMemory();

}  // namespace broker

#endif  // BROKER_PROCESS_RESOURCES_H
