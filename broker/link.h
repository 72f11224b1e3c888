// One connection's byte stream, read the way the conversation needs it: a token up to its
// NUL, or exactly so many raw bytes, never more. Bytes that arrive early (a client may send
// two request tokens in a row) wait in a small buffer for the next read. Anything that ends
// the conversation (the client leaves, a timeout, a token too long, the broker stopping)
// throws LinkClosed, which the session catches.
#ifndef BROKER_LINK_H
#define BROKER_LINK_H

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "broker/trace.h"

namespace broker {

struct LinkClosed {
  std::string reason;
  bool orderly = false;  // the client closed between commands
};

struct Timeouts {
  int transferMs = 30000;  // waiting for the rest of something begun, or for a send to go
  int pollMs = 250;        // how often a waiting read looks at the stop flag
};

class Link {
 public:
  // The longest token with its NUL: the client's buffers hold 1024 bytes.
  static constexpr std::size_t kMaxToken = 1024;

  Link(int fd, int id, const Trace& trace, const std::atomic<bool>& stopping,
       Timeouts timeouts);

  int id() const { return id_; }
  const Trace& trace() const { return trace_; }

  // One token, without its NUL. `betweenCommands`: the client may take its time. An empty
  // `meaning` leaves the transcript line to the caller, who knows more once it has looked.
  std::string readToken(std::string_view meaning, bool betweenCommands = false);
  void readExact(std::uint8_t* out, std::size_t length, std::string_view meaning);
  // The request token ("+" and NUL) that the conversation is due; anything else is a
  // client out of step, and ends the conversation.
  void readRequest(std::string_view meaning);

  void send(const void* data, std::size_t length, std::string_view meaning);
  void sendText(std::string_view text, std::string_view meaning);  // the text and a NUL
  void acknowledge(std::string_view meaning);                      // "+" and NUL
  void refuse(std::string_view meaning);                           // "-" and NUL

 private:
  // One receive into the buffer; throws when nothing can come.
  void fill(bool betweenCommands);
  std::size_t buffered() const { return end_ - begin_; }

  int fd_;
  int id_;
  const Trace& trace_;
  const std::atomic<bool>& stopping_;
  Timeouts timeouts_;
  std::array<std::uint8_t, 4 * kMaxToken> in_{};
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

}  // namespace broker

#endif  // BROKER_LINK_H
