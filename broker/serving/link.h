// One connection's byte stream, read the way the conversation needs it: a token up to its
// NUL, or exactly so many raw bytes, never more. Every wait is an Asio operation that
// suspends the conversation's coroutine, so one thread serves every conversation and a
// client that stalls holds up nobody. A token is read with Asio's read_until over a
// buffer capped at the longest token, an exact count with its read; bytes that arrive
// early (a client may send two request tokens in a row) wait there for the next read. Anything that ends
// the conversation (the client leaves, a timeout, a token too long, the broker stopping)
// throws LinkClosed, which the session catches.
//
// When the broker records, the link taps every unit it moves (a token with its NUL, a
// block, a send) into the conversation's block, so no caller can leave a line out.
#ifndef BROKER_LINK_H
#define BROKER_LINK_H

#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "broker/serving/timeouts.h"
#include "broker/serving/trace.h"
#include "transcript/record_file.h"

namespace broker {

using Clock = std::chrono::steady_clock;

class Recording;

// The conversation is over: `reason` says why.
class LinkClosed : public std::exception {
 public:
  explicit LinkClosed(std::string reason, bool orderly = false)
      : reason(std::move(reason)), orderly(orderly) {}
  const char* what() const noexcept override { return reason.c_str(); }

  std::string reason;
  bool orderly;  // the client closed between commands
};

// What a token means, for the trace: a text, or one that depends on the token itself (the
// token between commands is a request, a command or garbage). Worked out only when traced.
struct Meaning {
  Meaning(const char* text) : text(text) {}
  Meaning(std::string_view text) : text(text) {}
  Meaning(std::string (*of)(std::string_view token)) : of(of) {}
  std::string_view text;
  std::string (*of)(std::string_view token) = nullptr;
};

class Link {
 public:
  // The longest token with its NUL: the client's buffers hold 1024 bytes.
  static constexpr std::size_t kMaxToken = 1024;

  Link(asio::ip::tcp::socket socket, int id, const Trace& trace, Timeouts timeouts);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  int id() const { return id_; }
  const Trace& trace() const { return trace_; }

  // --- The conversation's side ---------------------------------------------------------

  // One token, without its NUL. `betweenCommands`: the client may take its time.
  asio::awaitable<std::string> readToken(Meaning meaning, bool betweenCommands = false);
  asio::awaitable<void> readExact(std::uint8_t* out, std::size_t length, std::string_view meaning);
  // Up to `most` bytes, at least one, as they come, without a trace line: a replay
  // compares them as they arrive. `mayWait` as `betweenCommands` above.
  asio::awaitable<std::size_t> readSome(std::uint8_t* out, std::size_t most, bool mayWait);
  // The request token ("+" and NUL) that the conversation is due; anything else is a
  // client out of step, and ends the conversation.
  asio::awaitable<void> readRequest(std::string_view meaning);

  asio::awaitable<void> send(const void* data, std::size_t length, std::string_view meaning);
  // The text and a NUL.
  asio::awaitable<void> sendText(std::string_view text, std::string_view meaning);
  asio::awaitable<void> acknowledge(std::string_view meaning);  // "+" and NUL
  asio::awaitable<void> refuse(std::string_view meaning);       // "-" and NUL
  // Waits `delay` without reading or answering (a fault plan's delayed answer).
  asio::awaitable<void> pause(std::chrono::milliseconds delay);

  // --- The server's side ---------------------------------------------------------------

  // Starts the watch over the clocks: a client silent in the middle of an exchange, or
  // taking nothing in, for the transfer timeout loses its connection. `owner` is kept
  // alive while the watch waits; close() ends the watch.
  void watchClocks(std::shared_ptr<void> owner);
  // Ends the conversation where it waits, with `reason`; the descriptor closes at once.
  void fail(std::string reason);
  // The conversation is over: the socket closes, the watch ends and the recording, if
  // any, takes the conversation's block.
  void close();
  // Waiting for the client at a point where it may take its time (between commands,
  // before the introduction): the connections a newcomer may displace at the limit.
  bool idle() const { return waiting_ == Wait::Input && mayWait_; }
  Clock::time_point waitingSince() const { return since_; }
  // In the middle of a command that has completed no token or block for the progress
  // timeout: at the limit such a connection may make room too.
  bool stalled(Clock::time_point now) const;
  Clock::time_point progressSince() const { return progress_; }

 private:
  enum class Wait { Nothing, Input, Output, Time };
  // Runs `read` (one of Asio's reads, given its completion token) on the clocks, as a wait
  // where the client may take its time or not; what it read. Throws when the client has
  // closed (`orderly`: between commands) or the conversation has been ended from outside.
  template <class Read>
  asio::awaitable<std::size_t> input(bool mayWait, bool orderly, Read read);
  // Up to `most` of the bytes read ahead, into `out`; how many.
  std::size_t takeAhead(std::uint8_t* out, std::size_t most);
  // Throws when the conversation has been ended from outside.
  void check() const;
  // When the watch must look next.
  Clock::time_point nextLook(Clock::time_point now) const;
  // Why the client has run out of time now; empty while it has not.
  std::string overdue(Clock::time_point now) const;
  // One unit moved, into the recording; the first one received names the conversation.
  void tap(bool received, const void* data, std::size_t length);

  asio::ip::tcp::socket socket_;
  asio::steady_timer watch_;
  asio::steady_timer pause_;
  int id_;
  const Trace& trace_;
  Timeouts timeouts_;
  // What a token's read brought beyond its NUL, for the next read: at most kMaxToken.
  std::string ahead_;
  std::string failure_;
  bool closed_ = false;
  Wait waiting_ = Wait::Nothing;
  bool mayWait_ = false;
  Clock::time_point since_;
  bool busy_ = false;  // in the middle of something the client has begun
  Clock::time_point busySince_;
  Clock::time_point progress_;  // when the last token or block came whole
  Recording* const recording_;
  bool tapped_ = false;  // the conversation's first unit has come
  std::optional<tapbroker::transcript::PendingBlock> block_;
};

}  // namespace broker

#endif  // BROKER_LINK_H
