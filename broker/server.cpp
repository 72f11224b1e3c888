#include "broker/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "broker/session.h"
#include "broker/simulated_cable.h"

namespace broker {
namespace {

// Descriptors kept back from conversations: the listener, epoll, the wake-up, the spare
// one that lets a refusal be accepted, a chain file, standard streams, and some slack.
constexpr int kReservedDescriptors = 32;

// Raises the soft descriptor limit to the hard one: each conversation needs one.
int descriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::getrlimit(RLIMIT_NOFILE, &limit);
  }
  return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, INT_MAX));
}

}  // namespace

struct Server::Connection {
  Connection(Server& server, int fd, int id)
      : link(fd, server.epoll_, this, id, server.trace_, server.config_.timeouts,
             server.open_),
        cable(CableContext{server.config_.chain, [&server] { return server.openConnections(); },
                           [&server, id](const std::string& text) {
                             server.trace_.note(id, "client note: " +
                                                        describeBytes(text.data(), text.size()));
                           }}),
        session(link, cable, server.config_.faults),
        conversation(session.run()) {}

  Link link;
  SimulatedCable cable;
  Session session;
  Task<void> conversation;
  std::list<std::unique_ptr<Connection>>::iterator self;
  bool retired = false;
};

Server::Server(ServerConfig config, const Trace& trace)
    : config_(std::move(config)), trace_(trace) {
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

Server::~Server() {
  stop();
  const std::lock_guard<std::mutex> finished(running_);
  closeAll();
  for (int fd : {listener_, epoll_, wake_, spare_}) {
    if (fd >= 0) ::close(fd);
  }
}

void Server::stop() {
  stopping_ = true;
  const std::uint64_t one = 1;
  if (wake_ >= 0) [[maybe_unused]] auto written = ::write(wake_, &one, sizeof one);
}

bool Server::listen(std::string& error) {
  const int descriptors = descriptorLimit();
  limit_ = std::max(1, descriptors - kReservedDescriptors);
  if (config_.maxConnections > 0) limit_ = std::min(limit_, config_.maxConnections);
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
  spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (listener_ < 0 || epoll_ < 0 || wake_ < 0) {
    error = std::string("cannot make a socket: ") + std::strerror(errno);
    return false;
  }
  const int on = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(config_.port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, SOMAXCONN) != 0) {
    const int failure = errno;
    error = "cannot listen on 127.0.0.1:" + std::to_string(config_.port) + ": " +
            std::strerror(failure);
    ::close(listener_);
    listener_ = -1;
    errno = failure;  // the caller tells a taken port from other failures
    return false;
  }
  socklen_t length = sizeof address;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  for (int* fd : {&listener_, &wake_}) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = fd;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, *fd, &event);
  }
  return true;
}

void Server::run() {
  const std::lock_guard<std::mutex> serving(running_);
  auto idleSince = Clock::now();
  nextCheck_ = idleSince;
  trace_.note(0, "listening on 127.0.0.1:" + std::to_string(port_) + ", at most " +
                     std::to_string(limit_) + " connections at once");
  std::array<epoll_event, 256> events;
  while (!stopping_) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextCheck_ - Clock::now());
    const int timeout = static_cast<int>(std::clamp<long long>(wait.count(), 0, 1000));
    const int ready = ::epoll_wait(epoll_, events.data(), events.size(), timeout);
    for (int i = 0; i < ready; ++i) {
      const epoll_event& event = events[static_cast<std::size_t>(i)];
      if (event.data.ptr == &listener_) {
        accept();
        continue;
      }
      if (event.data.ptr == &wake_) {
        std::uint64_t count = 0;
        [[maybe_unused]] auto got = ::read(wake_, &count, sizeof count);
        continue;
      }
      Connection& connection = *static_cast<Connection*>(event.data.ptr);
      if (connection.retired) continue;
      const bool broken = event.events & (EPOLLHUP | EPOLLERR);
      if (event.events & (EPOLLIN | EPOLLHUP | EPOLLERR)) connection.link.receive();
      if (event.events & (EPOLLOUT | EPOLLHUP | EPOLLERR)) connection.link.writable();
      // A reset connection keeps signalling: whatever the conversation waits for now (a
      // pause, say), nobody is left to take it.
      if (broken && !connection.conversation.done()) connection.link.fail("the connection broke");
      settle(connection);
    }
    const bool someWent = !retired_.empty();
    retired_.clear();
    if (Clock::now() >= nextCheck_) checkClocks();
    if (open_ > 0) {
      idleSince = Clock::now();
    } else {
      // Conversations' memory goes back to the system once the last one has gone.
      if (someWent) ::malloc_trim(0);
      if (config_.idleExitSeconds > 0 &&
          Clock::now() - idleSince >= std::chrono::seconds(config_.idleExitSeconds)) {
        trace_.problem(0, "exits: no client has been connected for " +
                              std::to_string(config_.idleExitSeconds) + " seconds.");
        break;
      }
    }
  }
  closeAll();
}

void Server::accept() {
  for (;;) {
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0 && (errno == EMFILE || errno == ENFILE)) {
      if (displaceLongestIdle()) continue;  // its descriptor is closed already
      // No descriptor for the newcomer: the spare one takes it, only to close it.
      ::close(spare_);
      fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        trace_.problem(nextId_++, "refused: no descriptor left, every connection is busy");
        ::close(fd);
      }
      spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      return;
    }
    if (fd < 0) return;  // nobody waits, or a client gave up while waiting
    const int id = nextId_++;
    if (open_ >= limit_ && !displaceLongestIdle()) {
      trace_.problem(id, "refused: " + std::to_string(open_.load()) +
                             " connections are open, each in the middle of a command");
      ::close(fd);
      continue;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    connections_.push_back(std::make_unique<Connection>(*this, fd, id));
    Connection& connection = *connections_.back();
    connection.self = std::prev(connections_.end());
    ++open_;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = &connection;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
    connection.conversation.start();
    settle(connection);
  }
}

bool Server::displaceLongestIdle() {
  Connection* longest = nullptr;
  for (const auto& connection : connections_) {
    if (connection->link.idle() &&
        (!longest || connection->link.waitingSince() < longest->link.waitingSince())) {
      longest = connection.get();
    }
  }
  if (!longest) return false;
  longest->link.fail("closed to make room for a new connection: it waited longest");
  settle(*longest);
  return true;
}

void Server::settle(Connection& connection) {
  if (connection.retired) return;
  if (!connection.conversation.done()) {
    nextCheck_ = std::min(nextCheck_, connection.link.dueAt());
    return;
  }
  connection.retired = true;
  --open_;
  // Destroyed after the events at hand, which may still point at it.
  retired_.push_back(std::move(*connection.self));
  connections_.erase(connection.self);
}

void Server::checkClocks() {
  const auto now = Clock::now();
  nextCheck_ = now + std::chrono::milliseconds(config_.timeouts.pollMs);
  for (auto it = connections_.begin(); it != connections_.end();) {
    Connection& connection = **it++;
    nextCheck_ = std::min(nextCheck_, connection.link.checkClocks(now));
    settle(connection);
  }
  retired_.clear();
}

void Server::closeAll() {
  while (!connections_.empty()) {
    Connection& connection = *connections_.front();
    connection.link.fail("the broker is stopping");
    settle(connection);
    if (!connection.retired) {
      // A conversation that was never waiting cannot be resumed; drop it all the same.
      connection.retired = true;
      --open_;
      connections_.pop_front();
    }
  }
  retired_.clear();
}

}  // namespace broker
