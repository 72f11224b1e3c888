// The listening side of the broker: 127.0.0.1 only, every connection served on one thread
// by an Asio event loop, each with a simulated cable of its own. A conversation is a
// coroutine that waits in the loop, not in a thread, so an idle client costs a descriptor
// and a few kilobytes, and a client that stalls holds up nobody: the loop serves whoever
// is ready.
//
// At the limit (the descriptors the process may open, or --max-connections) a newcomer
// still gets in: the connection that has waited longest between commands is closed to
// make room. Only when every connection is in the middle of a command is the newcomer
// closed at once.
//
// The server stops when asked, or by itself after a spell with no connection at all: a
// broker that the client library started has nobody to stop it. A failure inside a
// conversation ends that conversation alone; one of the listener's or the idle exit's own
// stops the server, since a broker that no longer accepts must not stay.
#ifndef BROKER_SERVER_H
#define BROKER_SERVER_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "broker/cable/jtag_device.h"
#include "broker/cable/simulated_cable.h"
#include "broker/serving/fault_plan.h"
#include "broker/serving/replay.h"
#include "broker/serving/timeouts.h"
#include "broker/serving/trace.h"

namespace broker {

struct ServerConfig {
  std::uint16_t port = 4001;  // 0: any free port, see Server::port()
  int maxConnections = 0;     // 0: as many as the process may open descriptors for
  int idleExitSeconds = 300;  // 0: never
  // What all conversations together may hold for the data of their transfers; a transfer
  // that would take more is refused at its header.
  int memoryBudgetMiB = 48;
  std::vector<DeviceDescription> chain;
  FlashSizes flash;
  FaultPlan faults;
  Timeouts timeouts;
  // Set: every connection is served from this recording instead of the simulated cable,
  // and the server stops once it has served every recorded conversation.
  std::shared_ptr<Replay> replay;
};

class Server {
 public:
  Server(ServerConfig config, const Trace& trace);
  // Stops a run() in progress on another thread and waits for it to return: the loop and
  // the destructor must never take the same conversations down at once.
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens; false with `error` set when that fails. A taken port leaves errno
  // at EADDRINUSE, so that the caller can say who holds it.
  bool listen(std::string& error);
  std::uint16_t port() const { return port_; }
  // SIGINT and SIGTERM stop the server (the program's choice; tests stop it themselves).
  void stopOnSignals();
  // Serves until stop() or the idle limit; every connection is closed when it returns.
  void run();
  // May be called from any thread.
  void stop();
  int openConnections() const { return open_; }
  // The server stopped because something of its own failed (not a conversation, which
  // fails alone): accepting connections, or the idle exit.
  bool failed() const { return failed_; }

 private:
  struct Loop;
  struct Connection;

  ServerConfig config_;
  const Trace& trace_;
  std::unique_ptr<Loop> loop_;  // Asio's side, kept out of this header
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex running_;  // held by run() from start to end
  std::atomic<int> open_{0};
  std::atomic<bool> failed_{false};
};

}  // namespace broker

#endif  // BROKER_SERVER_H
