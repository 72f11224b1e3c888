#include "broker/serving/server.h"

#include <algorithm>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/redirect_error.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <list>
#include <optional>
#include <utility>
#include <vector>

#include "broker/cable/simulated_cable.h"
#include "broker/common/version.h"
#include "broker/serving/link.h"
#include "broker/serving/process_resources.h"
#include "broker/serving/replay_session.h"
#include "broker/serving/session.h"

namespace broker {
namespace {

using asio::ip::tcp;

// The text of a failure that ended a coroutine.
std::string describe(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "an exception of unknown type";
  }
}

}  // namespace

// Everything that runs on the loop's thread.
struct Server::Loop {
  explicit Loop(Server& owner)
      : server(owner),
        acceptor(io),
        idleTimer(io),
        budget(owner.config_.memoryBudgetMiB > 0
                   ? static_cast<std::size_t>(owner.config_.memoryBudgetMiB) << 20
                   : SIZE_MAX,
               [this] { return reclaimShare(); }) {}

  asio::awaitable<void> acceptConnections();
  // Takes in a newcomer: false when it had to be turned away.
  bool admit(tcp::socket& socket, int id);
  // Makes room for a newcomer at the limit; false when every connection is busy and
  // making progress.
  bool makeRoom();
  // Makes room in the memory budget: the conversation holding a share whose command has
  // made no progress for longest is closed; false when there is none.
  bool reclaimShare();
  // Has the event loop's records of sockets made ahead of a newcomer, in runs.
  void prepareSocketRecords();
  // A conversation has ended, the way `failure` says (null: as conversations end).
  void ended(Connection& connection, const std::exception_ptr& failure);
  asio::awaitable<void> exitWhenIdle();
  // The accept loop or the idle exit ended by `failure`: a broker that no longer accepts
  // or would never exit must not stay, so it stops with a failure status.
  void failed(const char* what, const std::exception_ptr& failure);
  // Closes the listener and every connection: run() returns once they have ended.
  void shutdown();

  Server& server;
  // One thread runs the loop; stop() posts to it from others.
  asio::io_context io{1};
  tcp::acceptor acceptor;
  asio::steady_timer idleTimer;
  std::optional<asio::signal_set> signals;
  SpareDescriptor spare;
  MemoryBudget budget;
  int limit = 0;
  int nextId = 1;
  int socketRecords = 0;
  std::list<Connection*> connections;
  Clock::time_point idleSince;
};

struct Server::Connection {
  Connection(Server& server, tcp::socket socket, int id)
      : link(std::move(socket), id, server.trace_, server.config_.timeouts) {
    if (server.config_.replay) {
      replay.emplace(link, *server.config_.replay);
      return;
    }
    cable.emplace(CableContext{
        server.config_.chain, server.config_.flash,
        [&server] { return server.openConnections(); },
        [&server, id](const std::string& text) {
          server.trace_.note(id, "client note: " + describeBytes(text.data(), text.size()));
        }});
    session.emplace(link, *cable, server.config_.faults, server.loop_->budget);
  }

  asio::awaitable<void> run() { return replay ? replay->run() : session->run(); }

  Link link;
  // The simulated cable and its session, or a replay of recorded conversations.
  std::optional<SimulatedCable> cable;
  std::optional<Session> session;
  std::optional<ReplaySession> replay;
  std::list<Connection*>::iterator self;
};

Server::Server(ServerConfig config, const Trace& trace)
    : config_(std::move(config)), trace_(trace), loop_(std::make_unique<Loop>(*this)) {}

Server::~Server() {
  stop();
  const std::lock_guard<std::mutex> finished(running_);
}

void Server::stop() {
  stopping_ = true;
  asio::post(loop_->io, [this] { loop_->shutdown(); });
}

