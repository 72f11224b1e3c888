#include "broker/link.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace broker {

Link::Link(int fd, int id, const Trace& trace, const std::atomic<bool>& stopping,
           Timeouts timeouts)
    : fd_(fd), id_(id), trace_(trace), stopping_(stopping), timeouts_(timeouts) {}

void Link::fill(bool betweenCommands) {
  if (begin_ > 0) {
    std::memmove(in_.data(), in_.data() + begin_, buffered());
    end_ -= begin_;
    begin_ = 0;
  }
  int waited = 0;
  for (;;) {
    if (stopping_) throw LinkClosed{"the broker is stopping", false};
    pollfd want{fd_, POLLIN, 0};
    const int ready = ::poll(&want, 1, timeouts_.pollMs);
    if (ready < 0 && errno != EINTR) throw LinkClosed{std::strerror(errno), false};
    if (ready > 0) break;
    waited += timeouts_.pollMs;
    if (!betweenCommands && waited >= timeouts_.transferMs) {
      throw LinkClosed{"nothing came for " + std::to_string(waited / 1000) +
                           " s in the middle of an exchange",
                       false};
    }
  }
  ssize_t got;
  do {
    got = ::recv(fd_, in_.data() + end_, in_.size() - end_, 0);
  } while (got < 0 && errno == EINTR);
  if (got == 0) {
    // Leaving between commands is how a client says goodbye; inside one it is a drop.
    throw LinkClosed{"the client closed the connection", betweenCommands && buffered() == 0};
  }
  if (got < 0) throw LinkClosed{std::strerror(errno), false};
  end_ += static_cast<std::size_t>(got);
}

std::string Link::readToken(std::string_view meaning, bool betweenCommands) {
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
      return token;
    }
    if (buffered() >= kMaxToken) {
      trace_.exchange(id_, Trace::Direction::Received, start, buffered(), meaning);
      throw LinkClosed{"a token without NUL within " + std::to_string(kMaxToken) + " bytes",
                       false};
    }
    // Once part of a token is here, the rest is due.
    fill(betweenCommands && buffered() == 0);
  }
}

void Link::readExact(std::uint8_t* out, std::size_t length, std::string_view meaning) {
  std::size_t done = 0;
  while (done < length) {
    if (buffered() == 0) fill(false);
    const std::size_t take = std::min(buffered(), length - done);
    std::memcpy(out + done, in_.data() + begin_, take);
    begin_ += take;
    done += take;
  }
  trace_.exchange(id_, Trace::Direction::Received, out, length, meaning);
}

void Link::readRequest(std::string_view meaning) {
  const std::string token = readToken(meaning);
  if (token != "+") {
    throw LinkClosed{
        "expected the request token, got " + describeBytes(token.data(), token.size()), false};
  }
}

void Link::send(const void* data, std::size_t length, std::string_view meaning) {
  trace_.exchange(id_, Trace::Direction::Sent, data, length, meaning);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < length) {
    pollfd want{fd_, POLLOUT, 0};
    const int ready = ::poll(&want, 1, timeouts_.transferMs);
    if (ready == 0) throw LinkClosed{"the client takes nothing in", false};
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw LinkClosed{std::strerror(errno), false};
    }
    const ssize_t sent = ::send(fd_, bytes + done, length - done, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw LinkClosed{std::strerror(errno), false};
    }
    done += static_cast<std::size_t>(sent);
  }
}

void Link::sendText(std::string_view text, std::string_view meaning) {
  std::string bytes(text);
  bytes += '\0';
  send(bytes.data(), bytes.size(), meaning);
}

void Link::acknowledge(std::string_view meaning) { send("+", 2, meaning); }

void Link::refuse(std::string_view meaning) { send("-", 2, meaning); }

}  // namespace broker
