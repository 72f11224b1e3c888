// The benchmark's counterpart on the wire: a broker inside the benchmark process on
// 127.0.0.1:4001 that answers the commands the suite sends as quickly as the loopback
// allows, so that the figures show the client's cost and not a simulated cable's. One
// thread serves the library and the bare-socket baseline alike, several connections at
// once, a whole command at a time.
//
// What it answers: the introduction with "+" and NUL; a command token with the loose reply
// "+" and NUL; every int token and data block that takes a strict acknowledgement with "+"
// and NUL; a request token after a command with the decimal answer 0; a request token on
// its own (a Read) with a ";"-separated list of kListAnswerBytes bytes, NUL included;
// command 4's query and command 33 with the grant 1. Scans (commands 19, 42, and 44 with
// function 12) read their data and send their read-back as the protocol lays it out.
#ifndef BENCH_FAST_BROKER_H
#define BENCH_FAST_BROKER_H

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

class FastBroker {
 public:
  static constexpr int kPort = 4001;
  static constexpr int kListAnswerBytes = 1000;
  static constexpr int kListItems = 111;  // "itemNNNN;" 111 times, then the NUL

  FastBroker() = default;
  ~FastBroker() { stop(); }
  FastBroker(const FastBroker&) = delete;
  FastBroker& operator=(const FastBroker&) = delete;

  // Listens, retrying while another program holds the port, for at most `patience`.
  // Returns an empty text, or why it could not listen.
  std::string start(std::chrono::milliseconds patience);
  // Whether the last start() or retakePort() found the port held by another program.
  bool portTaken() const { return portTaken_; }
  // Closes the port and every connection. Safe to call twice.
  void stop();
  // Lets another broker listen on the port for a while; the connections made so far are
  // still served. retakePort() listens again, with the same patience as start().
  void releasePort();
  std::string retakePort(std::chrono::milliseconds patience);

  // The broker as a process of its own, the way tapbroker.exe runs: serves until SIGTERM;
  // SIGUSR1 releases the port. The process's exit status.
  static int serveAsProcess();
  // The option that makes the benchmark program run serveAsProcess() instead of the suite.
  static constexpr const char* kProcessOption = "--tapbroker_minimal_broker_process";

 private:
  std::string listen(std::chrono::milliseconds patience);
  void serve();

  std::atomic<int> listener_{-1};
  std::atomic<bool> stopping_{false};
  bool portTaken_ = false;
  std::thread thread_;
};

#endif  // BENCH_FAST_BROKER_H
