// The own sockets on 127.0.0.1 of the test programs that use real sockets (the platform,
// end-to-end and broker tests and their helpers), and the only place where they call the
// system's socket functions: listening (with patience for a port another test just
// released), connecting with Nagle off, sending whole, and reading with every
// wait bounded so that a broken peer fails a test instead of hanging it. Sockets are plain
// ints here; a port to other socket APIs changes this file alone.
#ifndef TESTS_SUPPORT_LOOPBACK_H
#define TESTS_SUPPORT_LOOPBACK_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace loopback {

// Listens on `port` (0: any free one), retrying for `patienceMs` while another socket
// holds it (a program that just ended may still); -1 when it stays busy.
int listenOn(std::uint16_t port, int patienceMs = 10000);
std::uint16_t localPort(int fd);
// A port nothing listens on now, for a process that will bind it itself.
std::uint16_t freePort();
// A connection to `port`, with TCP_NODELAY; -1 when nothing listens.
int connectTo(std::uint16_t port);
// Up to `length` bytes as they come, within `ms` in all; fewer when the peer ends.
std::string receiveUpTo(int fd, std::size_t length, int ms);
// What one receive brings within `ms`: empty when nothing comes or the peer has ended.
std::string receiveSome(int fd, int ms);
// Sends all of `bytes` (never raising SIGPIPE); false when the connection fails.
bool sendAll(int fd, const std::string& bytes);
// Closes `fd` (when open) and marks it closed.
void closeSocket(int& fd);

// A client's connection to `port`; every wait is bounded.
class Connection {
 public:
  explicit Connection(std::uint16_t port) : fd_(connectTo(port)) {}
  ~Connection() { close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool connected() const { return fd_ >= 0; }
  void send(const std::string& bytes) { sendAll(fd_, bytes); }
  void token(const std::string& text) { send(text + '\0'); }
  // Up to `length` bytes, as they come, within `ms`; fewer when the peer ends.
  std::string receive(std::size_t length, int ms = 5000) {
    return receiveUpTo(fd_, length, ms);
  }
  // True when the peer closes the connection within `ms` (any bytes before are dropped).
  bool closedByPeer(int ms = 5000);
  void close() { closeSocket(fd_); }

 private:
  int fd_;
};

}  // namespace loopback

#endif  // TESTS_SUPPORT_LOOPBACK_H
