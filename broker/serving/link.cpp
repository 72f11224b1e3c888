#include "broker/serving/link.h"

#include <algorithm>
#include <asio/read.hpp>
#include <asio/read_until.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>
#include <cstring>

#include "broker/serving/recording.h"

namespace broker {
namespace {

constexpr auto kAwait = asio::use_awaitable;

}  // namespace

Link::Link(asio::ip::tcp::socket socket, int id, const Trace& trace, Timeouts timeouts)
    : socket_(std::move(socket)),
      watch_(socket_.get_executor()),
      pause_(socket_.get_executor()),
      id_(id),
      trace_(trace),
      timeouts_(timeouts),
      recording_(trace.recording()) {
  std::error_code ignored;
  socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
  // Sends are tried at once and wait in the event loop only for what the socket cannot
  // take (see send).
  socket_.non_blocking(true, ignored);
}

Link::~Link() { close(); }

void Link::check() const {
  if (!failure_.empty()) throw LinkClosed(failure_);
}

void Link::tap(bool received, const void* data, std::size_t length) {
  if (!recording_) return;
  if (!tapped_) {
    // A connection that sends nothing (a probe of the port) leaves no block.
    if (!received) return;
    tapped_ = true;
    const std::string_view bytes(static_cast<const char*>(data), length);
    block_ = recording_->begin(bytes.substr(0, bytes.find('\0')));
  }
  if (block_) {
    block_->exchange(received ? tapbroker::transcript::Direction::ToBroker
                              : tapbroker::transcript::Direction::ToClient,
                     data, length);
  }
}

template <class Read>
asio::awaitable<std::size_t> Link::input(bool mayWait, bool orderly, Read read) {
  check();
  mayWait_ = mayWait;
  waiting_ = Wait::Input;
  since_ = Clock::now();
  if (mayWait) {
    busy_ = false;
  } else if (!busy_) {
    busy_ = true;
    busySince_ = progress_ = since_;
    // The watch looks again when the command's deadline comes before its next look.
    if (nextLook(since_) < watch_.expiry()) watch_.cancel();
  }
  // Asio tries the receive at once before it waits for the socket, so bytes already there
  // cost one system call, as a blocking receive would.
  std::error_code error;
  const std::size_t got = co_await read(asio::redirect_error(kAwait, error));
  waiting_ = Wait::Nothing;
  check();
  // A token's buffer full without its NUL is the caller's to judge.
  if (error && error != asio::error::not_found) {
    // Leaving between commands is how a client says goodbye; inside one it is a drop.
    throw LinkClosed("the client closed the connection", orderly);
  }
  co_return got;
}

std::size_t Link::takeAhead(std::uint8_t* out, std::size_t most) {
  const std::size_t take = std::min(ahead_.size(), most);
  std::memcpy(out, ahead_.data(), take);
  ahead_.erase(0, take);
  return take;
}

asio::awaitable<std::string> Link::readToken(Meaning meaning, bool betweenCommands) {
  if (betweenCommands) busy_ = false;
  const auto buffer = [this] { return asio::dynamic_buffer(ahead_, kMaxToken); };
  if (betweenCommands && ahead_.empty()) {
    co_await input(true, true, [&](auto token) {
      return asio::async_read(socket_, buffer(), asio::transfer_at_least(1), token);
    });
  }
  std::size_t nul = ahead_.find('\0');
  if (nul == std::string::npos) {
    // Once part of a token is here, the rest is due.
    co_await input(false, false, [&](auto token) {
      return asio::async_read_until(socket_, buffer(), '\0', token);
    });
    nul = ahead_.find('\0');
  }
  const std::size_t moved = nul == std::string::npos ? ahead_.size() : nul + 1;
  std::string token = ahead_.substr(0, std::min(nul, moved));
  tap(true, ahead_.data(), moved);
  if (trace_.tracing()) {
    trace_.exchange(id_, Trace::Direction::Received, ahead_.data(), moved,
                    meaning.of ? meaning.of(token) : std::string(meaning.text));
  }
  ahead_.erase(0, moved);
  if (nul == std::string::npos) {
    throw LinkClosed("a token without NUL within " + std::to_string(kMaxToken) + " bytes");
  }
  if (busy_) progress_ = Clock::now();
  co_return token;
}

asio::awaitable<void> Link::readExact(std::uint8_t* out, std::size_t length,
                                      std::string_view meaning) {
  const std::size_t done = takeAhead(out, length);
  if (done < length) {
    co_await input(false, false, [&](auto token) {
      return asio::async_read(socket_, asio::buffer(out + done, length - done), token);
    });
  }
  if (busy_) progress_ = Clock::now();
  tap(true, out, length);
  trace_.exchange(id_, Trace::Direction::Received, out, length, meaning);
}

asio::awaitable<std::size_t> Link::readSome(std::uint8_t* out, std::size_t most,
                                            bool mayWait) {
  if (mayWait) busy_ = false;
  std::size_t take = takeAhead(out, most);
  if (take == 0) {
    take = co_await input(mayWait, mayWait, [&](auto token) {
      return socket_.async_read_some(asio::buffer(out, most), token);
    });
  }
  if (busy_) progress_ = Clock::now();
  tap(true, out, take);
  co_return take;
}

asio::awaitable<void> Link::readRequest(std::string_view meaning) {
  const std::string token = co_await readToken(meaning);
  if (token != "+") {
    throw LinkClosed("expected the request token, got " +
                     describeBytes(token.data(), token.size()));
  }
}

asio::awaitable<void> Link::send(const void* data, std::size_t length, std::string_view meaning) {
  tap(false, data, length);
  trace_.exchange(id_, Trace::Direction::Sent, data, length, meaning);
  check();
  // An answer almost always fits the socket's buffer: sent at once, it needs no trip
  // through the event loop.
  std::error_code error;
  std::size_t done = socket_.send(asio::buffer(data, length), 0, error);
  if (error == asio::error::would_block || error == asio::error::try_again) {
    error.clear();
    done = 0;
  }
  if (!error && done < length) {
    waiting_ = Wait::Output;
    since_ = Clock::now();
    co_await asio::async_write(
        socket_, asio::buffer(static_cast<const std::uint8_t*>(data) + done, length - done),
        asio::redirect_error(kAwait, error));
    waiting_ = Wait::Nothing;
  }
  check();
  if (error) throw LinkClosed(error.message());
}

asio::awaitable<void> Link::sendText(std::string_view text, std::string_view meaning) {
  std::string bytes(text);
  bytes += '\0';
  co_await send(bytes.data(), bytes.size(), meaning);
}

asio::awaitable<void> Link::acknowledge(std::string_view meaning) {
  return send("+", 2, meaning);
}

asio::awaitable<void> Link::refuse(std::string_view meaning) { return send("-", 2, meaning); }

asio::awaitable<void> Link::pause(std::chrono::milliseconds delay) {
  check();
  pause_.expires_after(delay);
  waiting_ = Wait::Time;
  std::error_code cancelled;
  co_await pause_.async_wait(asio::redirect_error(kAwait, cancelled));
  waiting_ = Wait::Nothing;
  check();
}

bool Link::stalled(Clock::time_point now) const {
  return busy_ && waiting_ != Wait::Time &&
         now - progress_ >= std::chrono::milliseconds(timeouts_.progressMs);
}

Clock::time_point Link::nextLook(Clock::time_point now) const {
  const auto patience = std::chrono::milliseconds(timeouts_.transferMs);
  const bool onTheClock = (waiting_ == Wait::Input && !mayWait_) || waiting_ == Wait::Output;
  const auto next = onTheClock ? since_ + patience : now + patience;
  return busy_ ? std::min(next, busySince_ + std::chrono::milliseconds(timeouts_.commandMs))
               : next;
}

std::string Link::overdue(Clock::time_point now) const {
  if (now < nextLook(now)) return {};
  if (busy_ && now - busySince_ >= std::chrono::milliseconds(timeouts_.commandMs)) {
    return "the command took more than " + std::to_string(timeouts_.commandMs / 1000) + " s";
  }
  if (waiting_ == Wait::Output) return "the client takes nothing in";
  if (waiting_ != Wait::Input) return {};
  return "nothing came for " + std::to_string(timeouts_.transferMs / 1000) +
         " s in the middle of an exchange";
}

void Link::watchClocks(std::shared_ptr<void> owner) {
  // One timer a connection, set again only when it fires: a read or a send costs the
  // clock no more than a time stamp.
  watch_.expires_at(nextLook(Clock::now()));
  watch_.async_wait([this, owner = std::move(owner)](const std::error_code& error) mutable {
    if (closed_) return;
    // Cancelled: a deadline has come nearer, and the watch goes on from it.
    std::string late = error ? std::string() : overdue(Clock::now());
    if (late.empty()) {
      watchClocks(std::move(owner));
    } else {
      fail(std::move(late));
    }
  });
}

void Link::fail(std::string reason) {
  if (!failure_.empty() || closed_) return;
  failure_ = std::move(reason);
  std::error_code ignored;
  socket_.close(ignored);  // what waits on it ends, and the descriptor is free at once
  pause_.cancel();
}

void Link::close() {
  closed_ = true;
  std::error_code ignored;
  socket_.close(ignored);
  watch_.cancel();
  pause_.cancel();
  if (block_) recording_->end(std::move(*block_));
  block_.reset();
}

}  // namespace broker
