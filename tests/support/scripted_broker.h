// A broker that follows a script, on the far side of the library's in-memory sockets
// (memory_sockets.h): it expects exact bytes, answers from the script and records
// everything it receives, so that a test reads like a wire transcript. It plays inside the
// client's own calls: an answer goes out as soon as the bytes the script expects before it
// have come, and a client that waits for an answer the script does not give fails the
// script at once instead of hanging. It serves every connection from its construction to
// its destruction; write the script before the client connects.
#ifndef TESTS_SUPPORT_SCRIPTED_BROKER_H
#define TESTS_SUPPORT_SCRIPTED_BROKER_H

#include <string>
#include <vector>

#include "tests/support/memory_sockets.h"
#include "tests/support/wire_bytes.h"

class ScriptedBroker : public memory_sockets::Peer {
 public:
  ScriptedBroker();
  ~ScriptedBroker() override;
  ScriptedBroker(const ScriptedBroker&) = delete;
  ScriptedBroker& operator=(const ScriptedBroker&) = delete;

  // Script steps, in order. The first step on a connection accepts it implicitly.
  ScriptedBroker& accept() { return add(Step::Accept); }  // take the next connection
  // Exactly these bytes, nothing else.
  ScriptedBroker& expect(const std::string& bytes) { return add(Step::Expect, bytes); }
  ScriptedBroker& expectToken(const std::string& text) { return expect(text + '\0'); }
  // One answer of these bytes.
  ScriptedBroker& answer(const std::string& bytes) { return add(Step::Answer, bytes); }
  ScriptedBroker& ack() { return answer(kAck); }
  ScriptedBroker& close() { return add(Step::Close); }  // orderly close of the connection

  // Convenience: expect token `text`, then answer the strict acknowledgement.
  ScriptedBroker& token(const std::string& text) { return expectToken(text).ack(); }
  // Expect the request token "+\0" and answer `text` with its NUL.
  ScriptedBroker& request(const std::string& text) {
    return expect(kAck).answer(text + '\0');
  }

  // Call once the client's operations have returned: an empty text when every expectation
  // held and nothing more came after the script, else what went wrong.
  std::string finish();
  // Every byte received on the script's connections, in order, including bytes after it.
  const std::string& received() const { return received_; }

 private:
  struct Step {
    enum Kind { Accept, Expect, Answer, Close } kind;
    std::string bytes;
  };
  ScriptedBroker& add(Step::Kind kind, const std::string& bytes = {}) {
    steps_.push_back({kind, bytes});
    return *this;
  }
  bool accept(int connection) override;
  std::size_t received(int connection, const std::string& bytes) override;
  void waiting(int connection, std::size_t capacity) override;
  // Plays the script as far as the bytes received allow.
  void play();
  // The client waits where the script does not answer: the script fails and ends.
  void stuck();
  void fail(const std::string& what);

  std::vector<Step> steps_;
  std::size_t next_ = 0;
  int connection_ = 0;     // the connection the script is on; 0 between connections
  std::string pending_;    // received and not yet expected
  bool ended_ = false;     // the script has run to its end
  bool abandoned_ = false; // an expectation failed
  std::string received_;
  std::string extra_;
  std::string failure_;
};

#endif  // TESTS_SUPPORT_SCRIPTED_BROKER_H
