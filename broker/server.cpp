#include "broker/server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "broker/session.h"
#include "broker/simulated_cable.h"

namespace broker {

Server::Server(ServerConfig config, const Trace& trace)
    : config_(std::move(config)), trace_(trace) {}

Server::~Server() {
  stop();
  reap(true);
  if (listener_ >= 0) ::close(listener_);
}

bool Server::listen(std::string& error) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (listener_ < 0) {
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
      ::listen(listener_, 64) != 0) {
    error = "cannot listen on 127.0.0.1:" + std::to_string(config_.port) + ": " +
            std::strerror(errno);
    ::close(listener_);
    listener_ = -1;
    return false;
  }
  socklen_t length = sizeof address;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  return true;
}

void Server::run() {
  using Clock = std::chrono::steady_clock;
  auto idleSince = Clock::now();
  trace_.note(0, "listening on 127.0.0.1:" + std::to_string(port_));
  while (!stopping_) {
    pollfd want{listener_, POLLIN, 0};
    const int ready = ::poll(&want, 1, config_.timeouts.pollMs);
    if (ready > 0) accept();
    reap(false);
    if (open_ > 0) {
      idleSince = Clock::now();
    } else if (config_.idleExitSeconds > 0 &&
               Clock::now() - idleSince >= std::chrono::seconds(config_.idleExitSeconds)) {
      trace_.problem(
          0, "no connection for " + std::to_string(config_.idleExitSeconds) + " s: exiting");
      break;
    }
  }
  stop();
  reap(true);
}

void Server::accept() {
  const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) {
    // Out of descriptors the pending connection stays pending and the listener stays
    // readable: wait a little instead of spinning. Any other failure is the client's.
    if (errno == EMFILE || errno == ENFILE) {
      trace_.problem(0, std::string("cannot accept: ") + std::strerror(errno));
      std::this_thread::sleep_for(std::chrono::milliseconds(config_.timeouts.pollMs));
    }
    return;
  }
  const int id = nextId_++;
  if (open_ >= config_.maxConnections) {
    trace_.problem(id, "refused: " + std::to_string(open_.load()) + " connections are open");
    ::close(fd);
    return;
  }
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ++open_;
  auto worker = std::make_unique<Worker>();
  worker->fd = fd;
  Worker& started = *worker;
  workers_.push_back(std::move(worker));
  try {
    started.thread = std::thread([this, &started, id] { serve(started, id); });
  } catch (const std::system_error& error) {
    trace_.problem(id, std::string("refused: no thread: ") + error.what());
    started.done = true;
    --open_;
  }
}

void Server::serve(Worker& worker, int id) {
  try {
    Link link(worker.fd, id, trace_, stopping_, config_.timeouts);
    auto note = [this, id](const std::string& text) {
      trace_.note(id, "client note: " + describeBytes(text.data(), text.size()));
    };
    SimulatedCable cable(
        CableContext{config_.chain, [this] { return openConnections(); }, note});
    Session(link, cable).run();
  } catch (const std::exception& error) {
    // The session catches its own; this is a cable that could not be made.
    trace_.problem(id, std::string("connection closed: ") + error.what());
  }
  // The descriptor stays open until the accepting thread joins this one, so that it is
  // never reused while a shutdown might still be aimed at it.
  ::shutdown(worker.fd, SHUT_RDWR);
  --open_;
  worker.done = true;
}

void Server::reap(bool all) {
  for (auto it = workers_.begin(); it != workers_.end();) {
    Worker& worker = **it;
    if (all && !worker.done) ::shutdown(worker.fd, SHUT_RDWR);
    if (!all && !worker.done) {
      ++it;
      continue;
    }
    if (worker.thread.joinable()) worker.thread.join();
    ::close(worker.fd);
    it = workers_.erase(it);
  }
}

}  // namespace broker
