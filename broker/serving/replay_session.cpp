#include "broker/serving/replay_session.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>

#include "common/printable.h"
#include "broker/serving/trace.h"

namespace broker {
namespace {


std::string described(const std::string& bytes) {
  return describeBytes(bytes.data(), bytes.size(), bytes.size());
}

}  // namespace

asio::awaitable<void> ReplaySession::run() {
  const Trace& trace = link_.trace();
  bool taken = false;
  try {
    const std::string name = co_await link_.readToken("introduction: the client's name", true);
    std::string introduction = name + '\0';
    int number = 0;
    std::size_t count = 0;
    const tapbroker::transcript::Conversation* conversation = replay_.take(name, number, count);
    if (!conversation) {
      replay_.refused();
      trace.problem(link_.id(), "refused: the transcript holds " + std::to_string(count) +
                                    " conversation" + (count == 1 ? "" : "s") + " of " +
                                    described(name) + ", this is the " +
                                    printable::ordinal(count + 1) + " connection of that name");
      co_return;
    }
    taken = true;
    conversation_ = "conversation " + std::to_string(number) + " (" + described(name) +
                    ", line " + std::to_string(conversation->line) + ")";
    trace.note(link_.id(), "replays " + conversation_);
    const bool asRecorded = co_await play(*conversation, std::move(introduction));
    replay_.finished(asRecorded);
  } catch (const LinkClosed& closed) {
    // Before its introduction a connection takes no conversation: a probe of the port.
    if (taken) {
      trace.problem(link_.id(), conversation_ + ": connection closed: " + closed.reason);
      replay_.finished(false);
    }
  } catch (const std::exception& error) {
    trace.problem(link_.id(), "connection closed: " + std::string(error.what()));
    if (taken) replay_.finished(false);
  }
}

asio::awaitable<bool> ReplaySession::play(
    const tapbroker::transcript::Conversation& conversation, std::string taken) {
  const Trace& trace = link_.trace();
  int lastLine = conversation.line;
  for (const tapbroker::transcript::Exchange& exchange : conversation.exchanges) {
    lastLine = exchange.line;
    const std::string meaning = "line " + std::to_string(exchange.line);
    if (exchange.direction == tapbroker::transcript::Direction::ToClient) {
      if (exchange.bytes.empty()) {
        trace.note(link_.id(), "closes the connection, as recorded at " + meaning);
        co_return true;
      }
      co_await link_.send(exchange.bytes.data(), exchange.bytes.size(), meaning);
      continue;
    }
    // A send that failed moved nothing.
    if (exchange.bytes.empty()) continue;
    std::string came;
    try {
      co_await receive(exchange.bytes, taken, came);
    } catch (const LinkClosed& closed) {
      trace.exchange(link_.id(), Trace::Direction::Received, came.data(), came.size(), meaning);
      differs(exchange.line, exchange.bytes, came, ", then " + closed.reason);
      co_return false;
    }
    trace.exchange(link_.id(), Trace::Direction::Received, came.data(), came.size(), meaning);
    if (came != exchange.bytes) {
      differs(exchange.line, exchange.bytes, came);
      co_return false;
    }
  }
  // The recording ends here: the client's part is to leave.
  std::array<std::uint8_t, 64> more;
  std::size_t got = 0;
  try {
    got = co_await link_.readSome(more.data(), more.size(), true);
  } catch (const LinkClosed&) {
    trace.note(link_.id(), conversation_ + " replayed to its end");
    co_return true;
  }
  const std::string extra(reinterpret_cast<const char*>(more.data()), got);
  trace.exchange(link_.id(), Trace::Direction::Received, extra.data(), extra.size(),
                 "beyond the recording");
  trace.problem(link_.id(), "replay of " + conversation_ + " differs after line " +
                                std::to_string(lastLine) +
                                ": expected the client to leave, came " + described(extra));
  co_return false;
}

asio::awaitable<void> ReplaySession::receive(const std::string& expected, std::string& taken,
                                             std::string& came) {
  const std::size_t early = std::min(taken.size(), expected.size());
  came.assign(taken, 0, early);
  taken.erase(0, early);
  std::array<std::uint8_t, 1024> piece;
  // Only as far as the bytes agree: a client that has parted from the recording is told
  // at once, not after the rest of the line's length has come.
  while (came.size() < expected.size() && expected.compare(0, came.size(), came) == 0) {
    const std::size_t most = std::min(piece.size(), expected.size() - came.size());
    const std::size_t got = co_await link_.readSome(piece.data(), most, came.empty());
    came.append(reinterpret_cast<const char*>(piece.data()), got);
  }
}

void ReplaySession::differs(int line, const std::string& expected, const std::string& came,
                            const std::string& then) const {
  std::size_t at = 0;
  while (at < expected.size() && at < came.size() && expected[at] == came[at]) ++at;
  link_.trace().problem(link_.id(), "replay of " + conversation_ + " differs at line " +
                                        std::to_string(line) + ", byte " +
                                        std::to_string(at + 1) + ": expected " +
                                        described(expected) + ", came " + described(came) + then);
}

}  // namespace broker
