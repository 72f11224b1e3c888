// One connection of a replay: the client's introduction picks its recorded conversation,
// then the session walks it line by line. For a `>` line it reads exactly as many bytes as
// the line holds and compares them as they arrive; for a `<` line it sends the recorded
// bytes (`< ""`, a receive that found the connection closed, closes it). At the first byte
// that differs it says where on standard error and closes the connection. Byte-level
// throughout: neither the simulated cable nor the protocol table takes part.
#ifndef BROKER_REPLAY_SESSION_H
#define BROKER_REPLAY_SESSION_H

#include <asio/awaitable.hpp>
#include <string>

#include "broker/serving/link.h"
#include "broker/serving/replay.h"

namespace broker {

class ReplaySession {
 public:
  ReplaySession(Link& link, Replay& replay) : link_(link), replay_(replay) {}
  ReplaySession(const ReplaySession&) = delete;
  ReplaySession& operator=(const ReplaySession&) = delete;

  // Serves the connection until the conversation ends or departs from the recording.
  // Never throws.
  asio::awaitable<void> run();

 private:
  // Walks the exchanges; true when every one went as recorded. `taken`: bytes of the
  // stream already read (the introduction).
  asio::awaitable<bool> play(const tapbroker::transcript::Conversation& conversation,
                             std::string taken);
  // Reads the client's bytes for `expected`, as far as they agree with it, into `came`.
  asio::awaitable<void> receive(const std::string& expected, std::string& taken,
                                std::string& came);
  // The one line that says where the client parted from the recording.
  void differs(int line, const std::string& expected, const std::string& came,
               const std::string& then = {}) const;

  Link& link_;
  Replay& replay_;
  std::string conversation_;  // "conversation K ("NAME", line L)", for the messages
  std::string command_;       // "command N (line L)": the command the client is in
};

}  // namespace broker

#endif  // BROKER_REPLAY_SESSION_H
