// The broker against a client that sends anything at all. Each input is one connection's
// bytes, sent whole while the broker's answers are read; then the client stops sending,
// and the broker must close the conversation: answering what it can, refusing or closing
// where it must, never falling silent (a hang fails the run) and never touching memory it
// should not (the sanitizers). Every so often a well-behaved client must still be served.
// The broker runs in this process on a free port, with a fault plan, so that the planned
// faults' paths are fuzzed too.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "broker/program/chain_config.h"
#include "broker/serving/server.h"

namespace {

constexpr const char* kPlan =
    "5 2 refuse\n"
    "12 1 refuse\n"
    "9 every answer 3\n"
    "19 2 flip 5\n"
    "44/12 every flip 9\n"
    "42 3 close-before\n"
    "1 2 close-after\n"
    "30 3 delay 0\n";

// A conversation that ends in ten seconds, or the broker has fallen silent.
constexpr int kPatienceMs = 10000;

std::uint16_t startBroker() {
  static broker::Trace trace(false, [](const std::string&) {});
  broker::ServerConfig config;
  config.port = 0;
  config.idleExitSeconds = 0;
  config.chain = broker::defaultChain();
  config.timeouts.transferMs = 1000;
  std::string error;
  if (!broker::FaultPlan::parse(kPlan, config.faults, error)) {
    std::fprintf(stderr, "fault plan: %s\n", error.c_str());
    std::abort();
  }
  static broker::Server server(std::move(config), trace);
  if (!server.listen(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::abort();
  }
  std::thread([] { server.run(); }).detach();
  return server.port();
}

int connectTo(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// Sends `bytes` while taking in whatever comes back, then ends its side; returns what
// came back once the broker has closed the connection.
std::string converse(std::uint16_t port, const std::string& bytes) {
  const int fd = connectTo(port);
  std::string answers;
  std::size_t sent = 0;
  bool ended = false;
  for (;;) {
    if (sent == bytes.size() && !ended) {
      ::shutdown(fd, SHUT_WR);
      ended = true;
    }
    pollfd want{fd, static_cast<short>(POLLIN | (ended ? 0 : POLLOUT)), 0};
    if (::poll(&want, 1, kPatienceMs) == 0) {
      std::fprintf(stderr, "the broker fell silent\n");
      std::abort();
    }
    if (!ended && (want.revents & POLLOUT)) {
      const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (n < 0 && errno != EAGAIN) sent = bytes.size();  // the broker has closed
    }
    if (want.revents & (POLLIN | POLLHUP | POLLERR)) {
      char buffer[65536];
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0 && !(n < 0 && errno == EAGAIN)) break;
      if (n > 0) answers.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return answers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::uint16_t port = startBroker();
  static unsigned long runs = 0;
  converse(port, std::string(reinterpret_cast<const char*>(data), size));
  if (++runs % 64 == 0) {
    const std::string good("checker\0" "30\0" "+\0", 14);
    const std::string answer = converse(port, good);
    if (answer != std::string("+\0+\0" "1\0", 6)) {
      std::fprintf(stderr, "a well-behaved client was not served\n");
      std::abort();
    }
  }
  return 0;
}
