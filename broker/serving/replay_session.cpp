#include "broker/serving/replay_session.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>

#include "common/printable.h"
#include "broker/serving/trace.h"

namespace broker {
namespace {

// Beyond this many bytes a line is a data block: a difference in it is shown as its place
// and a few bytes around it, not as the whole block.
constexpr std::size_t kWholeLine = 48;
constexpr std::size_t kContext = 4;

const std::string kRequest("+\0", 2);

std::string described(const std::string& bytes) {
  return describeBytes(bytes.data(), bytes.size(), bytes.size());
}

// The bytes of `block` around `at` in hex, the one at `at` in brackets (absent when the
// block ends before it).
std::string around(const std::string& block, std::size_t at) {
  const std::size_t first = at > kContext ? at - kContext : 0;
  const std::size_t last = std::min(block.size(), at + kContext + 1);
  std::string out = first > 0 ? "... " : "";
  char piece[8];
  for (std::size_t i = first; i < last; ++i) {
    std::snprintf(piece, sizeof piece, i == at ? "[%02x] " : "%02x ",
                  static_cast<unsigned char>(block[i]));
    out += piece;
  }
  if (at >= block.size()) out += "[end] ";
  out += last < block.size() ? "..." : "(end)";
  return out;
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
    std::size_t connection = 0;
    const tapbroker::transcript::Conversation* conversation =
        replay_.take(name, number, count, connection);
    if (!conversation) {
      replay_.refused();
      trace.problem(link_.id(), "refused: the transcript holds " + std::to_string(count) +
                                    " conversation" + (count == 1 ? "" : "s") + " of " +
                                    described(name) + ", this is the " +
                                    printable::ordinal(connection) + " connection of that name");
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
  // A command's number is the client's first token after the answer to a request (or to
  // the introduction): the byte-level walk keeps it only to say where a difference lies.
  bool introduced = false, requested = false, commandDue = false;
  command_.clear();
  for (const tapbroker::transcript::Line& line : conversation.lines) {
    lastLine = line.number;
    const std::string meaning = "line " + std::to_string(line.number);
    if (line.direction == tapbroker::transcript::Direction::ToClient) {
      commandDue = commandDue || requested || !introduced;
      introduced = true;
      if (line.bytes.empty()) {
        trace.note(link_.id(), "closes the connection, as recorded at " + meaning);
        co_return true;
      }
      co_await link_.send(line.bytes.data(), line.bytes.size(), meaning);
      continue;
    }
    // A send that failed moved nothing.
    if (line.bytes.empty()) continue;
    requested = line.bytes == kRequest;
    if (commandDue && !requested) {
      command_ = "command " + line.bytes.substr(0, line.bytes.find('\0')) + " (line " +
                 std::to_string(line.number) + ")";
    }
    commandDue = false;
    std::string came;
    try {
      co_await receive(line.bytes, taken, came);
    } catch (const LinkClosed& closed) {
      trace.exchange(link_.id(), Trace::Direction::Received, came.data(), came.size(), meaning);
      differs(line.number, line.bytes, came, ", then " + closed.reason);
      co_return false;
    }
    trace.exchange(link_.id(), Trace::Direction::Received, came.data(), came.size(), meaning);
    if (came != line.bytes) {
      differs(line.number, line.bytes, came);
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
  std::string where = "line " + std::to_string(line) + ", byte " + std::to_string(at + 1);
  std::string what = "expected " + described(expected) + ", came " + described(came);
  if (expected.size() > kWholeLine) {
    where += " of " + std::to_string(expected.size());
    if (!command_.empty()) where += ", in the data of " + command_;
    what = "expected " + around(expected, at) + ", came " + around(came, at);
  }
  link_.trace().problem(link_.id(),
                        "replay of " + conversation_ + " differs at " + where + ": " + what + then);
}

}  // namespace broker
