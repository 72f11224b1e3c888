// Drives the broker the way a client does, from raw sockets: a broker served in-process on
// a port of its own, and a small client that sends tokens and reads exact byte counts, so
// that each test reads like the wire.
#ifndef TESTS_BROKER_BROKER_HARNESS_H
#define TESTS_BROKER_BROKER_HARNESS_H

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "broker/serving/server.h"
#include "broker/serving/trace.h"
#include "tests/support/loopback.h"
#include "tests/support/wire_bytes.h"

// A broker in this process, listening on a free port; stopped when destroyed.
class RunningBroker {
 public:
  // With a `sink`, every line of the trace goes there, exchanges too.
  explicit RunningBroker(broker::ServerConfig config = defaults(),
                         broker::Trace::Sink sink = {});
  ~RunningBroker();

  static broker::ServerConfig defaults();
  std::uint16_t port() const { return server_->port(); }
  int openConnections() const { return server_->openConnections(); }
  bool failed() const { return server_->failed(); }

 private:
  std::unique_ptr<broker::Trace> trace_;
  std::unique_ptr<broker::Server> server_;
  std::thread thread_;
};

class WireClient : public loopback::Connection {
 public:
  using Connection::Connection;

  // The conversation's steps: each returns what the broker answered.
  std::string strict(const std::string& text);  // a token and its 2-byte acknowledgement
  std::string introduce(const std::string& name = "test client") { return strict(name); }
  std::string command(int number) { return strict(number); }  // the token and its reply
  std::string strict(int value) { return strict(std::to_string(value)); }
  std::string answer();  // the request token and a text up to its NUL
  int answerInt() { return std::stoi(answer()); }
};

#endif  // TESTS_BROKER_BROKER_HARNESS_H
