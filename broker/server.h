// The listening side of the broker: 127.0.0.1 only, one thread per connection up to a cap
// (beyond it a connection is closed at once), each connection with a simulated cable of its
// own. The server stops when asked, or by itself after a spell with no connection at all:
// a broker that the client library started has nobody to stop it.
#ifndef BROKER_SERVER_H
#define BROKER_SERVER_H

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "broker/jtag_device.h"
#include "broker/link.h"
#include "broker/trace.h"

namespace broker {

struct ServerConfig {
  std::uint16_t port = 4001;  // 0: any free port, see Server::port()
  int maxConnections = 64;
  int idleExitSeconds = 300;  // 0: never
  std::vector<DeviceDescription> chain;
  Timeouts timeouts;
};

class Server {
 public:
  Server(ServerConfig config, const Trace& trace);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens; false with `error` set when that fails (the port taken, say).
  bool listen(std::string& error);
  std::uint16_t port() const { return port_; }
  // Serves until stop() or the idle limit; every connection is closed when it returns.
  void run();
  // May be called from any thread or a signal handler.
  void stop() { stopping_ = true; }
  int openConnections() const { return open_; }

 private:
  struct Worker {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void accept();
  void serve(Worker& worker, int id);
  void reap(bool all);

  ServerConfig config_;
  const Trace& trace_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> open_{0};
  int nextId_ = 1;
  std::list<std::unique_ptr<Worker>> workers_;
};

}  // namespace broker

#endif  // BROKER_SERVER_H
