// A broker that follows a script: an in-process server on 127.0.0.1:4001 that expects
// exact bytes, answers from the script and records everything it receives, so that a
// test reads like a wire transcript. One ScriptedBroker listens at a time. Beside it, the
// byte helpers every wire test uses.
#ifndef TESTS_SUPPORT_SCRIPTED_BROKER_H
#define TESTS_SUPPORT_SCRIPTED_BROKER_H

#include <atomic>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

// The strict acknowledgement, which is also the request token: "+" and NUL.
inline const std::string kAck("+\0", 2);

inline std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}
// Recognisable data, `n` bytes long, never 0xEE, 0xFF or a line break.
std::string pattern(std::size_t n, int seed);
inline const unsigned char* data(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}
// Text filling a whole 1024-byte answer, so that the stream cannot merge it with an answer
// that follows without a request in between.
inline std::string padded(const std::string& text) {
  return text + std::string(1024 - text.size(), '\0');
}
// NUL-terminated tokens, as the conversation carries them.
inline std::string tokens(std::initializer_list<std::string> texts) {
  std::string out;
  for (const std::string& text : texts) (out += text) += '\0';
  return out;
}

class ScriptedBroker {
 public:
  // Listens at once, so that a client may connect before run() is called.
  ScriptedBroker();
  ~ScriptedBroker();
  ScriptedBroker(const ScriptedBroker&) = delete;
  ScriptedBroker& operator=(const ScriptedBroker&) = delete;

  // Script steps, in order. The first step on a connection accepts it implicitly.
  ScriptedBroker& accept() { return add(Step::Accept); }  // take the next connection
  // Exactly these bytes, nothing else.
  ScriptedBroker& expect(const std::string& bytes) { return add(Step::Expect, bytes); }
  ScriptedBroker& expectToken(const std::string& text) { return expect(text + '\0'); }
  // One send of these bytes.
  ScriptedBroker& answer(const std::string& bytes) { return add(Step::Answer, bytes); }
  ScriptedBroker& ack() { return answer(kAck); }
  ScriptedBroker& close() { return add(Step::Close); }  // orderly close of the connection

  // Convenience: expect token `text`, then answer the strict acknowledgement.
  ScriptedBroker& token(const std::string& text) { return expectToken(text).ack(); }
  // Expect the request token "+\0" and answer `text` with its NUL.
  ScriptedBroker& request(const std::string& text) {
    return expect(kAck).answer(text + '\0');
  }

  // Plays the script on a thread of its own.
  void run();
  // Call once the client's operation has returned: waits for the script to end, takes
  // what the client sent after it, closes, and returns an empty text when every
  // expectation held and nothing more came, else what went wrong.
  std::string finish();
  // Every byte received, all connections in order, including bytes after the script.
  const std::string& received() const { return received_; }
  // Empty while it listens; else why not (another program holds the port), for
  // SKIP_IF_TAKEN.
  std::string unavailable() const;

 private:
  struct Step {
    enum Kind { Accept, Expect, Answer, Close } kind;
    std::string bytes;
  };
  ScriptedBroker& add(Step::Kind kind, const std::string& bytes = {}) {
    steps_.push_back({kind, bytes});
    return *this;
  }
  void play();
  bool acceptConnection();
  void fail(const std::string& what);

  int listener_ = -1;
  int connection_ = -1;
  std::vector<Step> steps_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::string received_;
  std::string extra_;
  std::string failure_;
};

// Printable form of bytes for failure messages: NUL as \0, other controls as \xNN.
std::string visible(const std::string& bytes);

#endif  // TESTS_SUPPORT_SCRIPTED_BROKER_H
