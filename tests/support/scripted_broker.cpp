#include "tests/support/scripted_broker.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr int kPort = 4001;
constexpr int kStepTimeoutMs = 5000;

// Waits up to `ms` for `fd` to become readable.
bool readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

}  // namespace

std::string visible(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == 0) {
      out += "\\0";
    } else if (c < 32 || c >= 127) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

ScriptedBroker::ScriptedBroker() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (std::chrono::steady_clock::now() > deadline)
      throw std::runtime_error("port 4001 stays busy");
    ::usleep(50 * 1000);
  }
  ::listen(listener_, 16);
}

ScriptedBroker::~ScriptedBroker() {
  if (thread_.joinable()) finish();
  if (connection_ >= 0) ::close(connection_);
  if (listener_ >= 0) ::close(listener_);
}

ScriptedBroker& ScriptedBroker::accept() {
  steps_.push_back({Step::Accept, {}, 0});
  return *this;
}
ScriptedBroker& ScriptedBroker::expect(const std::string& bytes) {
  steps_.push_back({Step::Expect, bytes, 0});
  return *this;
}
ScriptedBroker& ScriptedBroker::answer(const std::string& bytes) {
  steps_.push_back({Step::Answer, bytes, 0});
  return *this;
}
ScriptedBroker& ScriptedBroker::pause(int milliseconds) {
  steps_.push_back({Step::Pause, {}, milliseconds});
  return *this;
}
ScriptedBroker& ScriptedBroker::close() {
  steps_.push_back({Step::Close, {}, 0});
  return *this;
}
ScriptedBroker& ScriptedBroker::reset() {
  steps_.push_back({Step::Reset, {}, 0});
  return *this;
}

void ScriptedBroker::run() { thread_ = std::thread([this] { play(); }); }

void ScriptedBroker::fail(const std::string& what) {
  if (failure_.empty()) failure_ = what;
}

bool ScriptedBroker::acceptConnection() {
  if (connection_ >= 0) ::close(connection_);
  connection_ = -1;
  if (!readable(listener_, kStepTimeoutMs)) {
    fail("no connection came");
    return false;
  }
  connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  int on = 1;
  ::setsockopt(connection_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return connection_ >= 0;
}

void ScriptedBroker::play() {
  for (const Step& step : steps_) {
    if (step.kind != Step::Accept && connection_ < 0 && !acceptConnection()) return;
    switch (step.kind) {
      case Step::Accept:
        if (!acceptConnection()) return;
        break;
      case Step::Expect: {
        std::string got;
        while (got.size() < step.bytes.size()) {
          if (!readable(connection_, kStepTimeoutMs)) break;
          char chunk[4096];
          std::size_t want = step.bytes.size() - got.size();
          ssize_t n = ::recv(connection_, chunk, want < sizeof chunk ? want : sizeof chunk, 0);
          if (n <= 0) break;
          got.append(chunk, static_cast<std::size_t>(n));
        }
        received_ += got;
        if (got != step.bytes) {
          fail("expected \"" + visible(step.bytes) + "\", got \"" + visible(got) + "\"");
          ::shutdown(connection_, SHUT_RDWR);
          return;
        }
        break;
      }
      case Step::Answer:
        ::send(connection_, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL);
        break;
      case Step::Pause:
        ::usleep(static_cast<useconds_t>(step.milliseconds) * 1000);
        break;
      case Step::Close:
        ::close(connection_);
        connection_ = -1;
        break;
      case Step::Reset: {
        linger abortive{1, 0};
        ::setsockopt(connection_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        ::close(connection_);
        connection_ = -1;
        break;
      }
    }
  }
  // After the script: end our side, so that a client still waiting for an answer sees
  // the connection close, then record whatever it still sends until finish().
  if (connection_ < 0) return;
  ::shutdown(connection_, SHUT_WR);
  for (;;) {
    bool last = stopping_;
    if (readable(connection_, last ? 0 : 20)) {
      char chunk[4096];
      ssize_t n = ::recv(connection_, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      extra_.append(chunk, static_cast<std::size_t>(n));
    } else if (last) {
      break;
    }
  }
  received_ += extra_;
}

std::string ScriptedBroker::finish() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (connection_ >= 0) {
    ::close(connection_);
    connection_ = -1;
  }
  if (failure_.empty() && !extra_.empty())
    fail("unexpected bytes after the script: \"" + visible(extra_) + "\"");
  return failure_;
}
