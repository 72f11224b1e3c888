#include "tests/support/scripted_broker.h"

using memory_sockets::Hangup;

ScriptedBroker::ScriptedBroker() { memory_sockets::install(this); }

ScriptedBroker::~ScriptedBroker() {
  if (memory_sockets::installed() == this) memory_sockets::install(nullptr);
}

void ScriptedBroker::fail(const std::string& what) {
  if (failure_.empty()) failure_ = what;
}

// Every connection is taken, as the system's backlog takes it: a refused one would send
// the client looking for a broker to start. One the script does not take is never served.
bool ScriptedBroker::accept(int connection) {
  const bool takes = !abandoned_ && next_ < steps_.size() &&
                     (steps_[next_].kind == Step::Accept || connection_ == 0);
  if (!takes) return true;
  if (steps_[next_].kind == Step::Accept) ++next_;
  if (connection_ != 0) memory_sockets::hangUp(connection_, Hangup::Closed);
  connection_ = connection;
  pending_.clear();
  play();
  return true;
}

std::size_t ScriptedBroker::received(int connection, const std::string& bytes) {
  if (connection != connection_) return bytes.size();
  received_ += bytes;
  (ended_ ? extra_ : pending_) += bytes;
  play();
  return bytes.size();
}

void ScriptedBroker::waiting(int connection, std::size_t) {
  if (connection != connection_) {
    fail("the client waited on a connection the script never took");
    memory_sockets::hangUp(connection, Hangup::Closed);
    return;
  }
  stuck();
}

void ScriptedBroker::play() {
  while (!abandoned_ && connection_ != 0 && next_ < steps_.size()) {
    const Step& step = steps_[next_];
    if (step.kind == Step::Accept) return;
    if (step.kind == Step::Expect) {
      if (pending_.size() < step.bytes.size()) return;
      if (pending_.compare(0, step.bytes.size(), step.bytes) != 0) return stuck();
      pending_.erase(0, step.bytes.size());
    } else if (step.kind == Step::Answer) {
      memory_sockets::deliver(connection_, step.bytes);
    } else {
      memory_sockets::hangUp(connection_, Hangup::Closed);
      connection_ = 0;
    }
    ++next_;
  }
  // After the script: end our side, so that a client still waiting for an answer sees the
  // connection close, and keep whatever it still sends for finish().
  if (!abandoned_ && !ended_ && connection_ != 0 && next_ == steps_.size()) {
    ended_ = true;
    extra_ += pending_;
    memory_sockets::hangUp(connection_, Hangup::Ending);
  }
}

void ScriptedBroker::stuck() {
  if (abandoned_ || ended_ || next_ >= steps_.size()) return;
  const Step& step = steps_[next_];
  if (step.kind == Step::Expect) {
    fail("expected \"" + visible(step.bytes) + "\", got \"" +
         visible(pending_.substr(0, step.bytes.size())) + "\"");
  } else {
    fail("the client waited for an answer where the script takes a new connection");
  }
  abandoned_ = true;
  memory_sockets::hangUp(connection_, Hangup::Reset);
}

std::string ScriptedBroker::finish() {
  play();
  if (!abandoned_ && next_ < steps_.size()) {
    const Step& step = steps_[next_];
    if (step.kind == Step::Accept) fail("no connection came");
    if (step.kind == Step::Expect)
      fail("expected \"" + visible(step.bytes) + "\", got \"" + visible(pending_) + "\"");
  }
  if (failure_.empty() && !extra_.empty())
    fail("unexpected bytes after the script: \"" + visible(extra_) + "\"");
  return failure_;
}