bool Server::listen(std::string& error) {
  Loop& loop = *loop_;
  loop.limit = std::max(1, raiseDescriptorLimit() - kReservedDescriptors);
  if (config_.maxConnections > 0) loop.limit = std::min(loop.limit, config_.maxConnections);
  std::error_code failure;
  const tcp::endpoint endpoint(asio::ip::address_v4::loopback(), config_.port);
  loop.acceptor.open(endpoint.protocol(), failure);
  if (failure) {
    error = "cannot make a socket: " + failure.message();
    return false;
  }
  keepFromChildren(loop.acceptor.native_handle());
#if !defined(_WIN32)
  // On Windows this option would let a second broker take the port from the first.
  loop.acceptor.set_option(tcp::acceptor::reuse_address(true), failure);
#endif
  // The refusal without descriptors accepts at once; it must never wait for a client.
  loop.acceptor.non_blocking(true, failure);
  loop.acceptor.bind(endpoint, failure);
  if (!failure) loop.acceptor.listen(tcp::acceptor::max_listen_connections, failure);
  if (failure) {
    // MinGW's runtime has no text for Winsock's codes: the one that matters is named here.
    const bool taken = failure == asio::error::address_in_use;
    error = "cannot listen on 127.0.0.1:" + std::to_string(config_.port) + ": " +
            (taken ? std::string("Address already in use") : failure.message());
    std::error_code ignored;
    loop.acceptor.close(ignored);
    errno = taken ? EADDRINUSE : EINVAL;
    return false;
  }
  port_ = loop.acceptor.local_endpoint(failure).port();
  return true;
}

void Server::stopOnSignals() {
  Loop& loop = *loop_;
  loop.signals.emplace(loop.io, SIGINT, SIGTERM);
  loop.signals->async_wait([&loop](const std::error_code& error, int) {
    if (!error) loop.shutdown();
  });
}

void Server::run() {
  const std::lock_guard<std::mutex> serving(running_);
  Loop& loop = *loop_;
  if (stopping_ || !loop.acceptor.is_open()) return;
  loop.idleSince = Clock::now();
  trace_.note(0, "listening on 127.0.0.1:" + std::to_string(port_) + ", at most " +
                     std::to_string(loop.limit) + " connections at once");
  const auto failing = [&loop](const char* what) {
    return [&loop, what](const std::exception_ptr& failure) {
      if (failure) loop.failed(what, failure);
    };
  };
  asio::co_spawn(loop.io, loop.acceptConnections(), failing("accepting connections"));
  asio::co_spawn(loop.io, loop.exitWhenIdle(), failing("the idle exit"));
  loop.io.run();
}

void Server::Loop::failed(const char* what, const std::exception_ptr& failure) {
  const std::string text = std::string(kProgramName) + ": " + what + " failed (" +
                           describe(failure) + "): the broker stops\n";
  std::fputs(text.c_str(), stderr);
  server.failed_ = true;
  shutdown();
}

asio::awaitable<void> Server::Loop::acceptConnections() {
  asio::steady_timer retry(io);
  while (acceptor.is_open()) {
    prepareSocketRecords();
    std::error_code error;
    tcp::socket socket =
        co_await acceptor.async_accept(asio::redirect_error(asio::use_awaitable, error));
    if (!acceptor.is_open()) break;
    if (outOfDescriptors(error)) {
      if (makeRoom()) continue;  // its descriptor is free already
      // No descriptor for the newcomer: the spare one makes room to take it, only to
      // close it, so that it learns at once instead of waiting in the backlog.
      const int id = nextId++;
      spare.release();
      tcp::socket refused = acceptor.accept(error);
      if (!error) {
        server.trace_.problem(id, "refused: no descriptor left, every connection is busy");
      }
      refused.close(error);
      spare.keep();
      continue;
    }
    if (error) {
      // Something the system is short of: a moment's rest rather than a busy loop.
      retry.expires_after(std::chrono::milliseconds(10));
      co_await retry.async_wait(asio::redirect_error(asio::use_awaitable, error));
      continue;
    }
    const int id = nextId++;
    if (!admit(socket, id)) continue;
    keepFromChildren(socket.native_handle());
    auto connection = std::make_shared<Connection>(server, std::move(socket), id);
    connections.push_back(connection.get());
    connection->self = std::prev(connections.end());
    ++server.open_;
    connection->link.watchClocks(connection);
    // A conversation that fails ends alone: the others and the listener go on.
    asio::co_spawn(
        io, connection->run(),
        [this, connection](const std::exception_ptr& failure) { ended(*connection, failure); });
  }
}

bool Server::Loop::admit(tcp::socket& socket, int id) {
  if (server.open_ < limit || makeRoom()) return true;
  server.trace_.problem(id, "refused: " + std::to_string(server.open_.load()) +
                                " connections are open, each in the middle of a command");
  std::error_code ignored;
  socket.close(ignored);
  return false;
}

