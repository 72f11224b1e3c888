#include "tests/support/scripted_broker.h"

#include <cstdio>

#include "tests/support/loopback.h"
#include "tests/support/shared_machine.h"

namespace {

constexpr int kPort = 4001;
constexpr int kStepTimeoutMs = 5000;
// Long enough for a broker that a test has just stopped to let go of the port.
constexpr int kPortPatienceMs = 500;

}  // namespace

std::string pattern(std::size_t n, int seed) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    auto c = static_cast<unsigned char>((i * 7 + static_cast<std::size_t>(seed) * 13) & 0xFF);
    out += static_cast<char>(c >= 0xEE || c == '\n' || c == '\r' ? 0x11 : c);
  }
  return out;
}

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

ScriptedBroker::ScriptedBroker() : listener_(loopback::listenOn(kPort, kPortPatienceMs)) {}

std::string ScriptedBroker::unavailable() const {
  return listener_ >= 0 ? "" : shared_machine::kPortTaken;
}

ScriptedBroker::~ScriptedBroker() {
  if (thread_.joinable()) finish();
  loopback::closeSocket(connection_);
  loopback::closeSocket(listener_);
}

void ScriptedBroker::run() {
  thread_ = std::thread([this] { play(); });
}

void ScriptedBroker::fail(const std::string& what) {
  if (failure_.empty()) failure_ = what;
}

bool ScriptedBroker::acceptConnection() {
  loopback::closeSocket(connection_);
  connection_ = loopback::acceptWithin(listener_, kStepTimeoutMs);
  if (connection_ < 0) fail("no connection came");
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
        const std::string got =
            loopback::receiveUpTo(connection_, step.bytes.size(), kStepTimeoutMs);
        received_ += got;
        if (got != step.bytes) {
          fail("expected \"" + visible(step.bytes) + "\", got \"" + visible(got) + "\"");
          loopback::closeSocket(connection_, true);
          return;
        }
        break;
      }
      case Step::Answer:
        loopback::sendAll(connection_, step.bytes);
        break;
      case Step::Close:
        loopback::closeSocket(connection_);
        break;
    }
  }
  // After the script: end our side, so that a client still waiting for an answer sees
  // the connection close, then record whatever it still sends until finish().
  if (connection_ < 0) return;
  loopback::shutdownWrite(connection_);
  for (;;) {
    const bool last = stopping_;
    if (loopback::readable(connection_, last ? 0 : 20)) {
      const std::string got = loopback::receiveSome(connection_, 0);
      if (got.empty()) break;
      extra_ += got;
    } else if (last) {
      break;
    }
  }
  received_ += extra_;
}

std::string ScriptedBroker::finish() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  loopback::closeSocket(connection_);
  if (failure_.empty() && !extra_.empty())
    fail("unexpected bytes after the script: \"" + visible(extra_) + "\"");
  return failure_;
}
