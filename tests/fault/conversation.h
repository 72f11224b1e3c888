// A conversation between the client and a broker, step by step as the client makes its
// socket calls, and what becomes of it when the broker fails at one of those steps.
//
// Each step is one client send or one client receive. A receive names the broker's
// correct answer, how much the client takes in one receive and whether it insists on a
// leading "+". Steps carry what the client does to tdoData there and where it goes when
// the step fails (most operations stop; some go on, and command 4 connects again).
#ifndef TESTS_FAULT_CONVERSATION_H
#define TESTS_FAULT_CONVERSATION_H

#include <optional>
#include <string>
#include <vector>

namespace fault {

constexpr int kEnd = -1;
constexpr int kNext = -2;
constexpr int kNoAppend = -1;
constexpr int kAppendAll = -2;

struct Step {
  bool clientSends = false;
  std::string bytes;           // sent by the client, or the broker's correct answer
  int capacity = 0;            // a receive takes at most this many bytes
  bool checksPlus = false;     // a receive whose first byte is not "+" fails
  std::string failId;          // the report of a failure here; empty when none is made
  bool newConnection = false;  // the client opens a new connection just before
  bool clearsTdo = false;      // tdoData is emptied when the client comes to this step
  int appends = kNoAppend;     // kAppendAll, or that many bytes of the zeroed buffer
  int onSuccess = kNext;
  int onFailure = kEnd;
};

// Builds the steps of a conversation; the modifiers apply to the step added last.
class Conversation {
 public:
  Conversation& sends(const std::string& bytes, const std::string& failId);
  Conversation& receives(const std::string& answer, int capacity, bool checksPlus,
                         const std::string& failId);
  // The usual answers: a strict acknowledgement ("+" and NUL, at most 2 bytes, "+"
  // required) and a loose reply (anything, at most 1024 bytes).
  Conversation& strict(const std::string& failId) {
    return receives(std::string("+\0", 2), 2, true, failId);
  }
  Conversation& loose(const std::string& answer, const std::string& failId) {
    return receives(answer, 1024, false, failId);
  }
  Conversation& token(const std::string& text, const std::string& failId) {
    return sends(text + '\0', failId);
  }

  Conversation& onNewConnection();
  Conversation& clearingTdo();
  Conversation& appending(int mode);
  Conversation& endingHere();  // a success here ends the conversation

  int size() const { return static_cast<int>(steps_.size()); }
  // Every step from `from` on (up to the current end) continues at `target` on failure.
  void failuresFrom(int from, int target);
  void setFailureTarget(int step, int target) {
    steps_[static_cast<std::size_t>(step)].onFailure = target;
  }
  void append(const Conversation& other);

  const std::vector<Step>& steps() const { return steps_; }

 private:
  std::vector<Step> steps_;
};

// The ways a broker fails at one step. At a client send only Closed and Reset apply; the
// others replace the correct answer, after which the broker closes the connection.
enum class FailureKind { Closed, Reset, WrongFirstByte, EmptyText, Short, Full };
const char* nameOf(FailureKind kind);

// The broker's answer in place of `correct` for the answer-replacing kinds; nothing when
// the kind does not apply there or would not differ from the correct answer.
std::optional<std::string> failedAnswer(FailureKind kind, const Step& step);

struct Injection {
  int step;  // index into the conversation's steps
  FailureKind kind;
};

// One call of the client as the conversation goes, and the broker's part in it.
struct Visit {
  int step;
  enum Action { Nothing, Answer, AnswerThenClose, Close, Reset } action = Nothing;
  std::string answer;        // for Answer and AnswerThenClose
  bool callSucceeds = true;  // the system call moves at least one byte
};

struct Outcome {
  std::vector<Visit> path;
  bool failed = false;
  int code = 0;                      // -1001 or -1002 of the last failed step
  std::vector<std::string> failIds;  // reports of failures, in order
  std::string lastAnswer;            // what the last successful receive took
  std::string tdo;                   // tdoData afterwards
  bool socketReset = false;          // the client's socket has seen a reset at the end
};

// The steps the client takes when every answer is correct.
std::vector<int> successPath(const std::vector<Step>& steps);
// What the client does, and what comes of it, with the broker failing as `injection`
// says (or never).
Outcome simulate(const std::vector<Step>& steps, std::optional<Injection> injection);

}  // namespace fault

#endif  // TESTS_FAULT_CONVERSATION_H
