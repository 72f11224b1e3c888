#include "broker/link.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace broker {

Link::Link(int fd, int epoll, void* owner, int id, const Trace& trace, Timeouts timeouts,
           const std::atomic<int>& conversations)
    : fd_(fd),
      epoll_(epoll),
      owner_(owner),
      id_(id),
      trace_(trace),
      timeouts_(timeouts),
      conversations_(conversations) {
  const timeval alone{0, kAloneWaitMs * 1000};
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &alone, sizeof alone);
}

Link::~Link() {
  if (fd_ >= 0) ::close(fd_);
}

void Link::Suspend::await_suspend(std::coroutine_handle<> waiter) noexcept {
  link.waiter_ = waiter;
  link.waiting_ = wait;
  if (wait != Wait::Time) link.since_ = Clock::now();
  if (wait == Wait::Input) link.watch(true, link.watchingOutput_);
  if (wait == Wait::Output) link.watch(link.watchingInput_, true);
}

void Link::Suspend::await_resume() const {
  const bool wasWaitingForInput = wait == Wait::Input;
  link.waiting_ = Wait::Nothing;
  link.waiter_ = {};
  if (!link.failure_.empty()) throw LinkClosed{link.failure_, false};
  if (wasWaitingForInput && link.ended_) {
    // Leaving between commands is how a client says goodbye; inside one it is a drop.
    throw LinkClosed{"the client closed the connection", link.mayWait_ && link.buffered() == 0};
  }
}

Link::Suspend Link::more(bool mayWait) {
  mayWait_ = mayWait;
  // Nothing more can come once the client has ended or the link has failed: the awaiter
  // then throws at once instead of waiting for an event that never comes.
  const bool over = ended_ || !failure_.empty();
  const bool came = !over && conversations_ == 1 && take(true);
  return Suspend{*this, Wait::Input, over || came || ended_};
}

void Link::resume() {
  if (waiter_) waiter_.resume();
}

void Link::watch(bool input, bool output) {
  if (fd_ < 0 || (input == watchingInput_ && output == watchingOutput_)) return;
  watchingInput_ = input;
  watchingOutput_ = output;
  epoll_event event{};
  event.events = (input ? EPOLLIN : 0u) | (output ? EPOLLOUT : 0u);
  event.data.ptr = owner_;
  ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd_, &event);
}

bool Link::take(bool wait) {
  if (begin_ == end_) {
    begin_ = end_ = 0;
  } else if (begin_ > 0 && end_ == in_.size()) {
    std::memmove(in_.data(), in_.data() + begin_, buffered());
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == in_.size()) {
    // Full while the conversation is busy elsewhere: the kernel keeps the rest until a
    // read wants it.
    watch(false, watchingOutput_);
    return false;
  }
  const ssize_t got =
      ::recv(fd_, in_.data() + end_, in_.size() - end_, wait ? 0 : MSG_DONTWAIT);
  if (got > 0) {
    end_ += static_cast<std::size_t>(got);
    return true;
  }
  if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    ended_ = true;
    watch(false, watchingOutput_);
  }
  return false;
}

void Link::receive() {
  if (fd_ < 0 || ended_) return;
  if ((take(false) || ended_) && waiting_ == Wait::Input) resume();
}

void Link::writable() {
  if (waiting_ != Wait::Output) return;
  watch(watchingInput_, false);
  resume();
}

void Link::fail(std::string reason) {
  if (!failure_.empty()) return;
  failure_ = std::move(reason);
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (waiting_ != Wait::Nothing) resume();
}

Clock::time_point Link::checkClocks(Clock::time_point now) {
  const auto patience = std::chrono::milliseconds(timeouts_.transferMs);
  switch (waiting_) {
    case Wait::Time:
      if (now < wakeAt_) return wakeAt_;
      resume();
      break;
    case Wait::Input:
      if (mayWait_) break;
      if (now - since_ < patience) return since_ + patience;
      fail("nothing came for " + std::to_string(timeouts_.transferMs / 1000) +
           " s in the middle of an exchange");
      break;
    case Wait::Output:
      if (now - since_ < patience) return since_ + patience;
      fail("the client takes nothing in");
      break;
    case Wait::Nothing:
      break;
  }
  return waiting_ == Wait::Time ? wakeAt_ : Clock::time_point::max();
}

Task<std::string> Link::readToken(std::string_view meaning, bool betweenCommands) {
  for (;;) {
    const auto* start = in_.data() + begin_;
    const void* nul = std::memchr(start, 0, buffered());
    if (nul) {
      const std::size_t length = static_cast<const std::uint8_t*>(nul) - start;
      if (!meaning.empty()) {
        trace_.exchange(id_, Trace::Direction::Received, start, length + 1, meaning);
      }
      std::string token(reinterpret_cast<const char*>(start), length);
      begin_ += length + 1;
      co_return token;
    }
    if (buffered() >= kMaxToken) {
      trace_.exchange(id_, Trace::Direction::Received, start, buffered(), meaning);
      throw LinkClosed{"a token without NUL within " + std::to_string(kMaxToken) + " bytes",
                       false};
    }
    // Once part of a token is here, the rest is due.
    co_await more(betweenCommands && buffered() == 0);
  }
}

Task<void> Link::readExact(std::uint8_t* out, std::size_t length, std::string_view meaning) {
  std::size_t done = 0;
  while (done < length) {
    if (buffered() == 0) co_await more(false);
    const std::size_t take = std::min(buffered(), length - done);
    std::memcpy(out + done, in_.data() + begin_, take);
    begin_ += take;
    done += take;
  }
  trace_.exchange(id_, Trace::Direction::Received, out, length, meaning);
}

Task<void> Link::readRequest(std::string_view meaning) {
  const std::string token = co_await readToken(meaning);
  if (token != "+") {
    throw LinkClosed{
        "expected the request token, got " + describeBytes(token.data(), token.size()), false};
  }
}

Task<void> Link::send(const void* data, std::size_t length, std::string_view meaning) {
  trace_.exchange(id_, Trace::Direction::Sent, data, length, meaning);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < length) {
    if (!failure_.empty()) throw LinkClosed{failure_, false};
    const ssize_t sent =
        ::send(fd_, bytes + done, length - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) {
      done += static_cast<std::size_t>(sent);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      co_await Suspend{*this, Wait::Output, false};
    } else if (errno != EINTR) {
      throw LinkClosed{std::strerror(errno), false};
    }
  }
}

Task<void> Link::sendText(std::string_view text, std::string_view meaning) {
  std::string bytes(text);
  bytes += '\0';
  co_await send(bytes.data(), bytes.size(), meaning);
}

Task<void> Link::acknowledge(std::string_view meaning) { return send("+", 2, meaning); }

Task<void> Link::refuse(std::string_view meaning) { return send("-", 2, meaning); }

Task<void> Link::pause(std::chrono::milliseconds delay) {
  wakeAt_ = Clock::now() + delay;
  co_await Suspend{*this, Wait::Time, false};
}

}  // namespace broker
