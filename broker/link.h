// One connection's byte stream, read the way the conversation needs it: a token up to its
// NUL, or exactly so many raw bytes, never more. The socket is non-blocking: a read that
// finds too little in the buffer, or a send that the socket cannot take yet, suspends the
// conversation until the event loop hands it more (receive, writable) or gives up on it
// (fail). Bytes that arrive early (a client may send two request tokens in a row) wait in
// a small buffer for the next read. Anything that ends the conversation (the client
// leaves, a timeout, a token too long, the broker stopping) throws LinkClosed, which the
// session catches.
#ifndef BROKER_LINK_H
#define BROKER_LINK_H

#include <array>
#include <atomic>
#include <chrono>
#include <coroutine>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "broker/task.h"
#include "broker/trace.h"

namespace broker {

using Clock = std::chrono::steady_clock;

struct LinkClosed {
  std::string reason;
  bool orderly = false;  // the client closed between commands
};

struct Timeouts {
  int transferMs = 30000;  // waiting for the rest of something begun, or for a send to go
  int pollMs = 250;        // how often the event loop looks at the clocks of its links
};

class Link {
 public:
  // The longest token with its NUL: the client's buffers hold 1024 bytes.
  static constexpr std::size_t kMaxToken = 1024;
  // A lone conversation waits this long in its own receive before it waits in the event
  // loop: one system call where the loop takes two, and the lock-step client's next bytes
  // usually come within it. A newcomer then waits at most this long to be served.
  static constexpr int kAloneWaitMs = 2;

  // Takes over `fd` and closes it when destroyed. `epoll` is the event loop's, where the
  // descriptor is registered for input with `owner` as its data; `conversations` counts
  // the loop's connections. The socket blocks, with a receive timeout of kAloneWait: the
  // loop's own receives and sends never wait (MSG_DONTWAIT).
  Link(int fd, int epoll, void* owner, int id, const Trace& trace, Timeouts timeouts,
       const std::atomic<int>& conversations);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  int id() const { return id_; }
  const Trace& trace() const { return trace_; }

  // --- The conversation's side ---------------------------------------------------------

  // One token, without its NUL. `betweenCommands`: the client may take its time. An empty
  // `meaning` leaves the transcript line to the caller, who knows more once it has looked.
  Task<std::string> readToken(std::string_view meaning, bool betweenCommands = false);
  Task<void> readExact(std::uint8_t* out, std::size_t length, std::string_view meaning);
  // The request token ("+" and NUL) that the conversation is due; anything else is a
  // client out of step, and ends the conversation.
  Task<void> readRequest(std::string_view meaning);

  Task<void> send(const void* data, std::size_t length, std::string_view meaning);
  Task<void> sendText(std::string_view text, std::string_view meaning);  // the text and a NUL
  Task<void> acknowledge(std::string_view meaning);                      // "+" and NUL
  Task<void> refuse(std::string_view meaning);                           // "-" and NUL
  // Waits `delay` without reading or answering (a fault plan's delayed answer).
  Task<void> pause(std::chrono::milliseconds delay);

  // --- The event loop's side -----------------------------------------------------------

  // The socket is readable (or hung up): takes what it holds into the buffer.
  void receive();
  // The socket takes sends again.
  void writable();
  // Ends the conversation where it waits, with `reason`; the descriptor closes at once.
  void fail(std::string reason);
  // Gives up on a client silent in the middle of an exchange or taking nothing in, and
  // ends a pause that is due. The next moment something here is due, or Clock::time_point::max().
  Clock::time_point checkClocks(Clock::time_point now);
  // Waiting for the client at a point where it may take its time (between commands,
  // before the introduction): the connections a newcomer may displace at the limit.
  bool idle() const { return waiting_ == Wait::Input && mayWait_; }
  Clock::time_point waitingSince() const { return since_; }
  // When a pause ends, or Clock::time_point::max() when none runs.
  Clock::time_point dueAt() const {
    return waiting_ == Wait::Time ? wakeAt_ : Clock::time_point::max();
  }
  bool waiting() const { return waiting_ != Wait::Nothing; }

 private:
  enum class Wait { Nothing, Input, Output, Time };
  struct Suspend {
    Link& link;
    Wait wait;
    bool ready;
    bool await_ready() const noexcept { return ready; }
    void await_suspend(std::coroutine_handle<> waiter) noexcept;
    void await_resume() const;
  };
  // Waits for more input; throws when none can come.
  Suspend more(bool mayWait);
  void resume();
  // One receive into the buffer; `wait`: up to kAloneWaitMs. False when nothing came.
  bool take(bool wait);
  void watch(bool input, bool output);
  std::size_t buffered() const { return end_ - begin_; }

  int fd_;
  int epoll_;
  void* owner_;
  int id_;
  const Trace& trace_;
  Timeouts timeouts_;
  const std::atomic<int>& conversations_;
  std::array<std::uint8_t, 4 * kMaxToken> in_{};
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool ended_ = false;  // the client closed its side
  std::string failure_;
  std::coroutine_handle<> waiter_;
  Wait waiting_ = Wait::Nothing;
  bool mayWait_ = false;
  Clock::time_point since_;
  Clock::time_point wakeAt_;
  bool watchingInput_ = true;
  bool watchingOutput_ = false;
};

}  // namespace broker

#endif  // BROKER_LINK_H