void Server::Loop::prepareSocketRecords() {
#if !defined(ASIO_HAS_IOCP)
  // Asio's reactor keeps a record of every socket it has served (some 150 bytes) for
  // reuse, for as long as the loop lives. Made one at a time, between the allocations of
  // a conversation, each would keep a page of that conversation's freed memory from going
  // back to the system; made in runs ahead of need, they share their pages. Opening a
  // socket makes its record, closing it leaves the record for the next one. The
  // many-clients test (tests/e2e) shows what this buys: after a thousand clients the
  // broker keeps some 4 MiB more without it, under 1 MiB with it.
  constexpr int kRun = 64;
  if (server.open_ < socketRecords) return;
  std::vector<tcp::socket> run;
  run.reserve(kRun);
  for (int i = 0; i < kRun; ++i) {
    std::error_code failure;
    run.emplace_back(io);
    run.back().open(tcp::v4(), failure);
    if (failure) break;  // short of descriptors: no harm but scattered records
    ++socketRecords;
  }
#endif
}

bool Server::Loop::makeRoom() {
  // The connection that has waited longest between commands goes first; failing that,
  // the one whose command has made no progress for longest (a client trickling bytes
  // must not hold a place for ever).
  const auto now = Clock::now();
  Connection* idlest = nullptr;
  Connection* slowest = nullptr;
  for (Connection* connection : connections) {
    const Link& link = connection->link;
    if (link.idle()) {
      if (!idlest || link.waitingSince() < idlest->link.waitingSince()) idlest = connection;
    } else if (link.stalled(now)) {
      if (!slowest || link.progressSince() < slowest->link.progressSince())
        slowest = connection;
    }
  }
  Connection* chosen = idlest ? idlest : slowest;
  if (!chosen) return false;
  chosen->link.fail(idlest ? "closed to make room for a new connection: it waited longest"
                           : "closed to make room for a new connection: its command makes "
                             "no progress");
  // It no longer counts: the newcomer takes its place before it has quite gone.
  connections.erase(chosen->self);
  chosen->self = connections.end();
  --server.open_;
  return true;
}

void Server::Loop::ended(Connection& connection, const std::exception_ptr& failure) {
  if (failure) {
    server.trace_.problem(connection.link.id(),
                          "the conversation failed: " + describe(failure));
  }
  connection.link.close();
  if (connection.self != connections.end()) {
    connections.erase(connection.self);
    connection.self = connections.end();
    --server.open_;
  }
  if (server.open_ > 0) return;
  if (server.config_.replay && server.config_.replay->complete()) {
    shutdown();
    return;
  }
  idleSince = Clock::now();
  // Conversations' memory goes back to the system once the last one has gone: after
  // the watch of this one has let go of it too.
  asio::post(io, [this] {
    if (server.open_ == 0) returnFreeMemory();
  });
}

bool Server::Loop::reclaimShare() {
  const auto now = Clock::now();
  Connection* slowest = nullptr;
  for (Connection* connection : connections) {
    const Link& link = connection->link;
    if (!connection->session || connection->session->share() == 0 || !link.stalled(now))
      continue;
    if (!slowest || link.progressSince() < slowest->link.progressSince()) slowest = connection;
  }
  if (!slowest) return false;
  slowest->link.fail("closed to make room in the memory budget: its command makes no progress");
  slowest->session->giveUpShare();
  return true;
}

asio::awaitable<void> Server::Loop::exitWhenIdle() {
  const int seconds = server.config_.idleExitSeconds;
  if (seconds <= 0) co_return;
  const auto limit = std::chrono::seconds(seconds);
  for (;;) {
    idleTimer.expires_at((server.open_ > 0 ? Clock::now() : idleSince) + limit);
    std::error_code cancelled;
    co_await idleTimer.async_wait(asio::redirect_error(asio::use_awaitable, cancelled));
    if (cancelled || server.stopping_) co_return;
    if (server.open_ == 0 && Clock::now() - idleSince >= limit) {
      server.trace_.problem(0, "exits: no client has been connected for " +
                                   std::to_string(seconds) + " seconds.");
      shutdown();
      co_return;
    }
  }
}

void Server::Loop::shutdown() {
  server.stopping_ = true;
  std::error_code ignored;
  acceptor.close(ignored);
  idleTimer.cancel();
  if (signals) signals->cancel(ignored);
  for (Connection* connection : connections) connection->link.fail("the broker is stopping");
}

}  // namespace broker
