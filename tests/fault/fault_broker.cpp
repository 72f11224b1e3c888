#include "tests/fault/fault_broker.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "platform/socket_handles.h"
#include "platform/winsock.h"
#include "tests/support/loopback.h"

namespace fault {
namespace {

constexpr int kPort = 4001;
// Loopback delivers at once; this only bounds a wait that should never be needed.
constexpr int kWaitMs = 5000;

std::string printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes.substr(0, 48)) {
    char hex[8];
    std::snprintf(hex, sizeof hex, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
    out += hex;
  }
  if (bytes.size() > 48) out += "... (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

}  // namespace

FaultBroker::FaultBroker() : listener_(loopback::listenOn(kPort)) { installSocketHooks(this); }

FaultBroker::~FaultBroker() {
  installSocketHooks(nullptr);
  finish();
  loopback::closeSocket(listener_);
}

void FaultBroker::play(const std::vector<Step>& steps, const Outcome& outcome) {
  steps_ = &steps;
  outcome_ = &outcome;
  next_ = 0;
  mismatch_.clear();
}

std::string FaultBroker::finish() {
  if (outcome_ != nullptr && mismatch_.empty() && next_ != outcome_->path.size())
    mismatch("the client stopped after " + std::to_string(next_) + " of " +
             std::to_string(outcome_->path.size()) + " calls");
  closeConnection(false);
  for (int fd : clientSockets_)
    win::closesocket(socket_handles::current(static_cast<std::uint32_t>(fd)));
  clientSockets_.clear();
  outcome_ = nullptr;
  steps_ = nullptr;
  return mismatch_;
}

void FaultBroker::mismatch(const std::string& what) {
  if (mismatch_.empty()) mismatch_ = what;
  // Whatever the client does next, it must not wait for an answer that never comes.
  closeConnection(true);
}

void FaultBroker::closeConnection(bool abortive) {
  loopback::closeSocket(connection_, abortive);
}

bool FaultBroker::acceptConnection() {
  closeConnection(false);
  connection_ = loopback::acceptWithin(listener_, kWaitMs);
  return connection_ >= 0;
}

void FaultBroker::awaitReset(int fd) {
  pollfd p{fd, 0, 0};
  for (auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
       std::chrono::steady_clock::now() < deadline;) {
    p.revents = 0;
    if (::poll(&p, 1, 10) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0) return;
  }
}

const Visit* FaultBroker::expect(bool clientSends) {
  if (outcome_ == nullptr || !mismatch_.empty()) return nullptr;
  if (next_ >= outcome_->path.size()) {
    mismatch(std::string("the client made a ") + (clientSends ? "send" : "receive") +
             " after the last of its " + std::to_string(outcome_->path.size()) +
             " expected calls");
    return nullptr;
  }
  const Visit& visit = outcome_->path[next_];
  const Step& step = (*steps_)[static_cast<std::size_t>(visit.step)];
  if (step.clientSends != clientSends) {
    mismatch("call " + std::to_string(next_) + ": the client made a " +
             (clientSends ? "send" : "receive") + " where a " +
             (step.clientSends ? "send" : "receive") + " belongs");
    return nullptr;
  }
  return &visit;
}

void FaultBroker::beforeSend(int fd) {
  clientSockets_.insert(fd);
  const Visit* visit = expect(true);
  if (visit == nullptr) return;
  const Step& step = (*steps_)[static_cast<std::size_t>(visit->step)];
  if (step.newConnection && !acceptConnection()) {
    mismatch("no connection came for call " + std::to_string(next_));
    return;
  }
  if (visit->action == Visit::Close) closeConnection(false);
  if (visit->action == Visit::Reset) closeConnection(true);
  if (!visit->callSucceeds) awaitReset(fd);
}

void FaultBroker::afterSend(int /*fd*/, const void* data, ssize_t result) {
  const Visit* visit = expect(true);
  if (visit == nullptr) return;
  const Step& step = (*steps_)[static_cast<std::size_t>(visit->step)];
  const std::size_t call = next_++;
  if ((result > 0) != visit->callSucceeds) {
    mismatch("call " + std::to_string(call) + ": the send " +
             (result > 0 ? "succeeded" : "failed") + " against the expectation");
    return;
  }
  if (result <= 0) return;
  const std::string sent(static_cast<const char*>(data), static_cast<std::size_t>(result));
  if (sent != step.bytes) {
    mismatch("call " + std::to_string(call) + ": the client sent \"" + printable(sent) +
             "\" where \"" + printable(step.bytes) + "\" belongs");
    return;
  }
  if (connection_ < 0) return;
  // Take the bytes off the connection, so that a later close is orderly and the next
  // receive finds only what the broker answers.
  std::string got;
  while (got.size() < sent.size()) {
    pollfd p{connection_, POLLIN, 0};
    if (::poll(&p, 1, kWaitMs) <= 0) break;
    char chunk[4096];
    std::size_t want = std::min(sizeof chunk, sent.size() - got.size());
    ssize_t n = realRecv(connection_, chunk, want, 0);
    if (n <= 0) break;
    got.append(chunk, static_cast<std::size_t>(n));
  }
  if (got != sent)
    mismatch("call " + std::to_string(call) + ": the broker did not receive the send whole");
}

void FaultBroker::beforeRecv(int fd) {
  clientSockets_.insert(fd);
  const Visit* visit = expect(false);
  if (visit == nullptr) return;
  switch (visit->action) {
    case Visit::Nothing:
      break;
    case Visit::Answer:
    case Visit::AnswerThenClose:
      if (connection_ >= 0)
        realSend(connection_, visit->answer.data(), visit->answer.size(), MSG_NOSIGNAL);
      if (visit->action == Visit::AnswerThenClose) closeConnection(false);
      break;
    case Visit::Close:
      closeConnection(false);
      break;
    case Visit::Reset:
      closeConnection(true);
      break;
  }
}

void FaultBroker::afterRecv(int /*fd*/, ssize_t result) {
  const Visit* visit = expect(false);
  if (visit == nullptr) return;
  const std::size_t call = next_++;
  if ((result > 0) != visit->callSucceeds) {
    mismatch("call " + std::to_string(call) + ": the receive " +
             (result > 0 ? "succeeded" : "failed") + " against the expectation");
    return;
  }
  if (result > 0 && static_cast<std::size_t>(result) != visit->answer.size())
    mismatch("call " + std::to_string(call) + ": the receive took " + std::to_string(result) +
             " of the " + std::to_string(visit->answer.size()) + " bytes answered");
}

void FaultBroker::beforeShutdown(int fd) {
  if (outcome_ != nullptr && outcome_->socketReset) awaitReset(fd);
}

}  // namespace fault
